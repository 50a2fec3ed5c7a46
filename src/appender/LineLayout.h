#pragma once

#include <memory>
#include <string>

#include "ReadChoice.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/appender/LineFormat.h"
#include "ozr/logging/appender/MessageFormatter.h"

namespace ozr::logging::appender
{

// What the console or a file appender writes for each message: the formatter's text line, or a JSON
// object (AppendJsonLine) naming the application.
struct LineLayout
{
    const IMessageFormatter& formatter;
    LineFormat format;
    std::string applicationName;  // the "app" of JSON lines
};

// The application's name is read once, and only for JSON lines.
inline std::unique_ptr<const LineLayout> MakeLineLayout(const IMessageFormatter& formatter, LineFormat format,
                                                        const IApplicationInfoProvider& applicationInfo)
{
    std::string name = format == LineFormat::Json ? applicationInfo.GetApplicationName() : std::string();
    return std::make_unique<const LineLayout>(LineLayout{formatter, format, std::move(name)});
}

// "Format" of a settings section: "text" (the default, also for a missing or unknown word) or "json", in
// any letter case.
inline LineFormat ReadLineFormat(const std::string& section, const std::string& file)
{
    return config::ini::ReadChoice(
        section, "Format", {{"text", LineFormat::Text}, {"json", LineFormat::Json}}, LineFormat::Text, file);
}

}  // namespace ozr::logging::appender
