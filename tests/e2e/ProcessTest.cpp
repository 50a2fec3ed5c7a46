// Processes that end without shutting their zones down, and processes that fork.

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gmock/gmock.h>

#include "Scenario.h"
#include "ozr/logging/LoggerManager.h"

#if defined(__SANITIZE_ADDRESS__)
// A forked child has none of its parent's other threads, so the leak checker of a child that exits
// normally cannot see what only the parent's worker referenced at the fork (the task it was running, the
// handler memory it cached, the line it last formatted): whatever that happens to be at the moment of the
// fork is reported as a leak. The library deliberately leaves that state untouched in the child, so leak
// checking is off for these scenarios; the other suites check for leaks.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "detect_leaks=0";
}
#endif

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadLines;
using ozr::testing::RunChild;
using ozr::testing::StdoutCapture;
using ozr::testing::Texts;
using ozr::testing::WaitForChild;

using ProcessTest = ozr::testing::Scenario;

// A global made before the logger manager, so destroyed after the point where the manager is drained at
// exit. Armed in a child process only.
struct LogsWhenDestroyed
{
    ~LogsWhenDestroyed()
    {
        if (armed)
        {
            ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "from a global's destructor");
        }
    }
    bool armed = false;
} g_logsWhenDestroyed;

std::vector<std::string> Numbered(const std::string& prefix, int count)
{
    std::vector<std::string> texts;
    for (int number = 0; number < count; ++number)
    {
        texts.push_back(prefix + " " + std::to_string(number));
    }
    return texts;
}

void LogNumbered(const char* zone, const char* prefix, int count)
{
    for (int number = 0; number < count; ++number)
    {
        ToLog(zone, Severity::Error, __FILE__, __LINE__, 1, "%s %d", prefix, number);
    }
}

TEST_F(ProcessTest, ExitingWithoutShutdownWritesEverythingQueued)
{
    const bool exited = RunChild(
        []
        {
            std::freopen("/dev/null", "w", stdout);
            InitialiseLogging("Net");
            LogNumbered("Net", "line", 5000);
        });
    EXPECT_TRUE(exited);
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), Numbered("line", 5000));
}

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer does not support threads started after fork
// A detached thread still logging while main ends, another setting the levels of zones it names for the
// first time, and a global whose destructor logs after the exit drain: the process ends normally (the
// objects log calls need are never destroyed; late lines are dropped, and after the drain no logger is
// made, since making one reads settings through objects that exit destroys). Nothing reaches standard
// error either (a sanitizer's report would, though the process may end before its exit status shows it).
TEST_F(ProcessTest, LoggingWhileTheProcessExitsNeverCrashes)
{
    const std::string errors = (root / "stderr.txt").string();
    for (int run = 0; run < 5; ++run)
    {
        EXPECT_TRUE(RunChild(
            [&errors]
            {
                std::freopen("/dev/null", "w", stdout);
                std::freopen(errors.c_str(), "w", stderr);
                InitialiseLogging("Net");
                g_logsWhenDestroyed.armed = true;
                std::thread([] { LogNumbered("Net", "detached", 1000000); }).detach();
                for (int setter = 0; setter < 4; ++setter)
                {
                    std::thread(
                        [setter]
                        {
                            for (int zone = 0;; ++zone)
                            {
                                const std::string name =
                                    "Late" + std::to_string(setter) + "." + std::to_string(zone);
                                SetLoggingVerbosity(Severity::Info, name.c_str());
                            }
                        })
                        .detach();
                }
                LogNumbered("Net", "line", 100);
            }));
        EXPECT_EQ(ozr::testing::ReadFile(errors), "");
    }
}
#endif

// What is logged after the last ShutdownLogging waits for a worker; normal exit writes it. The wait is
// bounded: beyond MaxMessagesWithoutWorker such calls are dropped rather than queued.
TEST_F(ProcessTest, MessagesLoggedAfterTheLastShutdownAreWrittenAtExitUpToABound)
{
    constexpr int Bound = static_cast<int>(LoggerManager::MaxMessagesWithoutWorker);
    EXPECT_TRUE(RunChild(
        []
        {
            std::freopen("/dev/null", "w", stdout);
            InitialiseLogging("Net");
            LogNumbered("Net", "running", 3);
            ShutdownLogging("Net");
            LogNumbered("Net", "stopped", Bound + 5);
        }));
    auto expected = Numbered("running", 3);
    const auto stopped = Numbered("stopped", Bound);
    expected.insert(expected.end(), stopped.begin(), stopped.end());
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), expected);
}

