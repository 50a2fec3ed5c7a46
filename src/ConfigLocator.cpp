#include "ozr/logging/ConfigLocator.h"

#include <mutex>
#include <utility>

#include "ConfigFileSearch.h"
#include "ZoneName.h"

namespace ozr::logging
{

namespace
{

const char* const g_defaultConfigDirectory = "/etc/ostrel/config";

}  // namespace

ConfigLocator::ConfigLocator(const IApplicationInfoProvider& applicationInfo)
    : applicationInfoProvider(applicationInfo), configDirectoryPaths{g_defaultConfigDirectory}
{
}

std::string ConfigLocator::GetZoneConfigFilePath(const char* zone) const
{
    if (!IsDefaultZone(zone) && !IsPlaceableZoneName(zone))
    {
        return {};
    }
    // Asked before the search takes the lock, so no other lock is ever taken while it is held.
    std::string baseName =
        IsDefaultZone(zone) ? applicationInfoProvider.GetApplicationName() : std::string(zone);
    return GetConfigFilePath(std::move(baseName) + ".Logging");
}

std::string ConfigLocator::GetGlobalConfigFilePath(const std::string& name) const
{
    return GetConfigFilePath(name);
}

void ConfigLocator::SetConfigDirectoryPath(std::filesystem::path directory)
{
    const LockGuard<Mutex> lock(mutex);
    configDirectoryPaths.clear();
    configDirectoryPaths.push_front(std::move(directory));
}

std::string ConfigLocator::GetConfigFilePath(std::string name) const
{
    name += ".ini";
    std::forward_list<std::filesystem::path> directories;
    {
        const LockGuard<Mutex> lock(mutex);
        directories = configDirectoryPaths;
    }
    return FindConfigFile(directories, name);
}

void ConfigLocator::LockForFork() const
{
    mutex.lock();
}

void ConfigLocator::UnlockAfterFork() const
{
    mutex.unlock();
}

}  // namespace ozr::logging
