#pragma once

#include <cstdint>
#include <string>

#include "ozr/logging/Export.h"

namespace ozr::logging::appender::syslog
{

// Where the syslog collector listens. An empty host means no collector.
struct OZR_LOGGING_API Config
{
    static const char DefaultHost[1];

    std::string host;
    std::uint16_t port;
};

// Reads "Address" and "Port" of section "Syslog" from one settings file; every call reads it again.
class OZR_LOGGING_API ConfigProvider
{
public:
    explicit ConfigProvider(std::string configFilePath);

    Config GetConfig() const;

private:
    std::string configFilePath;
};

}  // namespace ozr::logging::appender::syslog
