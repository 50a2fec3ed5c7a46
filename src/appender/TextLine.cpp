#include "appender/TextLine.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "appender/SplitTime.h"
#include "appender/TextAppend.h"

namespace ozr::logging::appender
{
namespace
{

using boost::posix_time::ptime;
using boost::posix_time::time_duration;

constexpr std::size_t FractionDigits = time_duration::num_fractional_digits();
static_assert(FractionDigits <= MaxDecimalDigits);

// "2024-Mar-05 14:07:09": Boost's years have four digits (1400 to 9999).
constexpr std::size_t CalendarLength = 20;

// The longest severity name written together with the time; the library's names have at most seven
// characters, a longer one would be appended on its own.
constexpr std::size_t MaxSeverityLength = 16;

// "(line): (TID 0x<16 hex digits>) <local time> [<severity>] - ", the longest it can be.
constexpr std::size_t MaxMiddleLength =
    MaxLineAndThreadLength + CalendarLength + 1 + FractionDigits + 2 + MaxSeverityLength + 4;

// "2024-Mar-05 14:07:09".
void WriteCalendar(char* out, const ptime& time)
{
    const auto date = time.date().year_month_day();
    out = WriteDigits(out, date.year, 4);
    *out++ = '-';
    std::memcpy(out, MonthAbbreviation(date.month), 3);
    out += 3;
    *out++ = '-';
    out = WriteDigits(out, date.day, 2);
    *out++ = ' ';
    WriteTimeOfDay(out, time);
}

thread_local SecondTextCache<CalendarLength, WriteCalendar> t_calendar;

// The text of to_simple_string for a microsecond ptime, "2024-Mar-05 14:07:09.123456", without a fraction
// on a whole second.
char* WriteTime(char* out, const ptime& time)
{
    const SplitTime split = Split(time);
    const auto& calendar = t_calendar.TextOf(time, split.second);
    std::memcpy(out, calendar.data(), calendar.size());
    out += calendar.size();
    if (split.fraction != 0)
    {
        *out++ = '.';
        out = WriteDigits(out, static_cast<std::uint64_t>(split.fraction), FractionDigits);
    }
    return out;
}

// " [<severity>] - ", for a name of at most MaxSeverityLength characters.
char* WriteSeverity(char* out, std::string_view severity)
{
    out = WriteLiteral(out, " [");
    std::memcpy(out, severity.data(), severity.size());
    return WriteLiteral(out + severity.size(), "] - ");
}

template <std::size_t Size>
void AppendUpTo(std::string& out, const std::array<char, Size>& text, const char* end)
{
    out.append(text.data(), static_cast<std::size_t>(end - text.data()));
}

}  // namespace

void AppendTextLine(std::string& out, const Message& message)
{
    const std::string_view severity = SeverityToString(message.severity);
    out.reserve(out.size() + message.file.size() + MaxMiddleLength + severity.size() + message.text.size() +
                1);
    out += message.file;
    std::array<char, MaxMiddleLength> middle;
    char* end = WriteLineAndThread(middle.data(), message);
    if (message.localTime.is_special())
    {
        AppendUpTo(out, middle, end);
        out += boost::posix_time::to_simple_string(message.localTime);
        end = middle.data();
    }
    else
    {
        end = WriteTime(end, message.localTime);
    }
    if (severity.size() <= MaxSeverityLength)
    {
        end = WriteSeverity(end, severity);
        AppendUpTo(out, middle, end);
    }
    else
    {
        AppendUpTo(out, middle, WriteLiteral(end, " ["));
        out += severity;
        out += "] - ";
    }
    out += message.text;
    out.push_back('\n');
}

}  // namespace ozr::logging::appender
