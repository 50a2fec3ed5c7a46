// The text line of the console and file appenders (both PrintMessage overloads) and the syslog
// datagram payload, each on its own, for a short and a long message text.

#include <ostream>
#include <streambuf>
#include <string>

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/appender/MessageFormatter.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

// Accepts and forgets every character, so that only the formatting is measured.
class DiscardingBuffer final : public std::streambuf
{
protected:
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
};

std::string TextOfLength(benchmark::State& state)
{
    return std::string(static_cast<std::size_t>(state.range(0)), 'x');
}

void PrintMessageToStream(benchmark::State& state)
{
    const ozr::logging::appender::MessageFormatter formatter;
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    DiscardingBuffer buffer;
    std::ostream stream(&buffer);
    for (auto _ : state)
    {
        formatter.PrintMessage(stream, *message);
    }
}

void PrintMessageToString(benchmark::State& state)
{
    const ozr::logging::appender::MessageFormatter formatter;
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(formatter.PrintMessage(*message));
    }
}

void FormatSyslogPayload(benchmark::State& state)
{
    boost::asio::io_context ioContext;
    const ozr::logging::ApplicationInfoProvider applicationInfo;
    ozr::logging::appender::syslog::Appender appender(ioContext, applicationInfo, {"127.0.0.1", 514});
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(appender.FormatLogMessage(*message));
    }
}

}  // namespace

BENCHMARK(PrintMessageToStream)->Arg(20)->Arg(200);
BENCHMARK(PrintMessageToString)->Arg(20)->Arg(200);
BENCHMARK(FormatSyslogPayload)->Arg(20)->Arg(200);

BENCHMARK_MAIN();
