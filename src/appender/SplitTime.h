#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "appender/TextAppend.h"

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

// "hh:mm:ss", the time of day of `time`'s whole second.
inline char* WriteTimeOfDay(char* out, const boost::posix_time::ptime& time)
{
    const auto timeOfDay = time.time_of_day();
    out = WriteDigits(out, static_cast<std::uint64_t>(timeOfDay.hours()), 2);
    *out++ = ':';
    out = WriteDigits(out, static_cast<std::uint64_t>(timeOfDay.minutes()), 2);
    *out++ = ':';
    return WriteDigits(out, static_cast<std::uint64_t>(timeOfDay.seconds()), 2);
}

// The `Length` characters that `Fill` writes for the whole second a thread wrote last. Lines come in time
// order, mostly many to a second, so the calendar conversion runs about once per second.
template <std::size_t Length, void (*Fill)(char* out, const boost::posix_time::ptime& time)>
class SecondTextCache
{
public:
    // The text of `time`'s second, which is `second` seconds after the epoch.
    const std::array<char, Length>& TextOf(const boost::posix_time::ptime& time, std::int64_t second)
    {
        if (second != cachedSecond)
        {
            Fill(text.data(), time);
            cachedSecond = second;
        }
        return text;
    }

private:
    std::int64_t cachedSecond = std::numeric_limits<std::int64_t>::min();
    std::array<char, Length> text{};
};

}  // namespace ozr::logging::appender
