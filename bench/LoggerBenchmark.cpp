#include <memory>

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "TempDirectory.h"
#include "ozr/logging/Logger.h"

namespace
{

using ozr::logging::ILogAppender;
using ozr::logging::Logger;
using ozr::logging::Message;

class DiscardingAppender : public ILogAppender
{
public:
    void Log(std::shared_ptr<Message const> message) override { benchmark::DoNotOptimize(message.get()); }
};

// The caller's side of a log call: queue one delivery task on a context that another thread would run.
// The context is drained outside the timing every batch so that the queue stays short.
void BM_LoggerLogQueues(benchmark::State& state)
{
    ozr::testing::TempDirectory temp;
    boost::asio::io_context context;
    auto logger = std::make_shared<Logger>(
        context, (temp / "Bench.Logging.ini").string(),
        std::forward_list<std::shared_ptr<ILogAppender>>{std::make_shared<DiscardingAppender>()});
    const auto message = ozr::testing::MakeMessage("benchmark");
    int queued = 0;
    for (auto _ : state)
    {
        logger->Log(message);
        if (++queued == 1024)
        {
            state.PauseTiming();
            context.restart();
            context.poll();
            queued = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_LoggerLogQueues);

// The verbosity test every log call makes, from one and from two threads at once.
void BM_LoggerGetVerbosity(benchmark::State& state)
{
    static ozr::testing::TempDirectory temp;
    static boost::asio::io_context context;
    static auto logger = std::make_shared<Logger>(context, (temp / "Bench.Logging.ini").string(),
                                                  std::forward_list<std::shared_ptr<ILogAppender>>{});
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(logger->GetVerbosity());
    }
}
BENCHMARK(BM_LoggerGetVerbosity)->Threads(1)->Threads(2);

}  // namespace
