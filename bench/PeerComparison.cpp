// The same measurements for this library and for general-purpose logging libraries, in one run: a
// rejected call (from one thread, and from two threads at once: the time per call on each, the fastest of
// three rounds); an accepted call on the calling thread (median, 99th and 99.9th percentile while the
// library's worker is busy, and median and 99th percentile with two threads logging at once); and N
// messages end to end to a file and the console, until the library has written them all, from 1 and 2
// threads with the console in a file, and from 1 thread with the console on a pipe that another process
// drains. Each measurement runs in a child process of its own, so that its peak resident size is its own.
// The CPU time that the process spends off the calling threads (the library's worker) is given per
// message.
//
// Usage: bench_PeerComparison [messages, default 1000000] [only the libraries whose name starts so]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchmarkSupport.h"
#include "Peer.h"

namespace
{

using Clock = std::chrono::steady_clock;
constexpr int RejectedCallCount = 5000000;
constexpr int RejectedRounds = 3;
constexpr int TimedCallCount = 200000;
constexpr const char* Marker = "of the comparison";

// What one child process reports. Plain data: it travels through a pipe.
struct Figures
{
    double rejectedNanoseconds = 0;
    double rejectedTwoThreadsNanoseconds = 0;
    double acceptedMedian = 0;
    double acceptedP99 = 0;
    double acceptedP999 = 0;
    double acceptedTwoThreadsMedian = 0;
    double acceptedTwoThreadsP99 = 0;
    double messagesPerSecond = 0;
    double offCallerMicroseconds = 0;  // CPU per message off the calling threads
    double peakResidentMiB = 0;
    std::uint64_t fileLines = 0;
    std::uint64_t consoleLines = 0;
};

double Nanoseconds(Clock::time_point start, Clock::time_point end)
{
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double ThreadCpuSeconds()
{
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

double PeakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::uint64_t CountMarkedLines(std::istream& stream)
{
    std::uint64_t lines = 0;
    for (std::string line; std::getline(stream, line);)
    {
        lines += line.find(Marker) != std::string::npos ? 1 : 0;
    }
    return lines;
}

// Lines holding the message marker: files may carry headers of their own. Symbolic links (glog links
// the newest file) are skipped so that no file is counted twice.
std::uint64_t CountMessageLines(const std::filesystem::path& directory)
{
    std::uint64_t lines = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
    {
        if (entry.is_symlink() || !entry.is_regular_file())
        {
            continue;
        }
        std::ifstream stream(entry.path());
        lines += CountMarkedLines(stream);
    }
    return lines;
}

// Runs `measure` in a child process and returns what it reported.
Figures InChild(const std::function<Figures()>& measure)
{
    int channel[2];
    if (pipe(channel) != 0)
    {
        return {};
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
    {
        close(channel[0]);
        const Figures figures = measure();
        [[maybe_unused]] const auto written = write(channel[1], &figures, sizeof figures);
        _exit(0);
    }
    close(channel[1]);
    Figures figures{};
    [[maybe_unused]] const auto read = ::read(channel[0], &figures, sizeof figures);
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return figures;
}

// A process that reads the other end of a pipe until it is closed and reports the marked lines it saw.
class PipeReader
{
public:
    PipeReader()
    {
        int data[2];
        int result[2];
        if (pipe(data) != 0 || pipe(result) != 0)
        {
            throw std::runtime_error("cannot make pipes");
        }
        reader = fork();
        if (reader == 0)
        {
            close(data[1]);
            close(result[0]);
            std::uint64_t lines = 0;
            char buffer[65536];
            std::string carry;
            for (ssize_t count; (count = ::read(data[0], buffer, sizeof buffer)) > 0;)
            {
                carry.append(buffer, static_cast<std::size_t>(count));
                const auto lastNewline = carry.rfind('\n');
                if (lastNewline == std::string::npos)
                {
                    continue;
                }
                for (std::size_t at = 0;
                     (at = carry.find(Marker, at)) != std::string::npos && at < lastNewline; at += 1)
                {
                    ++lines;
                }
                carry.erase(0, lastNewline + 1);
            }
            [[maybe_unused]] const auto written = write(result[1], &lines, sizeof lines);
            _exit(0);
        }
        close(data[0]);
        close(result[1]);
        writeEnd = data[1];
        resultEnd = result[0];
    }

    int Descriptor() const { return writeEnd; }

    // Closes this process's end and waits for the reader's count.
    std::uint64_t Finish()
    {
        close(writeEnd);
        std::uint64_t lines = 0;
        [[maybe_unused]] const auto read = ::read(resultEnd, &lines, sizeof lines);
        close(resultEnd);
        waitpid(reader, nullptr, 0);
        return lines;
    }

private:
    pid_t reader = -1;
    int writeEnd = -1;
    int resultEnd = -1;
};

// The time per rejected call on each of `threads` threads calling at once.
double TimeRejectedCalls(ozr::bench::Peer& peer, int threads)
{
    const ozr::testing::TempDirectory scratch;
    const ozr::bench::OutputFile console(scratch / "console.txt");
    const ozr::bench::OutputRedirection standardOutput(console.Descriptor());
    const ozr::bench::OutputRedirection standardError(console.Descriptor(), STDERR_FILENO);
    peer.Start(scratch.Path());
    std::vector<std::thread> callers;
    const auto start = Clock::now();
    for (int thread = 0; thread < threads; ++thread)
    {
        callers.emplace_back(
            [&peer]
            {
                for (int call = 0; call < RejectedCallCount; ++call)
                {
                    peer.LogRejected();
                }
            });
    }
    for (auto& caller : callers)
    {
        caller.join();
    }
    const auto end = Clock::now();
    peer.Stop();
    return Nanoseconds(start, end) / RejectedCallCount;
}

// The fastest of RejectedRounds rounds: a round takes a few milliseconds for the fastest libraries, so
// one preemption on a shared machine can double a single round.
double FastestRejectedCalls(ozr::bench::Peer& peer, int threads)
{
    double fastest = TimeRejectedCalls(peer, threads);
    for (int round = 1; round < RejectedRounds; ++round)
    {
        fastest = std::min(fastest, TimeRejectedCalls(peer, threads));
    }
    return fastest;
}

// The time of each accepted call on `threads` threads logging at once, all samples together.
std::vector<double> TimeAcceptedCalls(ozr::bench::Peer& peer, int threads)
{
    const ozr::testing::TempDirectory scratch;
    const ozr::bench::OutputFile console(scratch / "console.txt");
    const ozr::bench::OutputRedirection standardOutput(console.Descriptor());
    const ozr::bench::OutputRedirection standardError(console.Descriptor(), STDERR_FILENO);
    std::vector<std::vector<double>> samples(static_cast<std::size_t>(threads));
    peer.Start(scratch.Path());
    std::vector<std::thread> callers;
    for (auto& own : samples)
    {
        callers.emplace_back(
            [&peer, &own, threads]
            {
                own.reserve(TimedCallCount);
                for (int call = 0; call < TimedCallCount / threads; ++call)
                {
                    const auto start = Clock::now();
                    peer.LogAccepted(call);
                    own.push_back(Nanoseconds(start, Clock::now()));
                }
            });
    }
    for (auto& caller : callers)
    {
        caller.join();
    }
    peer.Stop();
    std::vector<double> all;
    for (const auto& own : samples)
    {
        all.insert(all.end(), own.begin(), own.end());
    }
    return all;
}

Figures TimeAcceptedCalls(ozr::bench::Peer& peer)
{
    Figures figures;
    std::vector<double> one = TimeAcceptedCalls(peer, 1);
    figures.acceptedMedian = ozr::bench::Percentile(one, 0.5);
    figures.acceptedP99 = ozr::bench::Percentile(one, 0.99);
    figures.acceptedP999 = ozr::bench::Percentile(one, 0.999);
    std::vector<double> two = TimeAcceptedCalls(peer, 2);
    figures.acceptedTwoThreadsMedian = ozr::bench::Percentile(two, 0.5);
    figures.acceptedTwoThreadsP99 = ozr::bench::Percentile(two, 0.99);
    return figures;
}

// N messages from `threadCount` threads, standard output and standard error on `console`, timed until
// Stop returns.
Figures TimeEndToEnd(ozr::bench::Peer& peer, const std::filesystem::path& logDirectory, int console,
                     int messages, int threadCount)
{
    std::atomic<double> callerCpuSeconds{0};
    const auto logShare = [&](int first, int count)
    {
        const double cpuBefore = ThreadCpuSeconds();
        for (int index = first; index < first + count; ++index)
        {
            peer.LogAccepted(index);
        }
        const double used = ThreadCpuSeconds() - cpuBefore;
        for (double seen = callerCpuSeconds.load();
             !callerCpuSeconds.compare_exchange_weak(seen, seen + used);)
        {
        }
    };
    Figures figures;
    {
        const ozr::bench::OutputRedirection standardOutput(console);
        const ozr::bench::OutputRedirection standardError(console, STDERR_FILENO);
        peer.Start(logDirectory);
        const double cpuBefore = ProcessCpuSeconds();
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread)
        {
            const int share = messages / threadCount;
            threads.emplace_back(logShare, thread * share,
                                 thread + 1 == threadCount ? messages - thread * share : share);
        }
        for (auto& thread : threads)
        {
            thread.join();
        }
        peer.Stop();
        const auto end = Clock::now();
        figures.messagesPerSecond = messages / (Nanoseconds(start, end) * 1e-9);
        figures.offCallerMicroseconds = (ProcessCpuSeconds() - cpuBefore - callerCpuSeconds) * 1e6 / messages;
    }
    figures.peakResidentMiB = PeakResidentMiB();
    figures.fileLines = CountMessageLines(logDirectory);
    return figures;
}

Figures EndToEndWithConsoleInAFile(ozr::bench::Peer& peer, int messages, int threadCount)
{
    const ozr::testing::TempDirectory scratch;
    std::filesystem::create_directories(scratch / "logs");
    Figures figures;
    {
        const ozr::bench::OutputFile console(scratch / "console.txt");
        figures = TimeEndToEnd(peer, scratch / "logs", console.Descriptor(), messages, threadCount);
    }
    std::ifstream console(scratch / "console.txt");
    figures.consoleLines = CountMarkedLines(console);
    return figures;
}

Figures EndToEndWithConsoleOnAPipe(ozr::bench::Peer& peer, int messages)
{
    const ozr::testing::TempDirectory scratch;
    std::filesystem::create_directories(scratch / "logs");
    PipeReader reader;
    Figures figures = TimeEndToEnd(peer, scratch / "logs", reader.Descriptor(), messages, 1);
    figures.consoleLines = reader.Finish();
    return figures;
}

void PrintRow(const char* name, const char* workload, const Figures& figures, int messages)
{
    const auto expected = static_cast<std::uint64_t>(messages);
    std::printf("%-28s %-16s %12.0f %9.2f us %8.1f MiB %9llu %9llu%s\n", name, workload,
                figures.messagesPerSecond, figures.offCallerMicroseconds, figures.peakResidentMiB,
                static_cast<unsigned long long>(figures.fileLines),
                static_cast<unsigned long long>(figures.consoleLines),
                figures.fileLines == expected && figures.consoleLines == expected ? "" : " (MISMATCH)");
}

}  // namespace

int main(int argc, char* argv[])
{
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000000;
    std::vector<std::unique_ptr<ozr::bench::Peer>> peers;
    peers.push_back(ozr::bench::MakeOstrelPeer());
    peers.push_back(ozr::bench::MakeOstrelByNamePeer());
    peers.push_back(ozr::bench::MakeSpdlogPeer());
    peers.push_back(ozr::bench::MakeSpdlogSyncPeer());
    peers.push_back(ozr::bench::MakeGlogPeer());
    peers.push_back(ozr::bench::MakeBoostLogPeer());
#if defined(OZR_QUILL_PEER)
    peers.push_back(ozr::bench::MakeQuillPeer());
#endif
    if (argc > 2)
    {
        const std::string prefix = argv[2];
        peers.erase(std::remove_if(peers.begin(), peers.end(),
                                   [&prefix](const auto& peer)
                                   { return std::string(peer->Name()).rfind(prefix, 0) != 0; }),
                    peers.end());
    }

    std::printf("%-28s %12s %12s %14s %10s %10s %14s %10s\n", "library", "rejected ns", "2 threads",
                "accepted p50", "p99", "p99.9", "2 threads p50", "p99");
    for (const auto& peer : peers)
    {
        const Figures rejected = InChild(
            [&]
            {
                Figures figures;
                figures.rejectedNanoseconds = FastestRejectedCalls(*peer, 1);
                figures.rejectedTwoThreadsNanoseconds = FastestRejectedCalls(*peer, 2);
                return figures;
            });
        const Figures accepted = InChild([&] { return TimeAcceptedCalls(*peer); });
        std::printf("%-28s %12.1f %12.1f %11.0f ns %7.0f ns %7.0f ns %11.0f ns %7.0f ns\n", peer->Name(),
                    rejected.rejectedNanoseconds, rejected.rejectedTwoThreadsNanoseconds,
                    accepted.acceptedMedian, accepted.acceptedP99, accepted.acceptedP999,
                    accepted.acceptedTwoThreadsMedian, accepted.acceptedTwoThreadsP99);
        std::fflush(stdout);
    }
    std::printf("\n%d messages end to end\n%-28s %-16s %12s %12s %12s %9s %9s\n", messages, "library",
                "workload", "messages/s", "CPU off caller", "peak RSS", "file", "console");
    for (const auto& peer : peers)
    {
        PrintRow(peer->Name(), "1 thread, file",
                 InChild([&] { return EndToEndWithConsoleInAFile(*peer, messages, 1); }), messages);
        PrintRow(peer->Name(), "2 threads, file",
                 InChild([&] { return EndToEndWithConsoleInAFile(*peer, messages, 2); }), messages);
        PrintRow(peer->Name(), "1 thread, pipe",
                 InChild([&] { return EndToEndWithConsoleOnAPipe(*peer, messages); }), messages);
        std::fflush(stdout);
    }
    return 0;
}
