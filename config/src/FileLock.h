#pragma once

#include <chrono>
#include <string>

namespace ozr::config::ini::detail
{

// An exclusive advisory lock (flock) on a lock file, held from construction to destruction, so that
// writers in other processes take turns. The lock file is created when missing and never removed:
// removing it would let a waiting writer lock an unlinked file while a newcomer locks a fresh one.
//
// Waiting is bounded: when the lock cannot be had within `LockWait` (another process keeps it: a hung
// holder on a network file system, a stopped process), the constructor throws. Writers of this process
// take turns first, within the same bound, so that only other processes are ever polled for the file
// lock.
//
// A flock belongs to the open file description, which a forked child shares: a child that kept a copy
// would hold its parent's lock until it exits, and its own write would wait for itself. A fork handler
// therefore closes the child's copy of the lock file's descriptor. The descriptor is opened and closed
// under a small mutex that the handler holds across fork(), never while waiting for the file lock, so
// fork() never waits for another process.
//
// Lock order in this library: the writers' turn, then the descriptor mutex (a leaf). A caller may hold
// locks of its own around a write; those come first. The fork handler is registered when this library
// is loaded, before any handler of a library that uses it, and fork() runs the prepare handlers in
// reverse order of registration: so a user's locks taken by its own prepare handler (the logging
// library's registry locks) are taken before the descriptor mutex, the same order as in a write.
class FileLock
{
public:
    static constexpr std::chrono::milliseconds LockWait{3000};

    // Throws std::system_error naming `lockPath` when the file cannot be opened, or not locked in time.
    explicit FileLock(const std::string& lockPath);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd = -1;
};

}  // namespace ozr::config::ini::detail
