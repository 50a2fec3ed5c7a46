#include "appender/syslog/RecordFormat.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

#include <boost/asio/ip/host_name.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "ZoneName.h"
#include "appender/TextAppend.h"

namespace ozr::logging::appender::syslog
{

namespace
{

constexpr char g_truncationMark[] = "...";
constexpr unsigned int g_priorityOfFacilityLocal0 = 16 * 8;
constexpr char g_nilValue = '-';
// The longest HOSTNAME and APP-NAME fields of RFC 5424.
constexpr std::size_t g_maxHostNameField = 255;
constexpr std::size_t g_maxAppNameField = 48;

void AppendPriority(std::string& out, Severity severity)
{
    out += '<';
    AppendDecimal(out, g_priorityOfFacilityLocal0 + SeverityToSyslogCode(severity));
    out += '>';
}

// "Mar  5 09:07:03": month, space-padded day, time of day truncated to the second.
void AppendBsdTimestamp(std::string& out, const boost::posix_time::ptime& time)
{
    const auto date = time.date();
    out += MonthAbbreviation(date.month());
    out += ' ';
    AppendDecimal(out, date.day(), 2, ' ');
    out += ' ';
    const auto microseconds = static_cast<std::uint64_t>(time.time_of_day().total_microseconds());
    AppendDecimal(out, microseconds / 3600000000, 2);
    out += ':';
    AppendDecimal(out, microseconds / 60000000 % 60, 2);
    out += ':';
    AppendDecimal(out, microseconds / 1000000 % 60, 2);
}

// "2024-03-05T09:07:03.250000+01:00": the local time and its offset from UTC, rounded to the minute (the
// two times are read one after the other). An offset beyond a day is no time zone: then the UTC time,
// marked "Z", as for an offset of zero.
void AppendRfc5424Timestamp(std::string& out, const Message& message)
{
    const long long offsetSeconds = (message.localTime - message.universalTime).total_seconds();
    long long offsetMinutes = (offsetSeconds + (offsetSeconds < 0 ? -30 : 30)) / 60;
    const bool local = offsetMinutes != 0 && offsetMinutes > -24 * 60 && offsetMinutes < 24 * 60;
    const auto& time = local ? message.localTime : message.universalTime;
    const auto date = time.date();
    AppendDecimal(out, date.year(), 4);
    out += '-';
    AppendDecimal(out, date.month(), 2);
    out += '-';
    AppendDecimal(out, date.day(), 2);
    out += 'T';
    const auto microseconds = static_cast<std::uint64_t>(time.time_of_day().total_microseconds());
    AppendDecimal(out, microseconds / 3600000000, 2);
    out += ':';
    AppendDecimal(out, microseconds / 60000000 % 60, 2);
    out += ':';
    AppendDecimal(out, microseconds / 1000000 % 60, 2);
    out += '.';
    AppendDecimal(out, microseconds % 1000000, 6);
    if (!local)
    {
        out += 'Z';
        return;
    }
    out += offsetMinutes < 0 ? '-' : '+';
    offsetMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    AppendDecimal(out, static_cast<std::uint64_t>(offsetMinutes / 60), 2);
    out += ':';
    AppendDecimal(out, static_cast<std::uint64_t>(offsetMinutes % 60), 2);
}

// A header field of RFC 5424: printable ASCII without the space, every other byte replaced by "_", at
// most `limit` bytes, "-" when empty.
void AppendHeaderField(std::string& out, std::string_view value, std::size_t limit)
{
    if (value.empty())
    {
        out += g_nilValue;
        return;
    }
    value = value.substr(0, limit);
    for (const char byte : value)
    {
        const auto code = static_cast<unsigned char>(byte);
        out += code >= 33 && code <= 126 ? byte : '_';
    }
}

// Appends as much of the text as can show, then cuts the record to `limit` bytes with "..." when longer.
// Text beyond the limit would be cut anyway; one byte more than fits is enough to mark the cut.
void AppendTextWithin(std::string& record, const std::string& text, std::size_t limit)
{
    const std::size_t room = limit + 1 - std::min(record.size(), limit + 1);
    record.append(text, 0, room);
    if (record.size() > limit)
    {
        record.resize(limit - (sizeof g_truncationMark - 1));
        record += g_truncationMark;
    }
}

}  // namespace

std::string FormatBsdRecord(const Message& message, std::string_view hostName, std::string_view tag)
{
    std::string record;
    record.reserve(std::min(MaxBsdRecordSize + 1,
                            64 + hostName.size() + tag.size() + message.file.size() + message.text.size()));
    AppendPriority(record, message.severity);
    AppendBsdTimestamp(record, message.localTime);
    record += ' ';
    record += hostName;
    record += ' ';
    record += tag;
    record += ": ";
    AppendSourcePosition(record, message);
    AppendTextWithin(record, message.text, MaxBsdRecordSize);
    return record;
}

std::string FormatRfc5424Record(const Message& message, std::string_view hostName, std::string_view tag,
                                std::string_view processId)
{
    std::string record;
    record.reserve(std::min(MaxRfc5424RecordSize + 1, 96 + hostName.size() + tag.size() + processId.size() +
                                                          message.file.size() + message.text.size()));
    AppendPriority(record, message.severity);
    record += "1 ";
    AppendRfc5424Timestamp(record, message);
    record += ' ';
    AppendHeaderField(record, hostName, g_maxHostNameField);
    record += ' ';
    AppendHeaderField(record, tag, g_maxAppNameField);
    record += ' ';
    AppendHeaderField(record, processId, 128);
    record += " - - ";
    AppendSourcePosition(record, message);
    AppendTextWithin(record, message.text, MaxRfc5424RecordSize);
    return record;
}

std::string FrameRecord(std::string record, Framing framing)
{
    if (framing == Framing::NonTransparent)
    {
        record += '\n';
        return record;
    }
    std::string framed;
    framed.reserve(MaxDecimalDigits + 1 + record.size());
    AppendDecimal(framed, record.size());
    framed += ' ';
    framed += record;
    return framed;
}

std::string LocalHostName()
{
    try
    {
        std::string name = boost::asio::ip::host_name();
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        return name;
    }
    catch (const std::exception&)
    {
        return "-";
    }
}

RecordFormatter::RecordFormatter(const IApplicationInfoProvider& applicationInfoProvider, Format format)
    : applicationInfoProvider(applicationInfoProvider),
      format(format),
      hostName(LocalHostName()),
      processId(std::to_string(::getpid()))
{
}

// The default zone's tag is the application name, asked afresh for each of its records.
std::string RecordFormatter::FormatRecord(const Message& message) const
{
    const std::string applicationName =
        IsDefaultZone(message.zone) ? applicationInfoProvider.GetApplicationName() : "";
    const std::string_view tag =
        IsDefaultZone(message.zone) ? std::string_view(applicationName) : message.zone;
    return format == Format::Rfc5424 ? FormatRfc5424Record(message, hostName, tag, processId)
                                     : FormatBsdRecord(message, hostName, tag);
}

}  // namespace ozr::logging::appender::syslog
