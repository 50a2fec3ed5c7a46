#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;

// A name under the reserved ".invalid" domain with an empty label: the system's resolver refuses it at once
// without asking a name server, so the figures hold no network round trip.
const appender::syslog::Config g_unresolvable{"collector..invalid", 514};

void FormatLogMessage(benchmark::State& state, const char* zone)
{
    boost::asio::io_context ioContext;
    ApplicationInfoProvider applicationInfo;
    const auto appender =
        std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, g_unresolvable);
    const auto message =
        ozr::testing::MakeMessage("Channel opened on port 4711 after 3 attempts", Severity::Info, zone);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(appender->FormatLogMessage(*message));
    }
}
BENCHMARK_CAPTURE(FormatLogMessage, WithZone, "net");
BENCHMARK_CAPTURE(FormatLogMessage, WithoutZoneAsksApplicationName, nullptr);

// What the calling thread pays: the dispatch to the strand from a thread that does not run the context.
void LogOnCallingThreadUnresolvable(benchmark::State& state)
{
    boost::asio::io_context ioContext;
    ApplicationInfoProvider applicationInfo;
    const auto appender =
        std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, g_unresolvable);
    const auto message = ozr::testing::MakeMessage("Channel opened");
    std::size_t queued = 0;
    for (auto _ : state)
    {
        appender->Log(message);
        if (++queued % 4096 == 0)
        {
            state.PauseTiming();
            ioContext.restart();
            ioContext.run();
            state.ResumeTiming();
        }
    }
    ioContext.restart();
    ioContext.run();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogOnCallingThreadUnresolvable);

// What the worker pays per message, lookup wait included: a batch logged while the strand is idle, then
// run to completion. A batch of one shows the lookup's turnaround, larger ones the cost shared by a
// burst that waits for one lookup.
void WorkerPerMessageUnresolvable(benchmark::State& state)
{
    boost::asio::io_context ioContext;
    ApplicationInfoProvider applicationInfo;
    const auto appender =
        std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, g_unresolvable);
    const auto message = ozr::testing::MakeMessage("Channel opened");
    for (auto _ : state)
    {
        state.PauseTiming();
        for (int64_t number = 0; number < state.range(0); ++number)
        {
            appender->Log(message);
        }
        ioContext.restart();
        state.ResumeTiming();
        ioContext.run();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(WorkerPerMessageUnresolvable)->Arg(1)->Arg(100)->Arg(1000)->UseRealTime();

}  // namespace
