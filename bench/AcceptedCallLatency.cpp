// Cost of an accepted ToLog on the calling thread, every call timed on its own with the steady clock:
// once in a stream of calls (the worker is busy writing) and once with a pause before every call (the
// worker sleeps and the call must wake it). Standard output is redirected to a file in a scratch
// directory while the library writes; the results go to the real standard output. Then the stream of
// calls again from 1, 2, 4 and 8 threads at once (4 and 8 oversubscribe a 2-core machine: a sample then
// includes the time the thread waited for a core).
//
// Usage: bench_AcceptedCallLatency [stream calls, default 200000] [woken calls, default 4000]
//                                  [calls per thread, default 50000]

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BenchmarkSupport.h"

namespace
{

using Clock = std::chrono::steady_clock;
const char* const Zone = "Latency";
const char* const QuietZone = "LatencyQuiet";
constexpr auto WokenPause = std::chrono::microseconds(500);

double ElapsedNanoseconds(Clock::time_point start, Clock::time_point end)
{
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
}

// Times `calls` calls into `zone`, sleeping `pause` before each one.
std::vector<double> TimeCalls(int calls, std::chrono::microseconds pause, const char* zone = Zone)
{
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(calls));
    for (int call = 0; call < calls; ++call)
    {
        if (pause.count() > 0)
        {
            std::this_thread::sleep_for(pause);
        }
        const auto start = Clock::now();
        ozr::logging::ToLog(zone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1,
                            "Accepted message %d from %s", call, "the latency benchmark");
        samples.push_back(ElapsedNanoseconds(start, Clock::now()));
    }
    return samples;
}

// Times `callsPerThread` calls on each of `threads` threads logging at once; all samples together.
std::vector<double> TimeConcurrentCalls(int threads, int callsPerThread)
{
    std::vector<std::vector<double>> perThread(static_cast<std::size_t>(threads));
    std::vector<std::thread> callers;
    for (auto& samples : perThread)
    {
        callers.emplace_back([&samples, callsPerThread] { samples = TimeCalls(callsPerThread, {}); });
    }
    std::vector<double> all;
    for (std::size_t index = 0; index < callers.size(); ++index)
    {
        callers[index].join();
        all.insert(all.end(), perThread[index].begin(), perThread[index].end());
    }
    return all;
}

// The cost of reading the clock twice, included in every sample above.
std::vector<double> TimeEmptyRegions(int count)
{
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int region = 0; region < count; ++region)
    {
        const auto start = Clock::now();
        samples.push_back(ElapsedNanoseconds(start, Clock::now()));
    }
    return samples;
}

// The floor of any hand-over that wakes a sleeping thread on this machine: one eventfd write that
// wakes a thread blocked reading it, after the same pause.
std::vector<double> TimeThreadWakeUps(int count, std::chrono::microseconds pause)
{
    const int descriptor = eventfd(0, EFD_CLOEXEC);
    std::thread sleeper(
        [descriptor, count]
        {
            std::uint64_t value = 0;
            for (int received = 0; received < count; received += static_cast<int>(value))
            {
                if (read(descriptor, &value, sizeof value) != sizeof value)
                {
                    break;
                }
            }
        });
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int wakeUp = 0; wakeUp < count; ++wakeUp)
    {
        std::this_thread::sleep_for(pause);
        const std::uint64_t one = 1;
        const auto start = Clock::now();
        const auto written = write(descriptor, &one, sizeof one);
        samples.push_back(ElapsedNanoseconds(start, Clock::now()));
        static_cast<void>(written);
    }
    sleeper.join();
    close(descriptor);
    return samples;
}

void Report(const char* name, std::vector<double> samples)
{
    std::printf(
        "%-34s calls %8zu  median %8.0f ns  p90 %8.0f ns  p99 %8.0f ns  p99.9 %8.0f ns  max %9.0f ns\n", name,
        samples.size(), ozr::bench::Percentile(samples, 0.5), ozr::bench::Percentile(samples, 0.9),
        ozr::bench::Percentile(samples, 0.99), ozr::bench::Percentile(samples, 0.999),
        ozr::bench::Percentile(samples, 1.0));
}

int Argument(int argc, char* argv[], int index, int fallback)
{
    return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int streamCalls = Argument(argc, argv, 1, 200000);
    const int wokenCalls = Argument(argc, argv, 2, 4000);
    const int callsPerThread = Argument(argc, argv, 3, 50000);
    std::vector<double> busy;
    std::vector<std::pair<int, std::vector<double>>> concurrent;
    std::vector<double> woken;
    std::vector<double> rejectedAfterPause;
    {
        ozr::bench::LoggingWorkspace workspace;
        ozr::bench::OutputFile standardOutput(workspace.Path() / "stdout.txt");
        ozr::bench::OutputRedirection redirection(standardOutput.Descriptor());

        workspace.AddZone(Zone, {});
        TimeCalls(1000, {});  // warm-up: the first calls make the builder and fault in the code
        busy = TimeCalls(streamCalls, {});
        workspace.Shutdown();  // drain, so that the next phase starts with an idle worker

        workspace.AddZone(Zone, {});
        workspace.AddZone(QuietZone, {"Error"});
        woken = TimeCalls(wokenCalls, WokenPause);
        rejectedAfterPause = TimeCalls(wokenCalls, WokenPause, QuietZone);
        workspace.Shutdown();

        for (int threads : {1, 2, 4, 8})
        {
            workspace.AddZone(Zone, {});
            concurrent.emplace_back(threads, TimeConcurrentCalls(threads, callsPerThread));
            workspace.Shutdown();
        }
    }
    std::printf("Accepted ToLog, cost on the calling thread (clock read overhead included):\n");
    Report("worker busy (stream of calls)", std::move(busy));
    Report("worker woken (500 us pause)", std::move(woken));
    std::printf("Accepted ToLog, stream of calls from several threads at once (2 cores):\n");
    for (auto& [threads, samples] : concurrent)
    {
        const std::string name = std::to_string(threads) + (threads == 1 ? " thread" : " threads");
        Report(name.c_str(), std::move(samples));
    }
    std::printf("References on this machine:\n");
    Report("rejected call after the pause", std::move(rejectedAfterPause));
    Report("eventfd write waking a thread", TimeThreadWakeUps(wokenCalls, WokenPause));
    Report("empty timed region", TimeEmptyRegions(100000));
    return 0;
}
