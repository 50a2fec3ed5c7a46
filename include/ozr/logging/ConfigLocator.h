#pragma once

#include <filesystem>
#include <forward_list>
#include <mutex>
#include <string>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging
{

// Computes the paths of settings files; never creates, opens or reads one. Lookups may run on any
// number of threads at once: each copies the search list under a short lock and searches without it.
class OZR_LOGGING_API IConfigLocator
{
public:
    virtual ~IConfigLocator() = default;
    // "<zone>.Logging.ini"; the application name stands in for a null or empty zone. Empty for a zone
    // name that would place the file outside the directory (one holding '/' or "..").
    virtual std::string GetZoneConfigFilePath(const char* zone) const = 0;
    // "<name>.ini", e.g. "syslog.ini".
    virtual std::string GetGlobalConfigFilePath(const std::string& name) const = 0;
    // Replaces the search list by this one directory.
    virtual void SetConfigDirectoryPath(std::filesystem::path directory) = 0;
};

class OZR_LOGGING_API ConfigLocator final : public IConfigLocator
{
public:
    explicit ConfigLocator(const IApplicationInfoProvider& applicationInfoProvider);

    std::string GetZoneConfigFilePath(const char* zone) const override;
    std::string GetGlobalConfigFilePath(const std::string& name) const override;
    void SetConfigDirectoryPath(std::filesystem::path directory) override;

    // The first existing "<directory>/<name>.ini" of the search list, or the candidate in the first
    // directory when none exists.
    std::string GetConfigFilePath(std::string name) const;

    // For the logger manager's fork handlers: the lock is held across fork(), so that no other thread
    // holds it then, and released after it in the parent and in the child.
    void LockForFork() const OZR_ACQUIRE(mutex);
    void UnlockAfterFork() const OZR_RELEASE(mutex);

private:
    const IApplicationInfoProvider& applicationInfoProvider;
    mutable Mutex mutex;  // held for no search
    std::forward_list<std::filesystem::path> configDirectoryPaths OZR_GUARDED_BY(mutex);
};

}  // namespace ozr::logging
