#pragma once

// Pieces shared by the text line and the syslog payload, appended straight into the caller's string.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ozr/logging/Message.h"

namespace ozr::logging::appender
{

// The English three-letter abbreviation of a month, 1 to 12.
inline const char* MonthAbbreviation(unsigned int month)
{
    static constexpr std::array<const char*, 12> names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return names[month - 1];
}

// `value` in decimal, padded on the left with `fill` to at least `width` characters.
inline void AppendDecimal(std::string& out, std::uint64_t value, std::size_t width = 1, char fill = '0')
{
    std::array<char, 20> digits{};
    std::size_t count = 0;
    do
    {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (width > count)
    {
        out.append(width - count, fill);
    }
    while (count > 0)
    {
        out.push_back(digits[--count]);
    }
}

// Exactly 16 upper-case hexadecimal digits.
inline void AppendHex16(std::string& out, std::uint64_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    for (int shift = 60; shift >= 0; shift -= 4)
    {
        out.push_back(digits[(value >> shift) & 0xF]);
    }
}

// "file(line): (TID 0x<16 hex digits>) ", the source position and thread of a message.
inline void AppendSourcePosition(std::string& out, const Message& message)
{
    out += message.file;
    out.push_back('(');
    AppendDecimal(out, message.line);
    out += "): (TID 0x";
    AppendHex16(out, message.threadId);
    out += ") ";
}

}  // namespace ozr::logging::appender
