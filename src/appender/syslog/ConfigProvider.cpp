#include "ozr/logging/appender/syslog/ConfigProvider.h"

#include <strings.h>

#include <algorithm>
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
constexpr std::uint16_t g_defaultTlsPort = 6514;  // syslog over TLS, RFC 5425

// The number at the start of the text (after white space, trailing text ignored), or nothing when there
// is none (an empty text included) or it does not fit. A minus sign counts as out of range: stream
// extraction would otherwise wrap "-1" to the largest value.
template <typename Number>
std::optional<Number> ParseNumber(const std::string& text)
{
    std::istringstream stream(text);
    stream >> std::ws;
    if (stream.peek() == '-')
    {
        return std::nullopt;
    }
    Number number = 0;
    stream >> number;
    return stream.fail() ? std::nullopt : std::optional<Number>(number);
}

bool Names(const std::string& text, const char* name)
{
    return strcasecmp(text.c_str(), name) == 0;
}

}  // namespace

const char Config::DefaultHost[1] = "";

ConfigProvider::ConfigProvider(std::string configFilePath) : configFilePath(std::move(configFilePath)) {}

// An empty or missing key is its default. A transport that names none of the three leaves forwarding off,
// so that a misspelt "TLS" never sends in clear text; an unknown layout or framing is the default one.
Config ConfigProvider::GetConfig() const
{
    const std::optional<std::string> section(ConfigSection);
    const auto read = [&](const char* key, std::string_view defaultValue = {})
    { return ozr::config::ini::ReadString(section, key, defaultValue, configFilePath); };

    Config config{read("Address", Config::DefaultHost), g_defaultPort};
    const std::string portText = read("Port");
    const std::string transport = read("Transport");
    if (Names(transport, "TCP"))
    {
        config.transport = Transport::Tcp;
    }
    else if (Names(transport, "TLS"))
    {
        config.transport = Transport::Tls;
    }
    else if (!transport.empty() && !Names(transport, "UDP"))
    {
        config.forwarding = false;
    }
    const std::uint16_t defaultPort = config.transport == Transport::Tls ? g_defaultTlsPort : g_defaultPort;
    config.port = portText.empty() ? defaultPort : ParseNumber<std::uint16_t>(portText).value_or(defaultPort);
    if (Names(read("Format"), "RFC5424"))
    {
        config.format = Format::Rfc5424;
    }
    const std::string framing = read("Framing");
    if (Names(framing, "newline") || Names(framing, "NonTransparent"))
    {
        config.framing = Framing::NonTransparent;
    }
    if (const auto buffer = ParseNumber<unsigned long long>(read("BufferMessages")))
    {
        config.bufferMessages = static_cast<std::size_t>(std::min<unsigned long long>(
            *buffer, static_cast<unsigned long long>(Config::MaxBufferMessages)));
    }
    config.caFile = read("CaFile");
    config.certFile = read("CertFile");
    config.keyFile = read("KeyFile");
    config.serverName = read("ServerName");
    return config;
}

}  // namespace ozr::logging::appender::syslog
