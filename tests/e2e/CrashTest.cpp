// Processes that crash after logging, with the crash handler installed: what they logged is written, and
// they end as the crash would have ended them.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "Scenario.h"

// The sanitizers' own handlers would report a crash and exit instead of dying of the signal.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "detect_leaks=0:handle_segv=0:handle_abort=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0";
}
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options()
{
    return "handle_segv=0:handle_abort=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0";
}
#endif

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadLines;
using ozr::testing::WaitForChild;

using CrashTest = ozr::testing::Scenario;

// Generous: a sanitized worker writes slowly. The scenarios that test the bound give their own.
constexpr unsigned DrainBoundMs = 60000;

// A real fault, but no undefined behaviour for the sanitizers to report first.
[[noreturn]] void WriteToAnInaccessiblePage()
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
    std::abort();
}

void SendStdoutTo(const char* path)
{
    const int target = open(path, O_WRONLY);
    dup2(target, STDOUT_FILENO);
    close(target);
}

void LogNumbered(const char* zone, int threads, int linesPerThread)
{
    std::vector<std::thread> loggers;
    for (int thread = 0; thread < threads; ++thread)
    {
        loggers.emplace_back(
            [=]
            {
                for (int line = 0; line < linesPerThread; ++line)
                {
                    ToLog(zone, Severity::Error, __FILE__, __LINE__, thread, "line %d of %d", line, thread);
                }
            });
    }
    for (auto& logger : loggers)
    {
        logger.join();
    }
}

bool DiedOf(int status, int signal)
{
    return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

// Where the kernel writes cores as files into the working directory, a crash still leaves one.
bool CoresAreFiles()
{
    std::ifstream pattern("/proc/sys/kernel/core_pattern");
    std::string text;
    std::getline(pattern, text);
    return !text.empty() && text.front() != '|';
}

// 100,000 lines from 4 threads, then a write to an inaccessible page: every line is in the file, the child
// dies of SIGSEGV and dumps core. Then abort() with the application's own handler installed first: that
// handler runs after the lines are written, and the child dies of SIGABRT.
TEST_F(CrashTest, WritesEverythingLoggedBeforeTheCrashAndEndsByTheSignal)
{
    const pid_t segv = fork();
    if (segv == 0)
    {
        SendStdoutTo("/dev/null");
        rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_CORE, &unlimited);
        std::filesystem::current_path(root.Path());
        InitialiseLogging("Net");
        InstallLoggingCrashHandler(DrainBoundMs);
        LogNumbered("Net", 4, 25000);
        WriteToAnInaccessiblePage();
    }
    const int segvStatus = WaitForChild(segv, std::chrono::seconds(120));
    EXPECT_TRUE(DiedOf(segvStatus, SIGSEGV)) << segvStatus;
    if (CoresAreFiles())
    {
        EXPECT_TRUE(WCOREDUMP(segvStatus)) << "where the system writes cores, a core is written";
    }
    EXPECT_EQ(ReadLines(LogFile("Net")).size(), 100000U);

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t abortion = fork();
    if (abortion == 0)
    {
        static int reportTo = report[1];
        static std::string file = LogFile("Abort").string();
        struct sigaction own
        {
        };
        own.sa_handler = [](int)
        {
            const std::uintmax_t size = std::filesystem::file_size(file);
            write(reportTo, &size, sizeof size);
            signal(SIGABRT, SIG_DFL);
            raise(SIGABRT);
        };
        sigaction(SIGABRT, &own, nullptr);
        SendStdoutTo("/dev/null");
        InitialiseLogging("Abort");
        InstallLoggingCrashHandler(DrainBoundMs);
        LogNumbered("Abort", 4, 25000);
        std::abort();
    }
    close(report[1]);
    std::uintmax_t sizeSeenByTheApplication = 0;
    EXPECT_EQ(read(report[0], &sizeSeenByTheApplication, sizeof sizeSeenByTheApplication),
              static_cast<ssize_t>(sizeof sizeSeenByTheApplication));
    close(report[0]);
    EXPECT_TRUE(DiedOf(WaitForChild(abortion), SIGABRT));
    EXPECT_EQ(ReadLines(LogFile("Abort")).size(), 100000U);
    EXPECT_EQ(sizeSeenByTheApplication, std::filesystem::file_size(LogFile("Abort")));
}

