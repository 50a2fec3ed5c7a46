#include "FileLock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <new>
#include <thread>

#include "SystemError.h"

namespace ozr::config::ini::detail
{
namespace
{

using Clock = std::chrono::steady_clock;

constexpr mode_t g_newFileMode = 0666;  // Narrowed by the umask, as for any new file.
constexpr std::chrono::microseconds g_poll{500};

// Writers of this process take turns: g_turnTaken, guarded by g_turnMutex, says whether one is writing.
// Never taken by the fork handlers.
std::mutex g_turnMutex;
std::condition_variable g_turnFree;
bool g_turnTaken = false;
// Guards the descriptor of the lock file that this process has open (at most one, as writers take turns).
std::mutex g_descriptorMutex;
int g_lockDescriptor = -1;

void LockForFork()
{
    g_descriptorMutex.lock();
}

void UnlockInParent()
{
    g_descriptorMutex.unlock();
}

// The child's only thread is the one that forked, so it is neither writing nor holding the file lock,
// whatever the parent's threads were doing: the child lets go of its copy of the lock file and starts
// with the writers' turn free.
void UnlockInChild()
{
    if (g_lockDescriptor >= 0)
    {
        ::close(g_lockDescriptor);
        g_lockDescriptor = -1;
    }
    new (&g_turnMutex) std::mutex();
    new (&g_turnFree) std::condition_variable();
    g_turnTaken = false;
    g_descriptorMutex.unlock();
}

// At load time, before any library that uses this one can register handlers of its own.
[[maybe_unused]] const int g_forkHandlersRegistered =
    pthread_atfork(&LockForFork, &UnlockInParent, &UnlockInChild);

// Read-only access is enough for flock; it serves a writer who may not write to another user's lock file.
int OpenLockFile(const std::string& lockPath)
{
    const std::lock_guard<std::mutex> lock(g_descriptorMutex);
    const int fd = RetryOnInterrupt(
        [&]
        {
            const int readWrite =
                ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, g_newFileMode);
            return readWrite < 0 && errno == EACCES
                       ? ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)
                       : readWrite;
        });
    if (fd < 0)
    {
        ThrowLastError("open the lock file", lockPath);
    }
    g_lockDescriptor = fd;
    return fd;
}

void CloseLockFile(int fd)
{
    const std::lock_guard<std::mutex> lock(g_descriptorMutex);
    ::close(fd);
    g_lockDescriptor = -1;
}

// Polls, since a blocking flock cannot be given a deadline. Often, so that a waiter finds the short gaps
// between the writes of a busy writer elsewhere.
void LockBefore(int fd, Clock::time_point deadline, const std::string& lockPath)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR)
        {
            ThrowSystemError(error, "lock", lockPath);
        }
        if (Clock::now() >= deadline)
        {
            ThrowSystemError(EWOULDBLOCK, "lock (held elsewhere for too long)", lockPath);
        }
        std::this_thread::sleep_for(g_poll);
    }
}

void TakeTurn(Clock::time_point deadline, const std::string& lockPath)
{
    std::unique_lock<std::mutex> lock(g_turnMutex);
    if (!g_turnFree.wait_until(lock, deadline, [] { return !g_turnTaken; }))
    {
        ThrowSystemError(EWOULDBLOCK, "lock (busy in this process for too long)", lockPath);
    }
    g_turnTaken = true;
}

void GiveTurn()
{
    {
        const std::lock_guard<std::mutex> lock(g_turnMutex);
        g_turnTaken = false;
    }
    g_turnFree.notify_one();
}

}  // namespace

FileLock::FileLock(const std::string& lockPath)
{
    const Clock::time_point deadline = Clock::now() + LockWait;
    TakeTurn(deadline, lockPath);
    try
    {
        fd = OpenLockFile(lockPath);
        try
        {
            LockBefore(fd, deadline, lockPath);
        }
        catch (...)
        {
            CloseLockFile(fd);
            throw;
        }
    }
    catch (...)
    {
        GiveTurn();
        throw;
    }
}

FileLock::~FileLock()
{
    CloseLockFile(fd);
    GiveTurn();
}

}  // namespace ozr::config::ini::detail
