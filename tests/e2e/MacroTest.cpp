// The call-site macros, in a translation unit built with the floor at Info (see CMakeLists.txt): Trace
// calls are compiled out, with their arguments left unevaluated. Also the rate-limited call sites.

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "Scenario.h"
#include "ozr/logging/Log.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::ExitedNormally;
using ozr::testing::ReadLines;
using ozr::testing::StdoutCapture;
using ozr::testing::Texts;
using ozr::testing::WaitForChild;
using ::testing::HasSubstr;

using MacroTest = ozr::testing::Scenario;

int g_evaluations = 0;

int Counted(int value)
{
    ++g_evaluations;
    return value;
}

const char* CountedZone()
{
    ++g_evaluations;
    return "Net";
}

std::string Position(unsigned int line, unsigned long threadId)
{
    char text[64];
    std::snprintf(text, sizeof text, "MacroTest.cpp(%u): (TID 0x%016lX)", line, threadId);
    return text;
}

TEST_F(MacroTest, FillInPositionAndThreadEvaluateOnceAndCompileOutCallsBelowTheFloor)
{
    WriteZoneSettings("Net", "[OZRLogging]\nLogLevel=Trace\n");
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");

    const unsigned int errorLine = __LINE__ + 1;
    OZR_LOG_ERROR(CountedZone(), "error %d", Counted(1));
    const bool always = Counted(0) == 0;
    if (always)
        OZR_LOG_PRINT("Net", "print");
    else
        OZR_LOG_PRINT("Net", "never");
    OZR_LOG_WARNING("Net", "warning %s", "text");
    OZR_LOG_MESSAGE("Net", "message");
    OZR_LOG_INFO("Net", "up");
    OZR_LOG("Net", Severity::Info, "generic %d", Counted(2));
    WriteZoneSettings("Quiet", "[OZRLogging]\nLogLevel=Warning\n");
    for (const char* zone : {"Quiet", "Net", "Quiet", "Net"})  // one site, two zones of their own verbosity
    {
        OZR_LOG_INFO(zone, "info to %s", zone);
    }
    char changing[8] = "%d";  // one site whose format's characters change between its calls
    for (int call = 1; call <= 2; ++call)
    {
        OZR_LOG_INFO("Net", changing, call);
        std::strcpy(changing, "<%d>");
    }
    OZR_LOG_TRACE(CountedZone(), "below the floor %d", Counted(3));
    Severity trace = Severity::Trace;
    OZR_LOG(CountedZone(), trace, "below the floor %d", Counted(4));
    ShutdownLogging("Net");
    ShutdownLogging("Quiet");

    EXPECT_EQ(g_evaluations, 4) << "zone and argument of the error, the condition, the generic argument";
    const auto lines = ReadLines(LogFile("Net"));
    EXPECT_EQ(Texts(lines),
              (std::vector<std::string>{"error 1", "print", "warning text", "message", "up", "generic 2",
                                        "info to Net", "info to Net", "1", "<2>"}));
    ASSERT_FALSE(lines.empty());
    const auto threadId = static_cast<unsigned long>(syscall(SYS_gettid));
    EXPECT_EQ(CurrentThreadId(), threadId);
    EXPECT_THAT(lines.front(), HasSubstr(Position(errorLine, threadId)));
}

// The parent's thread has cached its id; the child's copy of that thread must log the child's own.
TEST_F(MacroTest, AForkedChildLogsItsOwnThreadId)
{
    ASSERT_EQ(CurrentThreadId(), static_cast<unsigned long>(syscall(SYS_gettid)));
    const pid_t child = fork();
    if (child == 0)
    {
        std::freopen("/dev/null", "w", stdout);
        InitialiseLogging("Child");
        OZR_LOG_ERROR("Child", "from the child");
        ShutdownLogging("Child");
        _exit(0);
    }
    ASSERT_TRUE(ExitedNormally(WaitForChild(child)));
    // The thread that forks is the child's main thread, whose id is the child's process id.
    const auto lines = ReadLines(LogFile("Child"));
    ASSERT_EQ(lines.size(), 1U);
    char expected[32];
    std::snprintf(expected, sizeof expected, "(TID 0x%016lX)", static_cast<unsigned long>(child));
    EXPECT_THAT(lines.front(), HasSubstr(expected));
}

std::atomic<int> g_limitedEvaluations{0};

int Evaluated(int value)
{
    g_limitedEvaluations.fetch_add(1, std::memory_order_relaxed);
    return value;
}

// One call site each, shared by every thread that calls the function.
void EveryNCall(int number)
{
    OZR_LOG_EVERY_N("Net", Severity::Error, 7, "every 7th %d", Evaluated(number));
}

