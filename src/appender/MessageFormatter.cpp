#include "ozr/logging/appender/MessageFormatter.h"

#include <array>
#include <cstdint>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace ozr::logging::appender
{
namespace
{

constexpr std::array<const char*, 12> g_monthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Appends `value` in decimal, zero-padded on the left to at least `width` digits.
void AppendDecimal(std::string& out, std::uint64_t value, std::size_t width = 1)
{
    std::array<char, 20> digits{};
    std::size_t count = 0;
    do
    {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; count < width; --width)
    {
        out.push_back('0');
    }
    while (count > 0)
    {
        out.push_back(digits[--count]);
    }
}

void AppendHex16(std::string& out, std::uint64_t value)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    for (int shift = 60; shift >= 0; shift -= 4)
    {
        out.push_back(digits[(value >> shift) & 0xF]);
    }
}

// The text of Boost.Date_Time's to_simple_string for a microsecond ptime ("2024-Mar-05 14:07:09.123456",
// no fraction on a whole second), written without that function's stream machinery.
void AppendTime(std::string& out, const boost::posix_time::ptime& time)
{
    if (time.is_special())
    {
        out += boost::posix_time::to_simple_string(time);
        return;
    }
    const auto date = time.date().year_month_day();
    const auto timeOfDay = time.time_of_day();
    AppendDecimal(out, date.year, 4);
    out.push_back('-');
    out += g_monthNames[date.month - 1];
    out.push_back('-');
    AppendDecimal(out, date.day, 2);
    out.push_back(' ');
    AppendDecimal(out, static_cast<std::uint64_t>(timeOfDay.hours()), 2);
    out.push_back(':');
    AppendDecimal(out, static_cast<std::uint64_t>(timeOfDay.minutes()), 2);
    out.push_back(':');
    AppendDecimal(out, static_cast<std::uint64_t>(timeOfDay.seconds()), 2);
    if (const auto fraction = timeOfDay.fractional_seconds(); fraction != 0)
    {
        out.push_back('.');
        AppendDecimal(out, static_cast<std::uint64_t>(fraction),
                      static_cast<std::size_t>(boost::posix_time::time_duration::num_fractional_digits()));
    }
}

// The whole line, line feed included:
//   file(line): (TID 0x<16 hex digits>) <local time> [<severity>] - <text>\n
std::string FormatLine(const Message& message)
{
    std::string line;
    line.reserve(message.file.size() + message.text.size() + 80);
    line += message.file;
    line.push_back('(');
    AppendDecimal(line, message.line);
    line += "): (TID 0x";
    AppendHex16(line, message.threadId);
    line += ") ";
    AppendTime(line, message.localTime);
    line += " [";
    line += SeverityToString(message.severity);
    line += "] - ";
    line += message.text;
    line.push_back('\n');
    return line;
}

}  // namespace

// The line is built once and handed to the stream in a single write, so a shared stream (standard
// output) is locked and searched for its buffer once per message rather than once per piece.
void MessageFormatter::PrintMessage(std::ostream& stream, const Message& message) const
{
    const std::string line = FormatLine(message);
    stream.write(line.data(), static_cast<std::streamsize>(line.size()));
}

std::string MessageFormatter::PrintMessage(const Message& message) const
{
    return FormatLine(message);
}

}  // namespace ozr::logging::appender
