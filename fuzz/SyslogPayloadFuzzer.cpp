// Any text, zone, source file and record fields: the payload in the BSD layout is at most 1024 bytes, its
// header laid out field by field, followed by the text, cut with "..." when too long; the record in the
// RFC 5424 layout, in a datagram, is at most 1024 bytes, its header, structured data and text well formed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "FuzzInput.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;

class FixedApplicationInfo : public IApplicationInfoProvider
{
public:
    std::string GetApplicationName() const override { return "fuzz-app"; }
    std::filesystem::path GetApplicationExecutableDirectoryPath() const override { return {}; }
};

using ozr::fuzzing::Take;

std::string_view TakeField(std::string_view& input)
{
    const std::size_t end = std::min(input.find('\0'), input.size());
    const std::string_view field = input.substr(0, end);
    input.remove_prefix(std::min(end + 1, input.size()));
    return field;
}

std::string HostName()
{
    std::string name = boost::asio::ip::host_name();
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

// The payload laid out independently of the appender's code. A null or empty zone is the default zone.
std::string Expected(const Message& message, const std::string& host)
{
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static constexpr unsigned codes[] = {3, 5, 4, 6, 6, 7};
    const auto index = static_cast<unsigned>(message.severity);
    const auto time = message.localTime;
    const auto clock = time.time_of_day();
    char header[128];
    std::snprintf(header, sizeof header, "<%u>%s %2u %02d:%02d:%02d ", 128 + (index < 6 ? codes[index] : 4),
                  months[time.date().month() - 1], static_cast<unsigned>(time.date().day()),
                  static_cast<int>(clock.hours()), static_cast<int>(clock.minutes()),
                  static_cast<int>(clock.seconds()));
    char position[64];
    std::snprintf(position, sizeof position, "(%u): (TID 0x%016llX) ", message.line,
                  static_cast<unsigned long long>(message.threadId));
    std::string payload = header + host + " " + (message.zone && *message.zone ? message.zone : "fuzz-app") +
                          ": " + message.file + position + message.text;
    if (payload.size() > 1024)
    {
        payload = payload.substr(0, 1021) + "...";
    }
    return payload;
}

// Whether `text` is well-formed UTF-8, decoded code point by code point (independently of the library's
// table of lead bytes): no stray or missing continuation byte, no overlong form, no surrogate, nothing
// past U+10FFFF.
bool IsWellFormedUtf8(std::string_view text)
{
    for (std::size_t index = 0; index < text.size();)
    {
        const auto lead = static_cast<unsigned char>(text[index]);
        const std::size_t length = lead < 0x80       ? 1
                                   : lead >> 5 == 6  ? 2
                                   : lead >> 4 == 14 ? 3
                                   : lead >> 3 == 30 ? 4
                                                     : 0;
        if (length == 0 || index + length > text.size())
        {
            return false;
        }
        std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t next = 1; next < length; ++next)
        {
            const auto byte = static_cast<unsigned char>(text[index + next]);
            if (byte >> 6 != 2)
            {
                return false;
            }
            point = point << 6 | (byte & 0x3F);
        }
        constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        {
            return false;
        }
        index += length;
    }
    return true;
}