void FirstNCall(int number)
{
    OZR_LOG_FIRST_N("Net", Severity::Warning, 5, "first 5 %d", Evaluated(number));
}

// The trailing line feed is trimmed before the count is appended.
void EverySecondsCall(int number)
{
    OZR_LOG_EVERY_SECONDS("Net", Severity::Error, 0.02, "every 20 ms %d\n", Evaluated(number));
}

void RejectedAtFirstCall(int number)
{
    OZR_LOG_EVERY_N("Net", Severity::Message, 3, "message %d", Evaluated(number));
}

void BelowTheFloorCall(int number)
{
    OZR_LOG_FIRST_N("Net", Severity::Trace, 1, "trace %d", Evaluated(number));
}

struct SiteTally
{
    std::size_t lines = 0;
    std::size_t linesWithoutCount = 0;
    std::uint64_t suppressed = 0;
};

// The lines of the site whose texts start with `prefix`, which must all read "<prefix> <number>" with an
// optional " (N suppressed)".
SiteTally Tally(const std::vector<std::string>& texts, const std::string& prefix)
{
    const std::regex pattern(prefix + R"( -?\d+( \((\d+) suppressed\))?)");
    SiteTally tally;
    for (const auto& text : texts)
    {
        std::smatch match;
        if (text.rfind(prefix, 0) != 0)
        {
            continue;
        }
        EXPECT_TRUE(std::regex_match(text, match, pattern)) << text;
        ++tally.lines;
        tally.linesWithoutCount += match[1].matched ? 0 : 1;
        tally.suppressed += match[1].matched ? std::stoull(match[2].str()) : 0;
    }
    return tally;
}

TEST_F(MacroTest, RateLimitedSitesCountExactlyFromFourThreadsAndEvaluateOnlyWhatTheyLog)
{
    constexpr int Threads = 4;
    constexpr int CallsPerThread = 1000;
    WriteZoneSettings("Net", "[OZRLogging]\nLogLevel=Trace\n");
    const int evaluatedBefore = g_limitedEvaluations.load();
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    std::vector<std::thread> threads;
    for (int thread = 0; thread < Threads; ++thread)
    {
        threads.emplace_back(
            [thread]
            {
                for (int call = 0; call < CallsPerThread; ++call)
                {
                    const int number = thread * CallsPerThread + call;
                    EveryNCall(number);
                    FirstNCall(number);
                    EverySecondsCall(number);
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    // Past the interval, one more call reports every call held back since the site last logged.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EverySecondsCall(-1);
    ShutdownLogging("Net");

    const auto texts = Texts(ReadLines(LogFile("Net")));
    constexpr std::size_t Calls = Threads * CallsPerThread;
    const SiteTally everyN = Tally(texts, "every 7th");
    EXPECT_EQ(everyN.lines, (Calls + 6) / 7);
    EXPECT_EQ(everyN.linesWithoutCount, 1U);
    EXPECT_EQ(everyN.suppressed, (everyN.lines - 1) * 6);
    const SiteTally firstN = Tally(texts, "first 5");
    EXPECT_EQ(firstN.lines, 5U);
    EXPECT_EQ(firstN.suppressed, 0U);
    const SiteTally everySeconds = Tally(texts, "every 20 ms");
    EXPECT_GE(everySeconds.lines, 2U);
    EXPECT_EQ(everySeconds.lines + everySeconds.suppressed, Calls + 1);
    EXPECT_EQ(everyN.lines + firstN.lines + everySeconds.lines, texts.size())
        << "every line is one of theirs";
    EXPECT_EQ(static_cast<std::size_t>(g_limitedEvaluations.load() - evaluatedBefore), texts.size());
}

TEST_F(MacroTest, RateLimitedSitesCountNoCallThatTheVerbosityOrTheFloorRejects)
{
    WriteZoneSettings("Net", "[OZRLogging]\nLogLevel=Warning\n");
    const int evaluatedBefore = g_limitedEvaluations.load();
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    for (int number = 0; number < 10; ++number)
    {
        RejectedAtFirstCall(number);
    }
    SetLoggingVerbosity(Severity::Trace, "Net");
    for (int number = 10; number < 14; ++number)
    {
        RejectedAtFirstCall(number);
        BelowTheFloorCall(number);
    }
    ShutdownLogging("Net");

    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))),
              (std::vector<std::string>{"message 10", "message 13 (2 suppressed)"}));
    EXPECT_EQ(g_limitedEvaluations.load() - evaluatedBefore, 2);
}

}  // namespace
