// Cost of a ToLog call that the zone's verbosity rejects, from 1, 2, 4 and 8 threads at once, for a short
// and a long zone name. The allocs_per_call counter must stay 0: a rejected call allocates nothing. On a
// 2-core machine 4 and 8 threads are oversubscribed: the per-call real time then includes waiting for a
// core.

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "BenchmarkSupport.h"
#include "ozr/logging/DateTimeProvider.h"
#include "ozr/logging/MessageBuilder.h"

namespace
{

const char* const ShortZone = "Quiet";
// Long enough to defeat the small-string buffer many times over, short enough for a file name.
const std::string LongZone = "Quiet" + std::string(200, 'Z');

// Both zones keep only errors. Made on first use, shut down at exit.
ozr::bench::LoggingWorkspace& Workspace()
{
    static ozr::bench::LoggingWorkspace workspace;
    static const bool zonesAdded = []
    {
        workspace.AddZone(ShortZone, {"Error"});
        workspace.AddZone(LongZone.c_str(), {"Error"});
        return true;
    }();
    static_cast<void>(zonesAdded);
    return workspace;
}

void RejectedToLog(benchmark::State& state)
{
    Workspace();
    const char* zone = state.range(0) == 0 ? ShortZone : LongZone.c_str();
    const auto allocationsBefore = ozr::bench::ThreadAllocationCount();
    for (auto _ : state)
    {
        ozr::logging::ToLog(zone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1, "rejected %d", 42);
    }
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(ozr::bench::ThreadAllocationCount() - allocationsBefore),
                           benchmark::Counter::kAvgIterations);
    state.SetLabel(state.range(0) == 0 ? "zone of 5 characters" : "zone of 205 characters");
}

// The synchronisation a rejected call cannot avoid in this design: the registry's recursive mutex, a
// shared reference to the logger, and the logger's shared mutex taken for reading. Each thread uses
// the same objects, as callers of one zone do.
void SynchronisationFloor(benchmark::State& state)
{
    static std::recursive_mutex registryMutex;
    static std::shared_mutex loggerMutex;
    static const auto logger = std::make_shared<int>(4);
    for (auto _ : state)
    {
        std::shared_ptr<int> reference;
        {
            const std::lock_guard<std::recursive_mutex> registryLock(registryMutex);
            reference = logger;
        }
        const std::shared_lock<std::shared_mutex> loggerLock(loggerMutex);
        benchmark::DoNotOptimize(*reference);
    }
}

// Allocations of a call to `build`, on this thread.
template <typename Build>
double AllocationsOf(const Build& build)
{
    const auto allocationsBefore = ozr::bench::ThreadAllocationCount();
    build();
    return static_cast<double>(ozr::bench::ThreadAllocationCount() - allocationsBefore);
}

// Building one record inside the library. Records are recycled with their strings' buffers, so building
// one again costs no allocation; the first record of the process does allocate, which proves that the
// counter sees the library's allocations.
void BuildMessage(benchmark::State& state)
{
    const ozr::logging::DateTimeProvider clock;
    const ozr::logging::MessageBuilder builder(clock);
    const auto build = [&builder]
    {
        benchmark::DoNotOptimize(builder.BuildMessage(ShortZone, ozr::logging::Severity::Info, __FILE__,
                                                      __LINE__, 1, "built %d", 42));
    };
    static const double firstRecordAllocations = AllocationsOf(build);
    const auto allocationsBefore = ozr::bench::ThreadAllocationCount();
    for (auto _ : state)
    {
        build();
    }
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(ozr::bench::ThreadAllocationCount() - allocationsBefore),
                           benchmark::Counter::kAvgIterations);
    state.counters["first_record_allocs"] = firstRecordAllocations;
}

}  // namespace

BENCHMARK(RejectedToLog)->Arg(0)->Arg(1)->ThreadRange(1, 8)->UseRealTime();

BENCHMARK(SynchronisationFloor)->ThreadRange(1, 8)->UseRealTime();
BENCHMARK(BuildMessage);

BENCHMARK_MAIN();
