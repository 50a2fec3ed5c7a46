#include "appender/syslog/RecordFormat.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <utility>

#include <boost/asio/ip/host_name.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "ZoneName.h"
#include "appender/TextAppend.h"
#include "appender/Utf8Text.h"

namespace ozr::logging::appender::syslog
{

namespace
{

constexpr char g_truncationMark[] = "...";
constexpr unsigned int g_priorityOfFacilityLocal0 = 16 * 8;
constexpr char g_nilValue = '-';
// The longest HOSTNAME, APP-NAME, PROCID and MSGID fields of RFC 5424.
constexpr std::size_t g_maxHostNameField = 255;
constexpr std::size_t g_maxAppNameField = 48;
constexpr std::size_t g_maxProcessIdField = 128;
constexpr std::size_t g_maxMessageIdField = 32;
// The longest file name the structured data carries, escapes included: with the header's fields at their
// longest the element still leaves room for the text within MaxRfc5424DatagramSize.
constexpr std::size_t g_maxFileValue = 128;
constexpr char g_byteOrderMark[] = "\xEF\xBB\xBF";
// The cut of a record too long always falls within its text: the header and the structured data, at
// their longest ("<191>1 ", a time of 32 bytes, the fields and their spaces), leave room for the space,
// the mark, a character backed off and "...".
constexpr std::size_t g_longestHeaderAndStructuredData =
    7 + 32 + 1 + g_maxHostNameField + 1 + g_maxAppNameField + 1 + g_maxProcessIdField + 1 +
    g_maxMessageIdField + 1 + sizeof "[" + sizeof StructuredDataId +
    sizeof " file=\"\" line=\"4294967295\" tid=\"0x0123456789ABCDEF\"]" + g_maxFileValue;
static_assert(g_longestHeaderAndStructuredData + 1 + sizeof g_byteOrderMark + 3 + sizeof g_truncationMark <
                  MaxRfc5424DatagramSize,
              "a datagram leaves room for the text");

void AppendPriority(std::string& out, Severity severity)
{
    out += '<';
    AppendDecimal(out, g_priorityOfFacilityLocal0 + SeverityToSyslogCode(severity));
    out += '>';
}

// "09:07:03": the time of day truncated to the second; returns it in microseconds.
std::uint64_t AppendTimeOfDay(std::string& out, const boost::posix_time::ptime& time)
{
    const auto microseconds = static_cast<std::uint64_t>(time.time_of_day().total_microseconds());
    AppendDecimal(out, microseconds / 3600000000, 2);
    out += ':';
    AppendDecimal(out, microseconds / 60000000 % 60, 2);
    out += ':';
    AppendDecimal(out, microseconds / 1000000 % 60, 2);
    return microseconds;
}

// "Mar  5 09:07:03": month, space-padded day, time of day truncated to the second.
void AppendBsdTimestamp(std::string& out, const boost::posix_time::ptime& time)
{
    const auto date = time.date();
    out += MonthAbbreviation(date.month());
    out += ' ';
    AppendDecimal(out, date.day(), 2, ' ');
    out += ' ';
    AppendTimeOfDay(out, time);
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
    const std::uint64_t microseconds = AppendTimeOfDay(out, time);
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

// A PARAM-VALUE of RFC 5424: well-formed UTF-8 with '"', '\' and ']' escaped by a backslash. When longer
// than `limit` bytes it is cut at a character (never inside an escape) and ends in "...".
void AppendParameterValue(std::string& out, std::string_view value, std::size_t limit)
{
    std::string wellFormed;
    AppendWellFormedUtf8(wellFormed, value, limit);
    std::string escaped;
    std::size_t fitsWithMark = 0;  // the longest part that ends at a character and leaves room for "..."
    for (const char byte : wellFormed)
    {
        if (!IsUtf8Continuation(byte) && escaped.size() + (sizeof g_truncationMark - 1) <= limit)
        {
            fitsWithMark = escaped.size();
        }
        if (byte == '"' || byte == '\\' || byte == ']')
        {
            escaped += '\\';
        }
        escaped += byte;
    }
    if (escaped.size() <= limit)
    {
        out += escaped;
        return;
    }
    out.append(escaped, 0, fitsWithMark);
    out += g_truncationMark;
}

// "[ozr@32473 file="Channel.cpp" line="214" tid="0x0000000000000A7C"]": the source position and thread.
// The SD-ID and PARAM-NAMEs are constants that keep RFC 5424's rules (printable ASCII without '=', ' ',
// ']' and '"', at most 32 bytes).
void AppendStructuredData(std::string& out, const Message& message)
{
    out += '[';
    out += StructuredDataId;
    out += " file=\"";
    AppendParameterValue(out, message.file, g_maxFileValue);
    out += "\" line=\"";
    AppendDecimal(out, message.line);
    out += "\" tid=\"0x";
    std::array<char, 16> thread;
    out.append(thread.data(),
               static_cast<std::size_t>(WriteHex16(thread.data(), message.threadId) - thread.data()));
    out += "\"]";
}

// Cuts a record longer than `limit` to `limit` bytes ending in "...", at a character boundary of the
// well-formed UTF-8 text that starts at `textStart`.
void CutAtCharacter(std::string& record, std::size_t textStart, std::size_t limit)
{
    if (record.size() <= limit)
    {
        return;
    }
    record.resize(Utf8CharacterBoundary(record, limit - (sizeof g_truncationMark - 1), textStart));
    record += g_truncationMark;
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

std::string FormatRfc5424Record(const Message& message, std::string_view hostName, std::string_view appName,
                                std::string_view processId, std::string_view messageId, std::size_t maxSize)
{
    std::string record;
    record.reserve(std::min(maxSize + 1, 160 + hostName.size() + appName.size() + processId.size() +
                                             messageId.size() + message.file.size() + message.text.size()));
    AppendPriority(record, message.severity);
    record += "1 ";
    AppendRfc5424Timestamp(record, message);
    record += ' ';
    AppendHeaderField(record, hostName, g_maxHostNameField);
    record += ' ';
    AppendHeaderField(record, appName, g_maxAppNameField);
    record += ' ';
    AppendHeaderField(record, processId, g_maxProcessIdField);
    record += ' ';
    AppendHeaderField(record, messageId, g_maxMessageIdField);
    record += ' ';
    AppendStructuredData(record, message);
    if (message.text.empty())
    {
        return record;
    }
    record += ' ';
    record += g_byteOrderMark;
    const std::size_t textStart = record.size();
    AppendWellFormedUtf8(record, message.text, maxSize);
    CutAtCharacter(record, textStart, maxSize);
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

RecordFormatter::RecordFormatter(const IApplicationInfoProvider& applicationInfoProvider, Format format,
                                 Transport transport)
    : applicationInfoProvider(applicationInfoProvider),
      format(format),
      maxRfc5424Size(transport == Transport::Udp ? MaxRfc5424DatagramSize : MaxRfc5424StreamRecordSize),
      hostName(LocalHostName()),
      processId(std::to_string(::getpid()))
{
}

// The application name is asked afresh for each record that carries it: in the BSD layout the default
// zone's tag, in RFC 5424 every record's APP-NAME (the zone is its MSGID).
std::string RecordFormatter::FormatRecord(const Message& message) const
{
    const bool defaultZone = IsDefaultZone(message.zone);
    if (format == Format::Rfc5424)
    {
        return FormatRfc5424Record(message, hostName, applicationInfoProvider.GetApplicationName(), processId,
                                   defaultZone ? std::string_view() : std::string_view(message.zone),
                                   maxRfc5424Size);
    }
    const std::string applicationName = defaultZone ? applicationInfoProvider.GetApplicationName() : "";
    return FormatBsdRecord(message, hostName, defaultZone ? std::string_view(applicationName) : message.zone);
}

}  // namespace ozr::logging::appender::syslog
