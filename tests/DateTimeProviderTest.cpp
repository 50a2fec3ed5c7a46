#include "ozr/logging/DateTimeProvider.h"

#include <ctime>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace ozr::logging
{
namespace
{

TEST(DateTimeProvider, UniversalTimeNeverGoesBackwards)
{
    const DateTimeProvider clock;
    auto previous = clock.GetUniversalNow();
    for (int i = 0; i < 1000; ++i)
    {
        const auto now = clock.GetUniversalNow();
        EXPECT_GE(now, previous);
        previous = now;
    }
}

TEST(DateTimeProvider, LocalMinusUniversalIsTheZoneOffset)
{
    const DateTimeProvider clock;
    const auto local = clock.GetLocalNow();
    const auto universal = clock.GetUniversalNow();

    const std::time_t now = std::time(nullptr);
    std::tm localFields{};
    localtime_r(&now, &localFields);
    const auto offset = boost::posix_time::seconds(localFields.tm_gmtoff);

    const auto difference = local - universal - offset;
    EXPECT_LT(difference.abs(), boost::posix_time::seconds(1));
}

TEST(DateTimeProvider, CarriesMicroseconds)
{
    const DateTimeProvider clock;
    const auto first = clock.GetUniversalNow();
    auto later = clock.GetUniversalNow();
    while (later == first)
    {
        later = clock.GetUniversalNow();
    }
    EXPECT_LT(later - first, boost::posix_time::milliseconds(100));
}

}  // namespace
}  // namespace ozr::logging
