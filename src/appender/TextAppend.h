#pragma once

// Pieces shared by the text line and the syslog payload. The Write functions fill a caller's character
// array and return the end of what they wrote; the Append functions add to a string in one append.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ozr/logging/Message.h"

namespace ozr::logging::appender
{

// The most decimal digits of a 64-bit value.
constexpr std::size_t MaxDecimalDigits = 20;

// The English three-letter abbreviation of a month, 1 to 12.
inline const char* MonthAbbreviation(unsigned int month)
{
    static constexpr std::array<const char*, 12> names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return names[month - 1];
}

// "00" to "99": two decimal digits at a time halve the divisions.
inline constexpr std::array<char, 200> DecimalPairs = []
{
    std::array<char, 200> pairs{};
    for (std::size_t value = 0; value < 100; ++value)
    {
        pairs[2 * value] = static_cast<char>('0' + value / 10);
        pairs[2 * value + 1] = static_cast<char>('0' + value % 10);
    }
    return pairs;
}();

// "00" to "FF": the upper-case hexadecimal digits of each byte.
inline constexpr std::array<char, 512> HexPairs = []
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 512> pairs{};
    for (std::size_t value = 0; value < 256; ++value)
    {
        pairs[2 * value] = digits[value >> 4];
        pairs[2 * value + 1] = digits[value & 0xF];
    }
    return pairs;
}();

// The number of decimal digits of `value`.
inline std::size_t DecimalLength(std::uint64_t value)
{
    std::size_t length = 1;
    for (; value >= 10; value /= 10)
    {
        ++length;
    }
    return length;
}

// The last `width` decimal digits of `value`, with leading zeros: written from the right, two at a time.
inline char* WriteDigits(char* out, std::uint64_t value, std::size_t width)
{
    char* cursor = out + width;
    for (; cursor - out >= 2; value /= 100)
    {
        cursor -= 2;
        std::memcpy(cursor, &DecimalPairs[2 * (value % 100)], 2);
    }
    if (cursor != out)
    {
        *--cursor = static_cast<char>('0' + value % 10);
    }
    return out + width;
}

// `value` in decimal, padded on the left with `fill` to at least `width` characters.
inline char* WriteDecimal(char* out, std::uint64_t value, std::size_t width = 1, char fill = '0')
{
    const std::size_t length = DecimalLength(value);
    for (; width > length; --width)
    {
        *out++ = fill;
    }
    return WriteDigits(out, value, length);
}

// Exactly 16 upper-case hexadecimal digits, a byte at a time.
inline char* WriteHex16(char* out, std::uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8)
    {
        std::memcpy(out, &HexPairs[2 * ((value >> shift) & 0xFF)], 2);
        out += 2;
    }
    return out;
}

// The characters of a string literal, without its terminating null.
template <std::size_t Size>
char* WriteLiteral(char* out, const char (&text)[Size])
{
    std::memcpy(out, text, Size - 1);
    return out + Size - 1;
}

// As WriteDecimal, for any width.
inline void AppendDecimal(std::string& out, std::uint64_t value, std::size_t width = 1, char fill = '0')
{
    const std::size_t length = DecimalLength(value);
    if (width > length)
    {
        out.append(width - length, fill);
    }
    std::array<char, MaxDecimalDigits> digits;
    out.append(digits.data(),
               static_cast<std::size_t>(WriteDigits(digits.data(), value, length) - digits.data()));
}

// "(line): (TID 0x<16 hex digits>) ": the line number and thread of a message, written after its file.
constexpr std::size_t MaxLineAndThreadLength = 1 + 10 + 10 + 16 + 2;
inline char* WriteLineAndThread(char* out, const Message& message)
{
    *out++ = '(';
    out = WriteDecimal(out, message.line);
    out = WriteLiteral(out, "): (TID 0x");
    out = WriteHex16(out, message.threadId);
    return WriteLiteral(out, ") ");
}

// "file(line): (TID 0x<16 hex digits>) ", the source position and thread of a message.
inline void AppendSourcePosition(std::string& out, const Message& message)
{
    std::array<char, MaxLineAndThreadLength> text;
    out += message.file;
    out.append(text.data(), static_cast<std::size_t>(WriteLineAndThread(text.data(), message) - text.data()));
}

}  // namespace ozr::logging::appender
