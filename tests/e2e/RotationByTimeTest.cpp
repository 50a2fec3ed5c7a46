// Rotation by time with the clock of a real process moved by faketime (Debian's faketime package): across
// midnight and across an hour while the process runs, across a restart the next day, and with the clock
// set back between two runs. The file's modification time is never faked (NO_FAKE_STAT), as a real clock
// change leaves it.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "RunProgram.h"
#include "Scenario.h"

namespace
{

using ozr::testing::ReadLines;
using ozr::testing::Texts;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* FakeTime = "/usr/bin/faketime";

class RotationByTimeTest : public ozr::testing::Scenario
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(FakeTime)) << "install faketime (tools/install-dependencies)";
        setenv("NO_FAKE_STAT", "1", 1);
        // libfaketime is preloaded ahead of a sanitizer's runtime, which then must not insist on coming
        // first.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }

    // Runs the writer with its clock starting at `start` ("@YYYY-MM-DD hh:mm:ss") or moved by an offset
    // ("+1d"), writing `texts` (text, seconds, text, ...) into zone Net.
    void Write(const std::string& start, const std::vector<std::string>& texts)
    {
        std::vector<std::string> arguments{"-f",          start, OZR_TIMED_LINES_WRITER, config.string(),
                                           logs.string(), "Net"};
        arguments.insert(arguments.end(), texts.begin(), texts.end());
        const auto result = ozr::testing::RunProgram(FakeTime, arguments, root.Path());
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
};

TEST_F(RotationByTimeTest, DailyRotatesAtMidnightAndHourlyAtTheFullHourWhileTheProcessRuns)
{
    WriteZoneSettings("Net", "[FileAppender]\nRotationInterval=daily\n");
    Write("@2026-03-04 23:59:58", {"before", "0.2", "still before", "2.5", "after"});
    const auto rotated = ReadLines(LogFile("Net", 1));
    EXPECT_THAT(Texts(rotated), ElementsAre("before", "still before"));
    ASSERT_FALSE(rotated.empty());
    EXPECT_THAT(rotated.front(), HasSubstr("2026-Mar-04 23:59:5"));
    const auto current = ReadLines(LogFile("Net"));
    EXPECT_THAT(Texts(current), ElementsAre("after"));
    ASSERT_FALSE(current.empty());
    EXPECT_THAT(current.front(), HasSubstr("2026-Mar-05 00:00:0"));

    std::filesystem::remove_all(logs);
    WriteZoneSettings("Net", "[FileAppender]\nRotationInterval=hourly\n");
    Write("@2026-03-04 13:59:58", {"before", "2.5", "after"});
    EXPECT_THAT(Texts(ReadLines(LogFile("Net", 1))), ElementsAre("before"));
    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("after"));
}

TEST_F(RotationByTimeTest, ARestartTheNextDayRotatesFirstAndAClockSetBackDoesNot)
{
    WriteZoneSettings("Net", "[FileAppender]\nRotationInterval=daily\n");
    Write("+0", {"today"});
    Write("+1d", {"tomorrow"});
    Write("-1d", {"set back"});
    EXPECT_THAT(Texts(ReadLines(LogFile("Net", 1))), ElementsAre("today"));
    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("tomorrow", "set back"));
    EXPECT_FALSE(std::filesystem::exists(LogFile("Net", 2)));
}

}  // namespace
