#include "ozr/logging/appender/console/ConfigProvider.h"

#include <utility>

#include "ReadChoice.h"
#include "ReadValue.h"
#include "appender/LineLayout.h"

namespace ozr::logging::appender::console
{
namespace
{

const std::string ConfigSection = "Console";

}  // namespace

ConfigProvider::ConfigProvider(std::string configFilePath) : configFilePath(std::move(configFilePath)) {}

Config ConfigProvider::GetConfig() const
{
    Config config;
    config.enabled = config::ini::ReadSwitch(ConfigSection, "Enabled", configFilePath);
    config.format = ReadLineFormat(ConfigSection, configFilePath);
    config.stream = config::ini::ReadChoice(
        ConfigSection, "Stream",
        {{"stdout", OutputStream::StandardOutput}, {"stderr", OutputStream::StandardError}},
        OutputStream::StandardOutput, configFilePath);
    return config;
}

}  // namespace ozr::logging::appender::console
