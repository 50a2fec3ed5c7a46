// The same three measurements for this library and for general-purpose logging libraries, in one run:
// a rejected call (from one thread, and from two threads at once: the time per call on each), an accepted
// call on the calling thread (median and 99th percentile while the library's worker is busy), and N messages
// end to end to a file (with the console output) until the library has written them all. Standard output and
// standard error go to files in a scratch directory.
//
// Usage: bench_PeerComparison [messages, default 1000000]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchmarkSupport.h"
#include "Peer.h"

namespace
{

using Clock = std::chrono::steady_clock;
constexpr int RejectedCallCount = 5000000;
constexpr int TimedCallCount = 200000;

struct PeerFigures
{
    double rejectedNanoseconds;
    double rejectedTwoThreadsNanoseconds;
    double acceptedMedian;
    double acceptedP99;
    double messagesPerSecond;
    std::uint64_t linesWritten;
};

double Nanoseconds(Clock::time_point start, Clock::time_point end)
{
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
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
        for (std::string line; std::getline(stream, line);)
        {
            lines += line.find("of the comparison") != std::string::npos ? 1 : 0;
        }
    }
    return lines;
}

// The time per rejected call on each of `threads` threads calling at once.
double TimeRejectedCalls(ozr::bench::Peer& peer, const std::filesystem::path& directory, int threads)
{
    peer.Start(directory);
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

void TimeAcceptedCalls(ozr::bench::Peer& peer, const std::filesystem::path& directory, PeerFigures& figures)
{
    std::vector<double> samples;
    samples.reserve(TimedCallCount);
    peer.Start(directory);
    for (int call = 0; call < TimedCallCount; ++call)
    {
        const auto start = Clock::now();
        peer.LogAccepted(call);
        samples.push_back(Nanoseconds(start, Clock::now()));
    }
    peer.Stop();
    figures.acceptedMedian = ozr::bench::Percentile(samples, 0.5);
    figures.acceptedP99 = ozr::bench::Percentile(samples, 0.99);
}

void TimeEndToEnd(ozr::bench::Peer& peer, const std::filesystem::path& directory, int messages,
                  PeerFigures& figures)
{
    peer.Start(directory);
    const auto start = Clock::now();
    for (int index = 0; index < messages; ++index)
    {
        peer.LogAccepted(index);
    }
    peer.Stop();
    figures.messagesPerSecond = messages / (Nanoseconds(start, Clock::now()) * 1e-9);
    figures.linesWritten = CountMessageLines(directory);
}

PeerFigures Measure(ozr::bench::Peer& peer, int messages)
{
    const ozr::testing::TempDirectory scratch;
    for (const char* phase : {"rejected", "rejected2", "accepted", "endtoend"})
    {
        std::filesystem::create_directories(scratch / phase);
    }
    PeerFigures figures{};
    const ozr::bench::OutputFile console(scratch / "console.txt");
    {
        const ozr::bench::OutputRedirection standardOutput(console.Descriptor());
        const ozr::bench::OutputRedirection standardError(console.Descriptor(), STDERR_FILENO);
        figures.rejectedNanoseconds = TimeRejectedCalls(peer, scratch / "rejected", 1);
        figures.rejectedTwoThreadsNanoseconds = TimeRejectedCalls(peer, scratch / "rejected2", 2);
        TimeAcceptedCalls(peer, scratch / "accepted", figures);
        TimeEndToEnd(peer, scratch / "endtoend", messages, figures);
    }
    return figures;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000000;
    std::vector<std::unique_ptr<ozr::bench::Peer>> peers;
    peers.push_back(ozr::bench::MakeOstrelPeer());
    peers.push_back(ozr::bench::MakeSpdlogPeer());
    peers.push_back(ozr::bench::MakeSpdlogSyncPeer());
    peers.push_back(ozr::bench::MakeGlogPeer());
    peers.push_back(ozr::bench::MakeBoostLogPeer());
    std::printf("%-30s %12s %12s %14s %12s %14s %12s\n", "library", "rejected ns", "2 threads",
                "accepted p50", "p99", "messages/s", "lines");
    for (const auto& peer : peers)
    {
        const auto figures = Measure(*peer, messages);
        std::printf("%-30s %12.1f %12.1f %11.0f ns %9.0f ns %14.0f %12llu%s\n", peer->Name(),
                    figures.rejectedNanoseconds, figures.rejectedTwoThreadsNanoseconds,
                    figures.acceptedMedian, figures.acceptedP99, figures.messagesPerSecond,
                    static_cast<unsigned long long>(figures.linesWritten),
                    figures.linesWritten == static_cast<std::uint64_t>(messages) ? "" : " (MISMATCH)");
        std::fflush(stdout);
    }
    return 0;
}
