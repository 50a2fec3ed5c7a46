#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/appender/LineFormat.h"

namespace ozr::logging::appender::file
{

// Besides the size limit, the current file may also be rotated at the first line of each new local hour
// or day, judged by the lines' own time stamps.
enum class RotationInterval
{
    Never,
    Hourly,
    Daily,
};

// A zone's file appender settings, read once and fixed for the appender's life.
struct OZR_LOGGING_API Config
{
    static constexpr std::uint64_t DefaultMaxFileCount = 6;

    std::filesystem::path logDirectory;
    std::string baseName;        // zone name, or the application name for the default zone; empty when
                                 // the zone name cannot be placed in the directory ('/' or "..")
    std::uint64_t maxFileSize;   // bytes; the current file is rotated once it is larger
    std::uint64_t maxFileCount;  // files retained, the current one included
    bool enabled;
    LineFormat format = LineFormat::Text;  // of each line in the files
    // Last and with a default, so that records filled in by position keep their meaning.
    RotationInterval rotationInterval = RotationInterval::Never;
};

// Reads section "FileAppender" of a zone's settings file. Any thread; the process-wide default log
// directory is guarded by a mutex, held only to copy or replace it, so SetDefaultLogDirectory may run
// concurrently with reads.
class OZR_LOGGING_API ConfigProvider
{
public:
    ConfigProvider(const IApplicationInfoProvider& applicationInfoProvider, char const* zone,
                   std::string configFilePath);

    Config GetConfig() const;

    // The directory used when a zone's file names none; "/var/ostrel/logs" until replaced.
    static void SetDefaultLogDirectory(std::filesystem::path directory);

    // For the logger manager's fork handlers: the default directory's lock is held across fork(), so
    // that no other thread holds it then, and released after it in the parent and in the child.
    static void LockForFork();
    static void UnlockAfterFork();

private:
    const IApplicationInfoProvider& applicationInfoProvider;
    char const* zone;
    std::string configFilePath;
};

}  // namespace ozr::logging::appender::file
