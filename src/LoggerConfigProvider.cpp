#include "ozr/logging/LoggerConfigProvider.h"

#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "ReadValue.h"
#include "ozr/config/Ini.h"

namespace ozr::logging
{

namespace
{

const std::optional<std::string> g_section{"OZRLogging"};
constexpr std::string_view g_logLevelKey = "LogLevel";
constexpr std::string_view g_logQueueKey = "LogQueue";
constexpr std::string_view g_watchSettingsKey = "WatchSettings";

}  // namespace

LoggerConfigProvider::LoggerConfigProvider(std::string path) : configFilePath(std::move(path)) {}

LoggerConfig LoggerConfigProvider::GetConfig() const
{
    const SharedLockGuard lock(mutex);
    const Severity level = ReadLogLevel().value_or(Severity::Warning);
    const bool logQueue = ozr::config::ini::ReadSwitch(g_section, g_logQueueKey, configFilePath);
    const bool watchSettings =
        ozr::config::ini::ReadValue(g_section, g_watchSettingsKey, 0L, configFilePath) != 0;
    return LoggerConfig{level, logQueue, watchSettings};
}

void LoggerConfigProvider::SetConfig(const LoggerConfig& config) const
{
    SetConfig([&config] { return config; });
}

void LoggerConfigProvider::SetConfig(const std::function<LoggerConfig()>& current) const
{
    SetLogLevel([&current] { return current().verbosity; });
}

void LoggerConfigProvider::SetLogLevel(const std::function<Severity()>& current) const
{
    if (configFilePath.empty())
    {
        return;  // a zone whose name cannot be placed keeps its level in memory only
    }
    const LockGuard<SharedMutex> lock(mutex);
    ozr::config::ini::WriteString(g_section, std::string(g_logLevelKey), SeverityToString(current()),
                                  configFilePath);
}

std::optional<Severity> LoggerConfigProvider::ReadLogLevel() const
{
    const std::string level = ozr::config::ini::ReadString(g_section, g_logLevelKey, {}, configFilePath);
    return ParseSeverity(level.c_str());
}

}  // namespace ozr::logging
