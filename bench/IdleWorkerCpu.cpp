// What the worker costs while nothing is logged: the process's CPU time over ten idle seconds once a burst
// has been written, and over the quiet interval right after a single message (the worker polls before
// it sleeps).
//
// Usage: bench_IdleWorkerCpu
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "TempDirectory.h"
#include "ozr/logging/Log.h"

namespace
{

double ProcessCpuMicroseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// The CPU the process spends while the calling thread sleeps for `idle`.
double CpuWhileSleeping(std::chrono::milliseconds idle)
{
    const double before = ProcessCpuMicroseconds();
    std::this_thread::sleep_for(idle);
    return ProcessCpuMicroseconds() - before;
}

}  // namespace

int main()
{
    const ozr::testing::TempDirectory scratch;
    std::freopen("/dev/null", "w", stdout);
    ozr::logging::SetLoggingConfigDirectoryPath(scratch.Path().c_str());
    ozr::logging::SetLoggingLogsDirectoryPath(scratch.Path().c_str());
    ozr::logging::InitialiseLogging("Idle");
    for (int index = 0; index < 10000; ++index)
    {
        OZR_LOG_ERROR("Idle", "burst %d", index);
    }
    ozr::logging::FlushLogging();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double idle = CpuWhileSleeping(std::chrono::seconds(10));

    double afterOne = 0;
    constexpr int Singles = 20;
    for (int single = 0; single < Singles; ++single)
    {
        OZR_LOG_ERROR("Idle", "single %d", single);
        afterOne += CpuWhileSleeping(std::chrono::milliseconds(200));
    }
    ozr::logging::ShutdownLogging("Idle");
    std::fprintf(stderr, "process CPU over 10 idle seconds: %.2f ms\n", idle / 1000);
    std::fprintf(stderr, "process CPU in the 200 ms after a single message: %.0f us (mean of %d)\n",
                 afterOne / Singles, Singles);
    return 0;
}