// The RFC 5424 record checked against a layout made independently of the appender's code: the header
// (the local time with its offset from UTC, Z for none or for one of a day or more, with the UTC time;
// fields of printable ASCII; the zone as MSGID), the structured data (the file name unescaped is UTF-8,
// and is the file name itself when that is UTF-8 and fits), then the BOM and a text that is UTF-8 and,
// when the text logged is UTF-8, the text itself or, cut with "...", a prefix of it.
bool CheckRfc5424(const std::string& record, const Message& message, const std::string& host)
{
    static constexpr unsigned codes[] = {3, 5, 4, 6, 6, 7};
    const auto index = static_cast<unsigned>(message.severity);
    const long long offset = (message.localTime - message.universalTime).total_seconds() / 60;
    const bool local = offset != 0 && offset > -1440 && offset < 1440;
    const auto time = local ? message.localTime : message.universalTime;
    const auto clock = time.time_of_day();
    char zone[8] = "Z";
    if (local)
    {
        std::snprintf(zone, sizeof zone, "%c%02lld:%02lld", offset < 0 ? '-' : '+',
                      (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    }
    char header[128];
    std::snprintf(header, sizeof header, "<%u>1 %04d-%02d-%02dT%02d:%02d:%02d.%06lld%s ",
                  128 + (index < 6 ? codes[index] : 4), static_cast<int>(time.date().year()),
                  static_cast<int>(time.date().month()), static_cast<int>(time.date().day()),
                  static_cast<int>(clock.hours()), static_cast<int>(clock.minutes()),
                  static_cast<int>(clock.seconds()), static_cast<long long>(clock.fractional_seconds()),
                  zone);
    const auto field = [](std::string value, std::size_t limit)
    {
        value = value.substr(0, limit);
        for (char& byte : value)
        {
            if (static_cast<unsigned char>(byte) < 33 || static_cast<unsigned char>(byte) > 126)
            {
                byte = '_';
            }
        }
        return value.empty() ? std::string("-") : value;
    };
    const std::string start = header + field(host, 255) + " fuzz-app " + std::to_string(getpid()) + " " +
                              field(message.zone ? message.zone : "", 32) + " [ozr@32473 file=\"";
    if (record.size() > 1024 || record.compare(0, start.size(), start) != 0)
    {
        return false;
    }
    std::size_t at = start.size();
    std::string file;
    for (; at < record.size() && record[at] != '"'; ++at)
    {
        if (record[at] == '\\')
        {
            ++at;
            if (at == record.size() || (record[at] != '"' && record[at] != '\\' && record[at] != ']'))
            {
                return false;
            }
        }
        else if (record[at] == ']')
        {
            return false;
        }
        file += record[at];
    }
    if (!IsWellFormedUtf8(file) || at - start.size() > 128 ||
        (IsWellFormedUtf8(message.file) && file != message.file &&
         file.substr(file.size() - std::min<std::size_t>(3, file.size())) != "..."))
    {
        return false;
    }
    char position[80];
    std::snprintf(position, sizeof position, "\" line=\"%u\" tid=\"0x%016llX\"]", message.line,
                  static_cast<unsigned long long>(message.threadId));
    if (record.compare(at, std::strlen(position), position) != 0)
    {
        return false;
    }
    at += std::strlen(position);
    if (message.text.empty())
    {
        return at == record.size();
    }
    if (record.compare(at, 4, " \xEF\xBB\xBF") != 0)
    {
        return false;
    }
    const std::string text = record.substr(at + 4);
    if (!IsWellFormedUtf8(text) || !IsWellFormedUtf8(message.text) || text == message.text)
    {
        return IsWellFormedUtf8(text);
    }
    return record.size() > 1024 - 7 && text.size() >= 3 && text.substr(text.size() - 3) == "..." &&
           message.text.compare(0, text.size() - 3, text, 0, text.size() - 3) == 0;
}

}  // namespace

// Input: severity, day number, microseconds, line, thread, a zone flag, then zone, file and text, each
// ended by a NUL byte. The thread identifier also gives the offset of local time from UTC.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static boost::asio::io_context ioContext;
    static const FixedApplicationInfo applicationInfo;
    static const appender::syslog::Appender appender(ioContext, applicationInfo, {"collector.invalid", 514});
    static const appender::syslog::Appender rfc5424Appender(
        ioContext, applicationInfo,
        {"collector.invalid", 514, appender::syslog::Transport::Udp, appender::syslog::Format::Rfc5424});
    static const std::string host = HostName();

    std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto severity = static_cast<Severity>(Take<std::int32_t>(input));
    const auto day = Take<std::uint32_t>(input) % 3000000;  // from 1400 to about 9600
    const auto microseconds = Take<std::uint64_t>(input) % 86400000000ULL;
    const auto line = Take<std::uint32_t>(input);
    const auto threadId = Take<std::uint64_t>(input);
    const bool hasZone = Take<std::uint8_t>(input) % 2 == 0;
    const std::string zone(TakeField(input));
    const std::string file(TakeField(input));
    const std::string text(input);

    const boost::posix_time::ptime time(boost::gregorian::date(1400, 1, 1) + boost::gregorian::days(day),
                                        boost::posix_time::microseconds(microseconds));
    // The offset from UTC, in whole minutes, from the thread identifier: less than a day, a day, or more.
    const long long offsetMinutes = day < 2 ? 0 : static_cast<long long>(threadId % 3001) - 1500;
    const Message message{time,     time - boost::posix_time::minutes(offsetMinutes),
                          file,     text,
                          severity, line,
                          threadId, hasZone ? zone.c_str() : nullptr};
    const std::string payload = appender.FormatLogMessage(message);
    if (payload.size() > 1024 || payload != Expected(message, host))
    {
        std::abort();
    }
    if (!CheckRfc5424(rfc5424Appender.FormatLogMessage(message), message, host))
    {
        std::abort();
    }
    return 0;
}
