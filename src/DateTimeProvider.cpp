#include "ozr/logging/DateTimeProvider.h"

#include <sys/time.h>

#include "CalendarCache.h"

namespace ozr::logging
{

namespace
{

timeval ReadClock()
{
    timeval reading{};
    gettimeofday(&reading, nullptr);
    return reading;
}

}  // namespace

// Each reading is converted as Boost's microsecond clock converts it (gettimeofday, then localtime_r or
// gmtime_r, then the microseconds), with the calendar fields of the current second kept per thread.
boost::posix_time::ptime DateTimeProvider::GetLocalNow() const
{
    return LocalTimeAt(ReadClock());
}

boost::posix_time::ptime DateTimeProvider::GetUniversalNow() const
{
    return UniversalTimeAt(ReadClock());
}

}  // namespace ozr::logging
