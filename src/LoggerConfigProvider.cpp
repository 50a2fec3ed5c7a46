#include "ozr/logging/LoggerConfigProvider.h"

#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "ozr/config/Ini.h"

namespace ozr::logging
{

namespace
{

const std::optional<std::string> g_section{"OZRLogging"};
constexpr std::string_view g_logLevelKey = "LogLevel";
constexpr std::string_view g_logQueueKey = "LogQueue";
constexpr std::string_view g_defaultLogLevel = "Warning";

// Only a text whose leading number reads as zero gives false; an empty or unreadable text gives true.
bool ParseLogQueue(const std::string& text)
{
    if (text.empty())
    {
        return true;
    }
    std::istringstream stream(text);
    bool value = true;
    stream >> value;
    return stream.fail() ? true : value;
}

}  // namespace

LoggerConfigProvider::LoggerConfigProvider(std::string path) : configFilePath(std::move(path)) {}

LoggerConfig LoggerConfigProvider::GetConfig() const
{
    std::shared_lock<std::shared_mutex> lock(mutex);
    const std::string level =
        ozr::config::ini::ReadString(g_section, g_logLevelKey, g_defaultLogLevel, configFilePath);
    const std::string queue = ozr::config::ini::ReadString(g_section, g_logQueueKey, {}, configFilePath);
    return LoggerConfig{SeverityFromString(level.c_str()), ParseLogQueue(queue)};
}

void LoggerConfigProvider::SetConfig(const LoggerConfig& config) const
{
    std::unique_lock<std::shared_mutex> lock(mutex);
    ozr::config::ini::WriteString(g_section, std::string(g_logLevelKey), SeverityToString(config.verbosity),
                                  configFilePath);
}

}  // namespace ozr::logging
