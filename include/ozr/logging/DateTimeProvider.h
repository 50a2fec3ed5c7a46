#pragma once

#include <boost/date_time/posix_time/ptime.hpp>

#include "ozr/logging/Export.h"

namespace ozr::logging
{

// The clock behind every record's time stamps. Stateless: any thread may call it at any time.
class OZR_LOGGING_API IDateTimeProvider
{
public:
    virtual ~IDateTimeProvider() = default;
    virtual boost::posix_time::ptime GetLocalNow() const = 0;
    virtual boost::posix_time::ptime GetUniversalNow() const = 0;
};

// The system clock with microsecond resolution. Conversion failures leave as the exceptions of
// Boost.Date_Time (std::runtime_error, bad_year, bad_month, bad_day_of_month).
class OZR_LOGGING_API DateTimeProvider final : public IDateTimeProvider
{
public:
    constexpr DateTimeProvider() noexcept = default;
    boost::posix_time::ptime GetLocalNow() const override;
    boost::posix_time::ptime GetUniversalNow() const override;
};

}  // namespace ozr::logging
