#pragma once

#include <cstdint>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace ozr::logging::appender
{

// A time as whole seconds since the epoch, rounded down, and the ticks past that second: the key of the
// per-thread calendar texts of the text and JSON lines, cheaper than the time's date and time of day.
struct SplitTime
{
    std::int64_t second;
    std::int64_t fraction;
};

inline SplitTime Split(const boost::posix_time::ptime& time)
{
    constexpr std::int64_t ticksPerSecond = boost::posix_time::time_duration::ticks_per_second();
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    const std::int64_t ticks = (time - epoch).ticks();
    SplitTime split{ticks / ticksPerSecond, ticks % ticksPerSecond};
    if (split.fraction < 0)
    {
        split.fraction += ticksPerSecond;
        --split.second;
    }
    return split;
}

}  // namespace ozr::logging::appender
