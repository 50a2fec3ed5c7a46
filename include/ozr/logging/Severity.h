#pragma once

#include <cstdint>
#include <optional>

#include "ozr/logging/Export.h"

namespace ozr::logging
{

// The importance of one log call and, used as a threshold, a logger's verbosity. A lower value is more
// important: a logger of verbosity v accepts a message of severity s exactly when s <= v.
enum class Severity : std::int32_t
{
    Error = 0,
    Print = 1,
    Warning = 2,
    Message = 3,
    Info = 4,
    Trace = 5,
};

// "Error", "Print", "Warning"/"Warn", "Message"/"Msg", "Info", "Trace"/"All", compared without regard to
// ASCII case; any other text, null and the empty text give Warning.
OZR_LOGGING_API Severity SeverityFromString(const char* text);

// The severity that `text` names, under the same spellings; nothing when it names none (or is null).
OZR_LOGGING_API std::optional<Severity> ParseSeverity(const char* text);

// The canonical text of a severity; "Unknown" for a value outside the six enumerators.
OZR_LOGGING_API const char* SeverityToString(Severity severity);

// The syslog severity code (3 error, 4 warning, 5 notice, 6 informational, 7 debug); 4 outside the range.
OZR_LOGGING_API unsigned int SeverityToSyslogCode(Severity severity);

}  // namespace ozr::logging
