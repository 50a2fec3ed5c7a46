#pragma once

#include <atomic>
#include <cstdint>

namespace ozr::logging
{

// The process-wide counters behind GetLoggingStatistics. Written with relaxed increments: they count,
// they order nothing. Constant-initialised, so they are usable at any time, during exit included. The
// count that log calls raise has a cache line of its own, apart from the worker's counts.
struct LoggingCounters
{
    alignas(64) std::atomic<std::uint64_t> accepted{0};
    alignas(64) std::atomic<std::uint64_t> fileLinesWritten{0};
    std::atomic<std::uint64_t> fileLinesDropped{0};
    std::atomic<std::uint64_t> rotations{0};
    std::atomic<std::uint64_t> consoleLinesWritten{0};
    std::atomic<std::uint64_t> consoleLinesDropped{0};
    std::atomic<std::uint64_t> syslogDatagramsSent{0};
    std::atomic<std::uint64_t> syslogMessagesDropped{0};
    std::atomic<std::uint64_t> workerExceptions{0};
    std::atomic<std::uint64_t> queueDropped{0};
    std::atomic<std::uint64_t> syslogRecordsResent{0};
    std::atomic<std::uint64_t> formatFailures{0};
};

inline LoggingCounters g_loggingCounters;

inline void AddTo(std::atomic<std::uint64_t>& counter, std::uint64_t amount = 1)
{
    if (amount != 0)
    {
        counter.fetch_add(amount, std::memory_order_relaxed);
    }
}

}  // namespace ozr::logging
