// Cost of one message through the file appender: format, open, append, fstat, close, and the occasional
// rotation. The io_context runs on the benchmark thread, so the figure includes the strand hand-over.
#include <cstdint>
#include <limits>

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "TempDirectory.h"
#include "ozr/logging/appender/MessageFormatter.h"
#include "ozr/logging/appender/file/Appender.h"

namespace
{

using ozr::logging::appender::MessageFormatter;
using ozr::logging::appender::file::Appender;
using ozr::logging::appender::file::Config;

void LogToFile(benchmark::State& state, std::uint64_t maxFileSize)
{
    const ozr::testing::TempDirectory temporary;
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    const auto appender = std::make_shared<Appender>(ioContext, formatter,
                                                     Config{temporary.Path(), "Bench", maxFileSize, 6, true});
    const auto message = ozr::testing::MakeMessage("Connection 42 accepted from 127.0.0.1:50514, 3 pending");
    for (auto _ : state)
    {
        appender->Log(message);
        ioContext.restart();
        ioContext.poll();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FileAppenderWithoutRotation(benchmark::State& state)
{
    LogToFile(state, std::numeric_limits<std::uint64_t>::max());
}

// About one rotation per 9,000 messages of this length.
void BM_FileAppenderRotatingAt1MiB(benchmark::State& state)
{
    LogToFile(state, 1024 * 1024);
}

BENCHMARK(BM_FileAppenderWithoutRotation);
BENCHMARK(BM_FileAppenderRotatingAt1MiB);

}  // namespace
