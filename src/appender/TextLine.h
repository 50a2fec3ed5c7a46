#pragma once

#include <string>

#include "ozr/logging/Message.h"

namespace ozr::logging::appender
{

// Appends the library's text line of `message` to `out`, line feed included:
//   file(line): (TID 0x<16 hex digits>) <local time> [<severity>] - <text>\n
// The local time is Boost.Date_Time's to_simple_string text. Any thread may call it; each thread keeps
// the calendar text of the last whole second it wrote, so the date is worked out once per second.
void AppendTextLine(std::string& out, const Message& message);

}  // namespace ozr::logging::appender
