#pragma once

#include <cstdint>
#include <ctime>

#include <boost/date_time/posix_time/ptime.hpp>

#include "ozr/logging/appender/file/ConfigProvider.h"

namespace ozr::logging::appender::file
{

// The local hour or day that a moment falls in, as a number that grows with time: the day's number in
// the proleptic Gregorian calendar, or that times 24 plus the hour. NoPeriod for RotationInterval::Never
// and for a moment that is no date.
using RotationPeriod = std::int64_t;
constexpr RotationPeriod NoPeriod = 0;

// Of a message's local time stamp.
RotationPeriod RotationPeriodOf(const boost::posix_time::ptime& localTime, RotationInterval interval);

// Of a file's modification time, in the local time zone now in force.
RotationPeriod RotationPeriodOf(std::time_t modified, RotationInterval interval);

}  // namespace ozr::logging::appender::file
