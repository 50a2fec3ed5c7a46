#pragma once

#include <sys/time.h>

#include <ctime>
#include <limits>

#include <boost/date_time/c_time.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace ozr::logging
{

// The time zone that tzset() last put in force, as the C library publishes it. Two readings that differ
// mean another zone; an application that changes TZ and calls tzset() changes at least one of them.
struct TimeZoneInForce
{
    long offset;
    int daylight;
    const char* standardName;
    const char* daylightName;

    static TimeZoneInForce Now() noexcept { return {::timezone, ::daylight, ::tzname[0], ::tzname[1]}; }

    bool operator==(const TimeZoneInForce& other) const noexcept
    {
        return offset == other.offset && daylight == other.daylight && standardName == other.standardName &&
               daylightName == other.daylightName;
    }
};

// Turns clock readings into calendar time, converting each epoch second once: the date and time of day
// of the last second converted are kept, keyed by that exact second, and the microseconds of each
// reading are added to them. The key is the second itself, so a change of the zone's offset (daylight
// saving time) takes effect at the first reading of the second in which it happens, as a direct
// conversion would. A local cache also keys on the time zone in force, so a zone put in force by
// tzset() takes effect at the next reading. Failures are those of the direct conversion (the system
// conversion's std::runtime_error, Boost.Gregorian's bad_year, bad_month and bad_day_of_month) and are
// not cached.
//
// One cache serves one thread; CalendarCache holds no lock.
class CalendarCache
{
public:
    using Conversion = std::tm* (*)(const std::time_t*, std::tm*);

    // `conversion` is boost::date_time::c_time::localtime or ::gmtime: the system conversion that throws
    // Boost's texts on failure. `local`: the conversion depends on the time zone in force.
    constexpr CalendarCache(Conversion conversion, bool local) noexcept : conversion(conversion), local(local)
    {
    }

    boost::posix_time::ptime At(const timeval& reading)
    {
        const TimeZoneInForce currentZone = local ? TimeZoneInForce::Now() : TimeZoneInForce{};
        if (reading.tv_sec != second || !(currentZone == zone))
        {
            std::tm fields{};
            const std::tm* converted = conversion(&reading.tv_sec, &fields);
            const boost::gregorian::date date(static_cast<unsigned short>(converted->tm_year + 1900),
                                              static_cast<unsigned short>(converted->tm_mon + 1),
                                              static_cast<unsigned short>(converted->tm_mday));
            start = boost::posix_time::ptime(
                date,
                boost::posix_time::time_duration(converted->tm_hour, converted->tm_min, converted->tm_sec));
            second = reading.tv_sec;
            zone = currentZone;
        }
        return start + boost::posix_time::microseconds(reading.tv_usec);
    }

private:
    Conversion conversion;
    bool local;
    TimeZoneInForce zone{};
    std::time_t second = std::numeric_limits<std::time_t>::min();
    boost::posix_time::ptime start;
};

// The calling thread's caches, one per conversion.
inline boost::posix_time::ptime LocalTimeAt(const timeval& reading)
{
    thread_local CalendarCache cache(&boost::date_time::c_time::localtime, true);
    return cache.At(reading);
}

inline boost::posix_time::ptime UniversalTimeAt(const timeval& reading)
{
    thread_local CalendarCache cache(&boost::date_time::c_time::gmtime, false);
    return cache.At(reading);
}

}  // namespace ozr::logging
