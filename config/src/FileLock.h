#pragma once

#include <mutex>
#include <string>

#include "FileDescriptor.h"

namespace ozr::config::ini::detail
{

// An exclusive advisory lock (flock) on a lock file, held from construction to destruction. Each lock
// opens its own file description, so it excludes other threads of this process as well as other
// processes. The lock file is created when missing and never removed: removing it would let a waiting
// writer lock an unlinked file while a newcomer locks a fresh one.
//
// A flock belongs to the open file description, which a forked child shares: a child forked while one
// was held would keep it until the child exits, blocking the parent's next write and deadlocking the
// child's own. So every lock of the process also holds one process-wide mutex, and fork handlers hold
// that mutex across fork(): no child is ever made while a lock is held.
class FileLock
{
public:
    // Throws std::system_error naming `lockPath` when the file cannot be opened or locked.
    explicit FileLock(const std::string& lockPath);

private:
    std::unique_lock<std::mutex> processLock;  // taken before the file lock, released after it
    FileDescriptor fd;
};

}  // namespace ozr::config::ini::detail
