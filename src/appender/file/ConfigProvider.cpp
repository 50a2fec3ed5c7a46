#include "ozr/logging/appender/file/ConfigProvider.h"

#include <strings.h>

#include <algorithm>
#include <limits>
#include <mutex>
#include <utility>

#include "ReadValue.h"
#include "ZoneName.h"
#include "appender/LineLayout.h"
#include "ozr/config/Ini.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::appender::file
{
namespace
{

const std::string ConfigSection = "FileAppender";
constexpr std::uint64_t DefaultMaxFileSizeMB = 15;
constexpr unsigned BytesPerMebibyteShift = 20;

Mutex g_mutex;
// Never destroyed: a thread that outlives main may still set it while the process exits.
std::filesystem::path& g_defaultLogDirectory OZR_GUARDED_BY(g_mutex) =
    *new std::filesystem::path("/var/ostrel/logs");

// Saturates instead of wrapping: a size of 2^44 MiB or more would otherwise become a tiny limit.
std::uint64_t MebibytesToBytes(std::uint64_t mebibytes)
{
    constexpr std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    if (mebibytes > (largest >> BytesPerMebibyteShift))
    {
        return largest;
    }
    return mebibytes << BytesPerMebibyteShift;
}

// The zone's name in its file names; empty when the name cannot be placed inside the log directory, so
// that the appender drops and counts the zone's lines rather than write them elsewhere.
std::string BaseName(const char* zone, const IApplicationInfoProvider& applicationInfoProvider)
{
    if (IsDefaultZone(zone))
    {
        return applicationInfoProvider.GetApplicationName();
    }
    return IsPlaceableZoneName(zone) ? std::string(zone) : std::string();
}

// "never", "hourly" or "daily" in any letter case; anything else keeps the default, never.
RotationInterval ReadRotationInterval(const std::string& configFilePath)
{
    const std::string text =
        config::ini::ReadString(ConfigSection, "RotationInterval", std::string_view{}, configFilePath);
    if (strcasecmp(text.c_str(), "hourly") == 0)
    {
        return RotationInterval::Hourly;
    }
    if (strcasecmp(text.c_str(), "daily") == 0)
    {
        return RotationInterval::Daily;
    }
    return RotationInterval::Never;
}

std::filesystem::path DefaultLogDirectory()
{
    const LockGuard<Mutex> lock(g_mutex);
    return g_defaultLogDirectory;
}

}  // namespace

ConfigProvider::ConfigProvider(const IApplicationInfoProvider& applicationInfoProvider, char const* zone,
                               std::string configFilePath)
    : applicationInfoProvider(applicationInfoProvider), zone(zone), configFilePath(std::move(configFilePath))
{
}

Config ConfigProvider::GetConfig() const
{
    using config::ini::ReadString;
    using config::ini::ReadValue;

    Config config;
    // An empty "LogDirectory" names no directory, so it falls back to the default like a missing key.
    config.logDirectory = ReadString(ConfigSection, "LogDirectory", std::string_view{}, configFilePath);
    if (config.logDirectory.empty())
    {
        config.logDirectory = DefaultLogDirectory();
    }
    config.baseName = BaseName(zone, applicationInfoProvider);
    config.maxFileSize = MebibytesToBytes(
        ReadValue<std::uint64_t>(ConfigSection, "MaxFileSizeMB", DefaultMaxFileSizeMB, configFilePath));
    // Zero files would leave nowhere to write; the current file always counts.
    config.maxFileCount = std::max<std::uint64_t>(
        1,
        ReadValue<std::uint64_t>(ConfigSection, "MaxFileCount", Config::DefaultMaxFileCount, configFilePath));
    config.rotationInterval = ReadRotationInterval(configFilePath);
    config.enabled = config::ini::ReadSwitch(ConfigSection, "Enabled", configFilePath);
    config.format = ReadLineFormat(ConfigSection, configFilePath);
    return config;
}

void ConfigProvider::SetDefaultLogDirectory(std::filesystem::path directory)
{
    const LockGuard<Mutex> lock(g_mutex);
    g_defaultLogDirectory.swap(directory);  // the old path is freed after the lock is released
}

// Across fork the lock is held from the prepare handler to the parent's or child's; the analysis cannot
// follow a lock that one function takes and another releases.
void ConfigProvider::LockForFork() OZR_NO_THREAD_SAFETY_ANALYSIS
{
    g_mutex.lock();
}

void ConfigProvider::UnlockAfterFork() OZR_NO_THREAD_SAFETY_ANALYSIS
{
    g_mutex.unlock();
}

}  // namespace ozr::logging::appender::file
