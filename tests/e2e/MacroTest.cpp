// The call-site macros, in a translation unit built with the floor at Info (see CMakeLists.txt): Trace
// calls are compiled out, with their arguments left unevaluated.

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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
    OZR_LOG_TRACE(CountedZone(), "below the floor %d", Counted(3));
    Severity trace = Severity::Trace;
    OZR_LOG(CountedZone(), trace, "below the floor %d", Counted(4));
    ShutdownLogging("Net");

    EXPECT_EQ(g_evaluations, 4) << "zone and argument of the error, the condition, the generic argument";
    const auto lines = ReadLines(LogFile("Net"));
    EXPECT_EQ(Texts(lines),
              (std::vector<std::string>{"error 1", "print", "warning text", "message", "up", "generic 2"}));
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

}  // namespace
