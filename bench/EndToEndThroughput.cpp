// End to end: N messages from 1 and 2 threads through the file and console appenders, timed from the
// first call until the last ShutdownLogging returns, then a count of the lines in every log file. And
// the memory that one queued message holds, measured with the worker stalled.
//
// Usage: bench_EndToEndThroughput [messages, default 1000000] [file|null: where standard output goes]

#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchmarkSupport.h"

namespace
{

using Clock = std::chrono::steady_clock;
const char* const Zone = "Throughput";
constexpr int QueuedMessageCount = 100000;

void LogMessages(int thread, int count)
{
    for (int index = 0; index < count; ++index)
    {
        ozr::logging::ToLog(Zone, ozr::logging::Severity::Info, __FILE__, __LINE__,
                            static_cast<unsigned long>(thread), "Message %d of thread %d", index, thread);
    }
}

double Seconds(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double>(end - start).count();
}

long PeakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void RunThroughput(int messages, int threadCount, bool standardOutputToFile)
{
    ozr::bench::LoggingWorkspace workspace;
    const auto standardOutputPath = standardOutputToFile ? workspace.Path() / "stdout.txt" : "/dev/null";
    Clock::time_point start;
    Clock::time_point callsDone;
    Clock::time_point end;
    {
        ozr::bench::OutputFile standardOutput(standardOutputPath);
        ozr::bench::OutputRedirection redirection(standardOutput.Descriptor());
        workspace.AddZone(Zone, {});
        start = Clock::now();
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread)
        {
            const int share = messages / threadCount + (thread == 0 ? messages % threadCount : 0);
            threads.emplace_back(LogMessages, thread + 1, share);
        }
        for (auto& thread : threads)
        {
            thread.join();
        }
        callsDone = Clock::now();
        workspace.Shutdown();
        end = Clock::now();
    }
    const auto fileLines = ozr::bench::CountLinesInDirectory(workspace.LogDirectory());
    std::printf(
        "%d thread(s), %d messages, stdout to %s: %.3f s to the last shutdown, %.0f messages/s; "
        "calls returned after %.3f s; lines in the log files %llu (%s)",
        threadCount, messages, standardOutputToFile ? "a file" : "/dev/null", Seconds(start, end),
        messages / Seconds(start, end), Seconds(start, callsDone), static_cast<unsigned long long>(fileLines),
        fileLines == static_cast<unsigned long long>(messages) ? "exact" : "MISMATCH");
    if (standardOutputToFile)
    {
        std::printf(", on stdout %llu",
                    static_cast<unsigned long long>(ozr::bench::CountLines(standardOutputPath)));
    }
    std::printf("; peak RSS so far %ld MiB\n", PeakResidentKiB() / 1024);
}

std::size_t HeapInUse()
{
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

int PipeBytesQueued(int descriptor)
{
    int bytes = 0;
    ioctl(descriptor, FIONREAD, &bytes);
    return bytes;
}

// Standard output goes to a pipe that nobody reads: once it is full the worker blocks in its console
// write, and every further message stays queued. Heap in use (the main arena: every record and task
// is allocated by this thread) and the peak resident size are read before and after queuing.
void MeasureQueuedMemory()
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
    {
        return;
    }
    ozr::bench::LoggingWorkspace workspace;
    auto redirection = std::make_optional<ozr::bench::OutputRedirection>(pipeEnds[1]);
    workspace.AddZone(Zone, {});
    LogMessages(0, 2000);  // more than the pipe holds
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int pipeBytes = PipeBytesQueued(pipeEnds[0]);
    const std::size_t heapBefore = HeapInUse();
    const long peakBefore = PeakResidentKiB();
    LogMessages(1, QueuedMessageCount);
    const std::size_t heapAfter = HeapInUse();
    const long peakAfter = PeakResidentKiB();

    std::thread drain(
        [reader = pipeEnds[0]]
        {
            std::vector<char> buffer(65536);
            while (read(reader, buffer.data(), buffer.size()) > 0)
            {
            }
        });
    workspace.Shutdown();
    redirection.reset();
    close(pipeEnds[1]);  // the last write end: the drain sees the end of the pipe
    drain.join();
    close(pipeEnds[0]);
    std::printf(
        "Memory per queued message (worker stalled, pipe holding %d bytes, %d messages queued): "
        "heap in use %.0f bytes, peak RSS %.0f bytes\n",
        pipeBytes, QueuedMessageCount, static_cast<double>(heapAfter - heapBefore) / QueuedMessageCount,
        static_cast<double>(peakAfter - peakBefore) * 1024 / QueuedMessageCount);
}

}  // namespace

int main(int argc, char* argv[])
{
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const bool standardOutputToFile = argc <= 2 || std::string(argv[2]) != "null";
    MeasureQueuedMemory();  // first, while the peak resident size is still low
    for (const int threads : {1, 2})
    {
        RunThroughput(messages, threads, standardOutputToFile);
    }
    return 0;
}