// What ends the wait early: no worker running (a forked child that never started one), a crash on the
// worker itself; standard output a
// pipe nobody reads ends it at the bound at the latest, with the files written. Deep recursion on a thread
// that gave itself a signal stack still runs the handler.
TEST_F(CrashTest, EndsWithoutAWorkerAtTheBoundOrOnAnOverflowedStack)
{
    const pid_t noWorker = fork();
    if (noWorker == 0)
    {
        SendStdoutTo("/dev/null");
        InstallLoggingCrashHandler(600000);
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "queued for a worker that never starts");
        WriteToAnInaccessiblePage();
    }
    EXPECT_TRUE(DiedOf(WaitForChild(noWorker, std::chrono::seconds(60)), SIGSEGV)) << "raised at once";

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer runs a thread of its own beside the worker
    const pid_t onTheWorker = fork();
    if (onTheWorker == 0)
    {
        SendStdoutTo("/dev/null");
        InitialiseLogging("Net");
        InstallLoggingCrashHandler(600000);
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "the worker is running");
        FlushLogging();  // returns once the worker has run, so it is known as the worker
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        {
            const pid_t thread = std::stoi(task.path().filename().string());
            if (thread != getpid())
            {
                syscall(SYS_tgkill, getpid(), thread, SIGSEGV);  // the worker, the only other thread
            }
        }
        pause();
    }
    EXPECT_TRUE(DiedOf(WaitForChild(onTheWorker, std::chrono::seconds(60)), SIGSEGV))
        << "it cannot wait for itself";

    // A child forked from a process with the handler inherits it: with a worker of its own it drains it.
    const pid_t parent = fork();
    if (parent == 0)
    {
        SendStdoutTo("/dev/null");
        InitialiseLogging("Parent");
        InstallLoggingCrashHandler(DrainBoundMs);
        FlushLogging();  // the worker idle at the fork
        const pid_t child = fork();
        if (child == 0)
        {
            InitialiseLogging("Child");
            LogNumbered("Child", 4, 10000);
            WriteToAnInaccessiblePage();
        }
        _exit(DiedOf(WaitForChild(child, std::chrono::seconds(120)), SIGSEGV) ? 0 : 1);
    }
    EXPECT_TRUE(ozr::testing::ExitedNormally(WaitForChild(parent, std::chrono::seconds(150))));
    EXPECT_EQ(ReadLines(LogFile("Child")).size(), 40000U);
#endif

    int unread[2];
    ASSERT_EQ(pipe(unread), 0);
    const pid_t blocked = fork();
    if (blocked == 0)
    {
        close(unread[0]);
        dup2(unread[1], STDOUT_FILENO);
        InitialiseLogging("Blocked");
        InstallLoggingCrashHandler(5000);
        LogNumbered("Blocked", 1, 20000);
        WriteToAnInaccessiblePage();
    }
    close(unread[1]);
    EXPECT_TRUE(DiedOf(WaitForChild(blocked, std::chrono::seconds(60)), SIGSEGV)) << "at the bound";
    close(unread[0]);
    EXPECT_EQ(ReadLines(LogFile("Blocked")).size(), 20000U) << "the files do not wait for the console";

    const pid_t overflow = fork();
    if (overflow == 0)
    {
        SendStdoutTo("/dev/null");
        InitialiseLogging("Deep");
        InstallLoggingCrashHandler(DrainBoundMs);
        LogNumbered("Deep", 4, 25000);
        std::thread(
            []
            {
                std::vector<char> signalStack(256 * 1024);
                const stack_t stack{signalStack.data(), 0, signalStack.size()};
                sigaltstack(&stack, nullptr);
                struct Recursion
                {
                    static int Down(volatile int depth)
                    {
                        volatile char frame[512];
                        frame[0] = static_cast<char>(depth);
                        return depth < 0 ? 0 : Down(depth + 1) + frame[0];  // never ends
                    }
                };
                Recursion::Down(0);
            })
            .join();
    }
    EXPECT_TRUE(DiedOf(WaitForChild(overflow, std::chrono::seconds(120)), SIGSEGV));
    EXPECT_EQ(ReadLines(LogFile("Deep")).size(), 100000U);
}

}  // namespace