// Standard output is a file, so the C library buffers it fully. Once ShutdownLogging has returned, the
// lines are out of the process: a child forked afterwards does not write them again when it exits, and
// abort() loses none of them.
TEST_F(ProcessTest, ConsoleLinesAreOutOfTheProcessWhenShutdownReturns)
{
    for (const bool aborts : {false, true})
    {
        const auto output = root / (aborts ? "aborting.txt" : "forking.txt");
        const pid_t child = fork();
        if (child == 0)
        {
            std::freopen(output.c_str(), "w", stdout);
            InitialiseLogging("Net");
            LogNumbered("Net", "line", 3);
            ShutdownLogging("Net");
            if (aborts)
            {
                std::abort();
            }
            const pid_t grandchild = fork();
            if (grandchild == 0)
            {
                std::exit(0);
            }
            waitpid(grandchild, nullptr, 0);
            std::exit(0);
        }
        WaitForChild(child);
        EXPECT_EQ(Texts(ReadLines(output)), Numbered("line", 3)) << (aborts ? "abort" : "fork");
    }
}

// The parent's worker is busy while it forks; children that log and then end in each of the usual ways
// must end on their own, and the parent's output must be complete and its own.
TEST_F(ProcessTest, ForkedChildrenNeitherHangNorDisturbTheParent)
{
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    std::atomic<bool> stop{false};
    std::thread busy(
        [&stop]
        {
            for (int number = 0; !stop; ++number)
            {
                ToLog("Busy", Severity::Error, __FILE__, __LINE__, 2, "busy %d", number);
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
    LogNumbered("Net", "before", 100);

    EXPECT_TRUE(RunChild(
        []
        {
            LogNumbered("Net", "child", 10);
            _exit(0);
        }));
    EXPECT_TRUE(RunChild([] { LogNumbered("Net", "child", 10); }));
    EXPECT_TRUE(RunChild(
        []
        {
            LogNumbered("Net", "child", 10);
            execl("/bin/true", "true", static_cast<char*>(nullptr));
            _exit(1);
        }));
    EXPECT_TRUE(RunChild([] { ShutdownLogging("Net"); }));

    LogNumbered("Net", "after", 100);
    stop = true;
    busy.join();
    ShutdownLogging("Busy");
    ShutdownLogging("Net");

    auto expected = Numbered("before", 100);
    const auto after = Numbered("after", 100);
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), expected);
}

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer does not support threads started after fork
TEST_F(ProcessTest, AChildThatInitialisesGetsAWorkerOfItsOwn)
{
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    LogNumbered("Net", "parent", 50);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's allocator takes no lock across fork: a size class that the parent's worker was
    // refilling at that moment stays locked in the child, and the child's new worker waits for it forever.
    // The C library's allocator has no such gap, so only here the parent's worker goes idle first.
    FlushLogging();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
#endif
    EXPECT_TRUE(RunChild(
        []
        {
            InitialiseLogging("Child");
            LogNumbered("Child", "child", 20);
            ShutdownLogging("Child");
            _exit(0);
        }));
    ShutdownLogging("Net");

    EXPECT_EQ(Texts(ReadLines(LogFile("Child"))), Numbered("child", 20));
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), Numbered("parent", 50));

#if !defined(__SANITIZE_ADDRESS__)  // the allocator gap above: the other thread allocates all the time
    // Another thread sets the settings and log directories at the moment of each fork: the locks that
    // a child's InitialiseLogging takes are never left held by it.
    std::atomic<bool> stop{false};
    std::thread setter(
        [&]
        {
            while (!stop)
            {
                SetLoggingConfigDirectoryPath(config.c_str());
                SetLoggingLogsDirectoryPath(logs.c_str());
            }
        });
    bool exited = true;
    for (int round = 0; round < 100 && exited; ++round)
    {
        const pid_t child = fork();
        if (child == 0)
        {
            InitialiseLogging("Child");
            ShutdownLogging("Child");
            _exit(0);
        }
        exited = ozr::testing::ExitedNormally(WaitForChild(child, std::chrono::seconds(10)));
    }
    stop = true;
    setter.join();
    EXPECT_TRUE(exited);
#endif
}
#endif

}  // namespace
