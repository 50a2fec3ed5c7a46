// Verbosity changes while another process holds a zone's settings file, and while the process forks.

#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "Scenario.h"
#include "ozr/config/Ini.h"
#include "ozr/logging/LoggerManager.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadLines;
using ozr::testing::StdoutCapture;
using ozr::testing::Texts;

using SettingsFileTest = ozr::testing::Scenario;

// A child process that holds an flock on a file until released (at most 20 s).
class LockHolder
{
public:
    explicit LockHolder(const std::string& path)
    {
        int ready[2];
        if (pipe(ready) != 0)
        {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
        child = fork();
        if (child == 0)
        {
            const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
            const char locked = fd >= 0 && flock(fd, LOCK_EX) == 0 ? '1' : '0';
            [[maybe_unused]] const ssize_t sent = write(ready[1], &locked, 1);
            sleep(20);
            _exit(0);
        }
        close(ready[1]);
        char locked = '0';
        [[maybe_unused]] const ssize_t received = read(ready[0], &locked, 1);
        close(ready[0]);
        EXPECT_EQ(locked, '1') << "the helper process could not lock " << path;
    }
    ~LockHolder() { Release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    void Release()
    {
        if (child > 0)
        {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            child = -1;
        }
    }

private:
    pid_t child = -1;
};

Severity VerbosityOf(const char* zone)
{
    return GetLoggerManager().GetLogger(zone)->GetVerbosity();
}

// The wait for the settings file is bounded, and nothing else waits for it: log calls of other zones on
// other threads and the shutdown of another zone go on while it lasts.
TEST_F(SettingsFileTest, AnotherProcessHoldingTheSettingsLockDelaysOnlyThatVerbosityWrite)
{
    StdoutCapture capture(root / "stdout.txt");
    const std::string settings = (config / "A.Logging.ini").string();
    for (const char* zone : {"A", "B", "C"})
    {
        InitialiseLogging(zone);
    }
    LockHolder holder(settings + ".lock");
    std::atomic<bool> changing{true};
    std::string error;
    std::thread changer(
        [&]
        {
            try
            {
                SetLoggingVerbosity(Severity::Trace, "A");
            }
            catch (const std::system_error& thrown)
            {
                error = thrown.what();
            }
            changing = false;
        });
    while (VerbosityOf("A") != Severity::Trace)
    {
        std::this_thread::yield();
    }
    std::thread([] { ToLog("C", Severity::Error, __FILE__, __LINE__, 1, "logged meanwhile"); }).join();
    ShutdownLogging("B");
    EXPECT_TRUE(changing) << "a log call or a shutdown waited for the settings file's lock";
    changer.join();
    EXPECT_NE(error.find(settings), std::string::npos) << "error: " << error;
    EXPECT_EQ(VerbosityOf("A"), Severity::Trace) << "the new verbosity stays in force";

    holder.Release();
    SetLoggingVerbosity(Severity::Info, "A");
    EXPECT_EQ(ozr::config::ini::ReadString(std::string("OZRLogging"), "LogLevel", "", settings), "Info");
    ShutdownLogging("A");
    ShutdownLogging("C");
    EXPECT_EQ(Texts(ReadLines(LogFile("C"))), std::vector<std::string>{"logged meanwhile"});
}

// Forking takes every lock that is held across fork(); with verbosity changes and shutdowns on other
// threads, each of them must come in one order.
TEST_F(SettingsFileTest, ForkingWhileVerbositiesChangeAndZonesShutDownNeverDeadlocks)
{
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("A");
    InitialiseLogging("B");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    const auto running = [end] { return std::chrono::steady_clock::now() < end; };
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
    const auto repeat = [&](auto step)
    {
        return std::thread(
            [&, step]
            {
                for (int round = 0; running(); ++round)
                {
                    step(round);
                }
                const std::lock_guard<std::mutex> lock(mutex);
                ++done;
                finished.notify_one();
            });
    };
    std::thread threads[] = {
        repeat(
            [](int)
            {
                const pid_t child = fork();
                if (child == 0)
                {
                    _exit(0);
                }
                waitpid(child, nullptr, 0);
            }),
        repeat([](int round)
               { SetLoggingVerbosity(round % 2 == 0 ? Severity::Trace : Severity::Info, "A"); }),
        repeat(
            [](int)
            {
                InitialiseLogging("B");
                ShutdownLogging("B");
            }),
    };
    std::unique_lock<std::mutex> lock(mutex);
    if (!finished.wait_for(lock, std::chrono::seconds(30), [&] { return done == 3; }))
    {
        std::fprintf(stderr, "fork, SetLoggingVerbosity and ShutdownLogging deadlocked\n");
        std::_Exit(1);
    }
    lock.unlock();
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    ShutdownLogging("A");
}

}  // namespace
