// How long log calls on other threads wait while the last ShutdownLogging drains a queue that cannot
// move: standard output is a pipe that nobody reads, so the worker blocks in its console write with
// thousands of messages still queued. While the shutdown waits, this thread makes rejected and accepted
// calls and times each; then the pipe is read again so that the drain can end.
//
// Usage: bench_ShutdownDrainStall [milliseconds of blocked drain, default 2000]

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "BenchmarkSupport.h"

namespace
{

using Clock = std::chrono::steady_clock;
const char* const Zone = "Drain";
const char* const QuietZone = "DrainQuiet";

struct Samples
{
    std::vector<double> rejected;
    std::vector<double> accepted;
};

double Nanoseconds(Clock::time_point start, Clock::time_point end)
{
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
}

// One rejected and one accepted call, each timed, until `stop` is set.
Samples TimeCallsUntil(const std::atomic<bool>& stop)
{
    Samples samples;
    for (int call = 0; !stop; ++call)
    {
        auto start = Clock::now();
        ozr::logging::ToLog(QuietZone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1, "rejected %d",
                            call);
        samples.rejected.push_back(Nanoseconds(start, Clock::now()));
        start = Clock::now();
        ozr::logging::ToLog(Zone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1, "during the drain %d",
                            call);
        samples.accepted.push_back(Nanoseconds(start, Clock::now()));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return samples;
}

void Report(const char* name, std::vector<double> samples)
{
    std::printf("%-28s calls %7zu  median %9.0f ns  p99 %9.0f ns  max %11.0f ns\n", name, samples.size(),
                ozr::bench::Percentile(samples, 0.5), ozr::bench::Percentile(samples, 0.99),
                ozr::bench::Percentile(samples, 1.0));
}

}  // namespace

int main(int argc, char* argv[])
{
    const auto blocked = std::chrono::milliseconds(argc > 1 ? std::atoi(argv[1]) : 2000);
    Samples samples;
    Clock::duration shutdownTook{};
    ozr::bench::LoggingWorkspace workspace;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
    {
        return 1;
    }
    std::atomic<bool> stop{false};
    // Reads nothing for `blocked`, then everything until the pipe's end.
    std::thread reader(
        [&]
        {
            std::this_thread::sleep_for(blocked);
            stop = true;
            char buffer[65536];
            while (read(pipeEnds[0], buffer, sizeof buffer) > 0)
            {
            }
        });
    {
        const ozr::bench::OutputRedirection redirection(pipeEnds[1]);
        close(pipeEnds[1]);
        workspace.AddZone(QuietZone, {"Error"});
        workspace.AddZone(Zone, {});
        for (int call = 0; call < 20000; ++call)  // far more than the pipe holds
        {
            ozr::logging::ToLog(Zone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1,
                                "queued before the shutdown %d", call);
        }
        std::thread caller([&] { samples = TimeCallsUntil(stop); });
        const auto start = Clock::now();
        workspace.Shutdown();  // the last zone: drains behind the blocked pipe
        shutdownTook = Clock::now() - start;
        caller.join();
    }
    reader.join();
    close(pipeEnds[0]);
    std::printf("Log calls on another thread while the last ShutdownLogging drained behind a blocked pipe\n");
    std::printf("(ShutdownLogging took %.0f ms):\n",
                std::chrono::duration<double, std::milli>(shutdownTook).count());
    Report("rejected call", std::move(samples.rejected));
    Report("accepted call", std::move(samples.accepted));
    return 0;
}
