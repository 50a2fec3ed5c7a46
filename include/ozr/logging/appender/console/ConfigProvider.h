#pragma once

#include <string>

#include "ozr/logging/Export.h"
#include "ozr/logging/appender/LineFormat.h"

namespace ozr::logging::appender::console
{

// The standard stream the console writes to.
enum class OutputStream
{
    StandardOutput,  // file descriptor 1
    StandardError,   // file descriptor 2
};

// The console's settings; the defaults are the console of a product without settings.
struct OZR_LOGGING_API Config
{
    bool enabled = true;  // false: no console appender at all
    LineFormat format = LineFormat::Text;
    OutputStream stream = OutputStream::StandardOutput;
};

// Reads "Enabled", "Format" and "Stream" of section "Console" from one settings file; every call reads it
// again. A missing file, key or unknown value keeps that setting's default.
class OZR_LOGGING_API ConfigProvider
{
public:
    explicit ConfigProvider(std::string configFilePath);

    Config GetConfig() const;

private:
    std::string configFilePath;
};

}  // namespace ozr::logging::appender::console
