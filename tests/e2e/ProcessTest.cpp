// Processes that end without shutting their zones down, and processes that fork.

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
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

constexpr int ChildrenForkedAnyTime = 100;

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

// Sends file descriptor 1 to a small pipe that a thread reads slowly while the object lives, so that
// writes to standard output often wait for room.
class SlowlyReadStandardOutput
{
public:
    SlowlyReadStandardOutput()
    {
        std::fflush(stdout);
        if (pipe2(ends, O_CLOEXEC) != 0)
        {
            throw std::runtime_error("pipe2");
        }
        fcntl(ends[1], F_SETPIPE_SZ, 4096);
        saved = dup(STDOUT_FILENO);
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        reader = std::thread(
            [this]
            {
                char buffer[1024];
                for (ssize_t size; (size = read(ends[0], buffer, sizeof buffer)) > 0;)
                {
                    received.append(buffer, static_cast<std::size_t>(size));
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            });
    }
    ~SlowlyReadStandardOutput() { Restore(); }
    SlowlyReadStandardOutput(const SlowlyReadStandardOutput&) = delete;
    SlowlyReadStandardOutput& operator=(const SlowlyReadStandardOutput&) = delete;

    std::vector<std::string> Lines()
    {
        Restore();
        return ozr::testing::SplitLines(received);
    }

private:
    void Restore()
    {
        if (saved < 0)
        {
            return;
        }
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
        reader.join();
        close(ends[0]);
    }

    int ends[2] = {-1, -1};
    int saved = -1;
    std::string received;
    std::thread reader;
};

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

// Standard output is /dev/null, or a pipe that nobody reads: the drain at exit, or that of the last
// ShutdownLogging, writes every line to the file, and the process ends on its own (the console gives up
// on the stalled pipe).
TEST_F(ProcessTest, ExitingWithoutShutdownWritesEverythingQueued)
{
    struct Case
    {
        const char* zone;
        bool stalledPipe;
        bool shutsDown;
    };
    for (const Case& each :
         {Case{"Net", false, false}, Case{"Stalled", true, false}, Case{"Shut", true, true}})
    {
        const bool exited = RunChild(
            [&each]
            {
                int pipeEnds[2];
                if (each.stalledPipe && pipe(pipeEnds) == 0)
                {
                    dup2(pipeEnds[1], STDOUT_FILENO);  // the read end stays open and unread
                }
                else
                {
                    std::freopen("/dev/null", "w", stdout);
                }
                InitialiseLogging(each.zone);
                LogNumbered(each.zone, "line", 5000);
                if (each.shutsDown)
                {
                    ShutdownLogging(each.zone);
                }
            });
        EXPECT_TRUE(exited) << each.zone;
        EXPECT_EQ(Texts(ReadLines(LogFile(each.zone))), Numbered("line", 5000)) << each.zone;
    }
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
// bounded by the queue's bound: beyond it such calls are dropped and counted rather than queued.
TEST_F(ProcessTest, MessagesLoggedAfterTheLastShutdownAreWrittenAtExitUpToABound)
{
    constexpr int Calls = 20000;
    const auto counted = root / "dropped.txt";
    EXPECT_TRUE(RunChild(
        [&counted]
        {
            std::freopen("/dev/null", "w", stdout);
            SetLoggingQueueLimit(512 * 1024);
            InitialiseLogging("Net");
            LogNumbered("Net", "running", 3);
            ShutdownLogging("Net");
            LogNumbered("Net", "stopped", Calls);
            std::ofstream(counted) << GetLoggingStatistics().queueDropped;
        }));
    const auto texts = Texts(ReadLines(LogFile("Net")));
    const std::size_t dropped = std::stoul(ozr::testing::ReadFile(counted));
    ASSERT_GT(dropped, 0U);
    ASSERT_GT(texts.size(), 1000U);
    EXPECT_EQ(texts.size() - 3 + dropped, std::size_t{Calls}) << "every call is written or counted";
    auto expected = Numbered("running", 3);
    const auto stopped = Numbered("stopped", static_cast<int>(texts.size() - 3));
    expected.insert(expected.end(), stopped.begin(), stopped.end());
    EXPECT_EQ(texts, expected);
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
// must end on their own, and the parent's output must be complete and its own: standard output, a pipe
// that is often full, never shows one of the parent's lines twice.
TEST_F(ProcessTest, ForkedChildrenNeitherHangNorDisturbTheParent)
{
    SlowlyReadStandardOutput capture;
    InitialiseLogging("Net");
    std::atomic<bool> stop{false};
    std::atomic<bool> pause{false};
    std::atomic<bool> paused{false};
    std::thread busy(
        [&stop, &pause, &paused]
        {
            for (int number = 0; !stop; ++number)
            {
                paused = pause.load();
                while (pause && !stop)
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                paused = false;
                ToLog("Busy", Severity::Error, __FILE__, __LINE__, 2, "busy %d", number);
                while (GetLoggingStatistics().accepted - GetLoggingStatistics().consoleLinesWritten > 64)
                {
                    std::this_thread::yield();  // the worker keeps writing small batches; the queue stays
                                                // short
                }
            }
        });
    LogNumbered("Net", "before", 100);

    // AddressSanitizer's allocator takes no lock across fork (see AChildThatInitialisesGetsAWorkerOfItsOwn),
    // so there the busy thread pauses and the worker goes idle before each child that allocates.
    const auto runChild = [&](auto body)
    {
#if defined(__SANITIZE_ADDRESS__)
        pause = true;
        while (!paused)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        FlushLogging();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
#endif
        const bool ended = RunChild(body);
        pause = false;
        return ended;
    };
    EXPECT_TRUE(runChild(
        []
        {
            LogNumbered("Net", "child", 10);
            _exit(0);
        }));
    EXPECT_TRUE(runChild([] { LogNumbered("Net", "child", 10); }));
    EXPECT_TRUE(runChild(
        []
        {
            LogNumbered("Net", "child", 10);
            execl("/bin/true", "true", static_cast<char*>(nullptr));
            _exit(1);
        }));
    EXPECT_TRUE(runChild([] { ShutdownLogging("Net"); }));
#if !defined(__SANITIZE_THREAD__)  // the sanitizer's own state is not fit for a child forked this way
    // A child flushes at exit(0) the stdout buffer it inherited. The fork handlers flush it first, but the
    // worker may fill it again before the fork itself: these children are forked by the bare system call,
    // at any moment of the worker's writing, and flush what they inherited as exit(0) would.
    for (int child = 0; child < ChildrenForkedAnyTime; ++child)
    {
        const auto forked = static_cast<pid_t>(syscall(SYS_fork));
        if (forked == 0)
        {
            fflush_unlocked(stdout);
            _exit(0);
        }
        EXPECT_TRUE(ozr::testing::ExitedNormally(WaitForChild(forked)));
    }
#endif

    LogNumbered("Net", "after", 100);
    stop = true;
    busy.join();
    ShutdownLogging("Busy");
    ShutdownLogging("Net");

    auto expected = Numbered("before", 100);
    const auto after = Numbered("after", 100);
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), expected);
    std::vector<std::string> busyLines;
    for (const auto& line : capture.Lines())
    {
        if (line.find("] - busy ") != std::string::npos)
        {
            busyLines.push_back(line);
        }
    }
    std::sort(busyLines.begin(), busyLines.end());
    const auto repeated = std::adjacent_find(busyLines.begin(), busyLines.end());
    EXPECT_TRUE(repeated == busyLines.end()) << "a child wrote this line again: " << *repeated;
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
