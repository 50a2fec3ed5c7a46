#include "appender/file/RotationPeriod.h"

#include <boost/date_time/gregorian/gregorian_types.hpp>

namespace ozr::logging::appender::file
{
namespace
{

constexpr RotationPeriod HoursPerDay = 24;
// The years the calendar holds; a modification time outside them (a clock far off) judges nothing.
constexpr long FirstYear = 1400;
constexpr long LastYear = 9999;

RotationPeriod PeriodOf(const boost::gregorian::date& date, long hour, RotationInterval interval)
{
    if (date.is_special())
    {
        return NoPeriod;
    }
    const auto day = static_cast<RotationPeriod>(date.day_number());
    switch (interval)
    {
        case RotationInterval::Hourly:
            return day * HoursPerDay + hour;
        case RotationInterval::Daily:
            return day;
        case RotationInterval::Never:
            break;
    }
    return NoPeriod;
}

}  // namespace

RotationPeriod RotationPeriodOf(const boost::posix_time::ptime& localTime, RotationInterval interval)
{
    if (interval == RotationInterval::Never || localTime.is_special())
    {
        return NoPeriod;
    }
    return PeriodOf(localTime.date(), localTime.time_of_day().hours(), interval);
}

RotationPeriod RotationPeriodOf(std::time_t modified, RotationInterval interval)
{
    std::tm local{};
    if (interval == RotationInterval::Never || localtime_r(&modified, &local) == nullptr)
    {
        return NoPeriod;
    }
    const long year = local.tm_year + 1900L;
    if (year < FirstYear || year > LastYear)
    {
        return NoPeriod;
    }
    const boost::gregorian::date date(static_cast<unsigned short>(year),
                                      static_cast<unsigned short>(local.tm_mon + 1),
                                      static_cast<unsigned short>(local.tm_mday));
    return PeriodOf(date, local.tm_hour, interval);
}

}  // namespace ozr::logging::appender::file
