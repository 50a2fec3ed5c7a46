#pragma once

#include <string>
#include <string_view>

#include "ozr/logging/Message.h"

namespace ozr::logging::appender
{

// Appends `message` to `out` as one JSON object and a line feed, its keys in this order:
//   {"time":"2026-03-05T14:07:09.123456+01:00","severity":"Info","zone":"Net","app":"demo","pid":4242,
//    "tid":2684,"file":"main.src","line":42,"message":"Service started"}
// "time" is the local time with microseconds and the offset of the local time from the message's
// universal time, rounded to whole minutes; "-00:00" (offset unknown) when that difference is not a
// real offset, and null for a record without a time. "zone" is null for the default zone. Every string
// is a valid JSON string whatever bytes it held (AppendJsonString). Any thread may call it; each thread
// keeps the date text of the last whole second it wrote.
void AppendJsonLine(std::string& out, const Message& message, std::string_view applicationName);

// Appends `text` as a JSON string, quotes included. Quotation mark, backslash and the control characters
// U+0000 to U+001F are escaped; well-formed UTF-8 is kept as it is; each maximal ill-formed part of a
// UTF-8 sequence (a stray byte, an overlong or truncated sequence, a surrogate, anything past U+10FFFF)
// becomes one U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace ozr::logging::appender
