#include "ozr/logging/DateTimeProvider.h"

#include <cstdlib>
#include <ctime>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "CalendarCache.h"

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

// The calendar fields of a second are converted once and reused for the readings within it. Readings in
// one run of calls, as a thread makes them: within a second, across a change of second and of minute,
// across both daylight-saving changes of a zone that has them, and back in time; each compared with a
// direct conversion of the same reading. Then the zone changed by tzset() within one second.
TEST(DateTimeProvider, CachedCalendarFieldsMatchADirectConversionAcrossSecondsMinutesAndOffsetChanges)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const std::time_t springForward = 1616893200;  // 2021-03-28 01:00:00 UTC: 02:00 CET becomes 03:00 CEST
    const std::time_t fallBack = 1635642000;       // 2021-10-31 01:00:00 UTC: 03:00 CEST becomes 02:00 CET
    std::vector<timeval> readings;
    for (const std::time_t change : {springForward, fallBack})
    {
        for (std::time_t second = change - 2; second <= change + 1; ++second)
        {
            for (const suseconds_t microseconds : {0, 1, 500000, 999999})
            {
                readings.push_back({second, microseconds});
            }
        }
    }
    readings.push_back({springForward + 59, 999999});  // the last reading of a minute
    readings.push_back({springForward + 60, 0});       // the first of the next
    readings.push_back({springForward - 3600, 42});    // back in time
    readings.push_back({springForward - 3600, 43});

    CalendarCache local(&boost::date_time::c_time::localtime, true);
    CalendarCache universal(&boost::date_time::c_time::gmtime, false);
    using LocalAdjustor = boost::date_time::c_local_adjustor<boost::posix_time::ptime>;
    for (const timeval& reading : readings)
    {
        const auto utc =
            boost::posix_time::from_time_t(reading.tv_sec) + boost::posix_time::microseconds(reading.tv_usec);
        EXPECT_EQ(universal.At(reading), utc) << reading.tv_sec << "." << reading.tv_usec;
        EXPECT_EQ(local.At(reading), LocalAdjustor::utc_to_local(utc))
            << reading.tv_sec << "." << reading.tv_usec;
    }
    // The offset in force on each side of the change.
    EXPECT_EQ(local.At({springForward - 1, 0}), boost::posix_time::time_from_string("2021-03-28 01:59:59"));
    EXPECT_EQ(local.At({springForward, 0}), boost::posix_time::time_from_string("2021-03-28 03:00:00"));

    // A zone put in force by tzset() holds from the next reading, within the same second too.
    setenv("TZ", "XST-05:30", 1);
    tzset();
    EXPECT_EQ(local.At({springForward, 1}),
              boost::posix_time::time_from_string("2021-03-28 06:30:00.000001"));
    setenv("TZ", "YST+08", 1);
    tzset();
    EXPECT_EQ(local.At({springForward, 2}),
              boost::posix_time::time_from_string("2021-03-27 17:00:00.000002"));
    const DateTimeProvider clock;
    setenv("TZ", "XST-05:30", 1);
    tzset();
    const auto before = clock.GetLocalNow() - clock.GetUniversalNow();
    setenv("TZ", "YST+08", 1);
    tzset();
    const auto after = clock.GetLocalNow() - clock.GetUniversalNow();
    EXPECT_LT((before - boost::posix_time::minutes(330)).abs(), boost::posix_time::seconds(1));
    EXPECT_LT((after + boost::posix_time::hours(8)).abs(), boost::posix_time::seconds(1));
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace ozr::logging
