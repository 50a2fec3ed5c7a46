#pragma once

// The counting state of one rate-limited call site (OZR_LOG_EVERY_N, OZR_LOG_FIRST_N,
// OZR_LOG_EVERY_SECONDS in ozr/logging/Log.h). Each site holds one as a function-local static that is
// constant-initialised, so it costs no guard and no lock. Any number of threads may ask at once: each
// answer comes from relaxed atomic operations on the site's own counters, which every thread's call
// changes exactly once, so the counts are exact however the calls interleave.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "ozr/logging/Export.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// Whether one call of a limited site is logged, and how many of the site's calls were suppressed since
// the one it last logged.
struct CallSiteAdmission
{
    bool logs;
    std::uint64_t suppressed;
};

// Logs the 1st, (n+1)th, (2n+1)th ... call; an n below 1 counts as 1 (every call).
class CallSiteEveryN
{
public:
    CallSiteAdmission Admit(long long n) noexcept
    {
        const std::uint64_t every = n > 1 ? static_cast<std::uint64_t>(n) : 1;
        const std::uint64_t index = calls.fetch_add(1, std::memory_order_relaxed);
        if (index % every != 0)
        {
            return {false, 0};
        }
        return {true, index == 0 ? 0 : every - 1};
    }

private:
    std::atomic<std::uint64_t> calls{0};
};

// Logs the first n calls; an n below 1 logs none. Once they are logged a call only reads the counter, so
// a flooding site stops writing to it.
class CallSiteFirstN
{
public:
    CallSiteAdmission Admit(long long n) noexcept
    {
        if (n < 1)
        {
            return {false, 0};
        }
        const auto limit = static_cast<std::uint64_t>(n);
        if (calls.load(std::memory_order_relaxed) >= limit)
        {
            return {false, 0};
        }
        return {calls.fetch_add(1, std::memory_order_relaxed) < limit, 0};
    }

private:
    std::atomic<std::uint64_t> calls{0};
};

// Logs at most one call per `seconds`, measured on the monotonic clock, so that setting the wall clock
// neither holds calls back nor lets a burst through. A call logs when the interval since the last logged
// one has passed and no other thread took that moment first. Zero, a negative number or NaN logs every
// call; an interval too long for the clock logs only the first.
class CallSiteEverySeconds
{
public:
    CallSiteAdmission Admit(double seconds) noexcept
    {
        const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        std::int64_t next = nextAllowed.load(std::memory_order_relaxed);
        if (now < next ||
            !nextAllowed.compare_exchange_strong(next, Later(now, seconds), std::memory_order_relaxed))
        {
            suppressed.fetch_add(1, std::memory_order_relaxed);
            return {false, 0};
        }
        return {true, suppressed.exchange(0, std::memory_order_relaxed)};
    }

private:
    static constexpr std::int64_t Latest = std::numeric_limits<std::int64_t>::max();

    // `now` plus `seconds` in nanoseconds, saturated at the clock's end.
    static std::int64_t Later(std::int64_t now, double seconds) noexcept
    {
        if (!(seconds > 0))
        {
            return now;
        }
        const double interval = seconds * 1e9;
        if (interval >= static_cast<double>(Latest - now))
        {
            return Latest;
        }
        return now + static_cast<std::int64_t>(interval);
    }

    std::atomic<std::int64_t> nextAllowed{std::numeric_limits<std::int64_t>::min()};
    std::atomic<std::uint64_t> suppressed{0};
};

class CallSite;

// IsLoggingEnabled for the rate-limited call sites: also keeps `site` up to date, so that their next call
// that the zone's verbosity rejects is answered by `site` inline, as for OZR_LOG.
OZR_LOGGING_API bool IsLoggingEnabledAt(CallSite& site, const char* zone, Severity severity);

// The text that `fmt` makes of its arguments, without its trailing control characters (as a log call
// trims them, keeping the first character), followed by " (N suppressed)" for `suppressed` N. Empty when
// the text is empty or the format fails, so that such a call logs nothing, as any log call would.
OZR_LOGGING_API std::string TextWithSuppressedCount(std::uint64_t suppressed, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace ozr::logging
