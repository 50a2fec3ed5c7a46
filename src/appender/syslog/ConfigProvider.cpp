#include "ozr/logging/appender/syslog/ConfigProvider.h"

#include <istream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "ozr/config/Ini.h"

namespace ozr::logging::appender::syslog
{

namespace
{

constexpr char ConfigSection[] = "Syslog";
constexpr std::uint16_t g_defaultPort = 514;

// The number at the start of the text (after white space, trailing text ignored), or the default port
// when there is none (an empty text included) or it does not fit 16 bits. A minus sign counts as out of
// range: stream extraction would otherwise wrap "-1" to 65535.
std::uint16_t ParsePort(const std::string& text)
{
    std::istringstream stream(text);
    stream >> std::ws;
    if (stream.peek() == '-')
    {
        return g_defaultPort;
    }
    std::uint16_t port = 0;
    stream >> port;
    return stream.fail() ? g_defaultPort : port;
}

}  // namespace

const char Config::DefaultHost[1] = "";

ConfigProvider::ConfigProvider(std::string configFilePath) : configFilePath(std::move(configFilePath)) {}

Config ConfigProvider::GetConfig() const
{
    const std::optional<std::string> section(ConfigSection);
    std::string host = ozr::config::ini::ReadString(section, "Address", Config::DefaultHost, configFilePath);
    const std::string portText =
        ozr::config::ini::ReadString(section, "Port", std::string_view{}, configFilePath);
    return Config{std::move(host), ParsePort(portText)};
}

}  // namespace ozr::logging::appender::syslog
