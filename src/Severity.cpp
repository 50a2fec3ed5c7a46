#include "ozr/logging/Severity.h"

#include <strings.h>

#include <array>
#include <cstddef>

namespace ozr::logging
{
namespace
{

struct Spelling
{
    const char* text;
    Severity severity;
};

// Accepted spellings, compared in this order without regard to ASCII case.
constexpr std::array<Spelling, 9> g_spellings{{
    {"Error", Severity::Error},
    {"Print", Severity::Print},
    {"Warning", Severity::Warning},
    {"Warn", Severity::Warning},
    {"Message", Severity::Message},
    {"Msg", Severity::Message},
    {"Info", Severity::Info},
    {"Trace", Severity::Trace},
    {"All", Severity::Trace},
}};

constexpr std::array<const char*, 6> g_names{"Error", "Print", "Warning", "Message", "Info", "Trace"};
constexpr std::array<unsigned int, 6> g_syslogCodes{3, 5, 4, 6, 6, 7};

// The table index of a severity, or the table size when it lies outside the six enumerators
// (negative values count as outside).
constexpr std::size_t IndexOf(Severity severity, std::size_t tableSize)
{
    const auto index = static_cast<std::size_t>(static_cast<std::uint32_t>(severity));
    return index < tableSize ? index : tableSize;
}

}  // namespace

Severity SeverityFromString(const char* text)
{
    return ParseSeverity(text).value_or(Severity::Warning);
}

std::optional<Severity> ParseSeverity(const char* text)
{
    if (text == nullptr)
    {
        return std::nullopt;
    }
    for (const Spelling& spelling : g_spellings)
    {
        if (strcasecmp(text, spelling.text) == 0)
        {
            return spelling.severity;
        }
    }
    return std::nullopt;
}

const char* SeverityToString(Severity severity)
{
    const std::size_t index = IndexOf(severity, g_names.size());
    return index < g_names.size() ? g_names[index] : "Unknown";
}

unsigned int SeverityToSyslogCode(Severity severity)
{
    const std::size_t index = IndexOf(severity, g_syslogCodes.size());
    return index < g_syslogCodes.size() ? g_syslogCodes[index] : 4;
}

}  // namespace ozr::logging
