#pragma once

#include <cstdarg>
#include <string>

namespace ozr::logging
{

// Formats a log call's text on the calling thread, as vsnprintf does, trimmed of its trailing control
// characters; false when the text is empty or the format is rejected. Formats from its own copy of `args`,
// so they stay usable. Texts shorter than 512 characters are formatted once, onto the stack.
bool FormatText(std::string& text, const char* fmt, std::va_list& args) __attribute__((format(printf, 2, 0)));

}  // namespace ozr::logging
