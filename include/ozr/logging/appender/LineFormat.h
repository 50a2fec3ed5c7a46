#pragma once

namespace ozr::logging::appender
{

// How the console and file appenders lay out each message: the text line of the message formatter, or
// one JSON object per line for log shippers.
enum class LineFormat
{
    Text,
    Json,
};

}  // namespace ozr::logging::appender
