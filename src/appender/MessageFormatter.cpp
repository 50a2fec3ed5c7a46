#include "ozr/logging/appender/MessageFormatter.h"

#include <cstdint>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "appender/TextAppend.h"

namespace ozr::logging::appender
{
namespace
{

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
    out += MonthAbbreviation(date.month);
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
    AppendSourcePosition(line, message);
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
