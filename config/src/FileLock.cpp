#include "FileLock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>

#include <cerrno>

#include "SystemError.h"

namespace ozr::config::ini::detail
{
namespace
{

constexpr mode_t g_newFileMode = 0666;  // Narrowed by the umask, as for any new file.

// Read-only access is enough for flock; it serves a writer who may not write to another user's lock file.
int OpenLockFile(const std::string& lockPath)
{
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, g_newFileMode);
    if (fd < 0 && errno == EACCES)
    {
        return ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    return fd;
}

std::mutex g_processMutex;

void LockForFork()
{
    g_processMutex.lock();
}
void UnlockAfterFork()
{
    g_processMutex.unlock();
}

std::mutex& ProcessMutex()
{
    static const int registered = pthread_atfork(&LockForFork, &UnlockAfterFork, &UnlockAfterFork);
    static_cast<void>(registered);
    return g_processMutex;
}

}  // namespace

FileLock::FileLock(const std::string& lockPath) : processLock(ProcessMutex()), fd(OpenLockFile(lockPath))
{
    if (!fd.IsOpen())
    {
        ThrowLastError("open the lock file", lockPath);
    }
    int result = 0;
    do
    {
        result = ::flock(fd.Get(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
    {
        ThrowLastError("lock", lockPath);
    }
}

}  // namespace ozr::config::ini::detail
