#pragma once

#include <string>

#include "FileDescriptor.h"

namespace ozr::config::ini::detail
{

// An exclusive advisory lock (flock) on a lock file, held from construction to destruction. Each lock
// opens its own file description, so it excludes other threads of this process as well as other
// processes. The lock file is created when missing and never removed: removing it would let a waiting
// writer lock an unlinked file while a newcomer locks a fresh one.
class FileLock
{
public:
    // Throws std::system_error naming `lockPath` when the file cannot be opened or locked.
    explicit FileLock(const std::string& lockPath);

private:
    FileDescriptor fd;
};

}  // namespace ozr::config::ini::detail
