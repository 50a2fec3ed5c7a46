// Any text, zone, source file and record fields: the payload is at most 1024 bytes and is the header
// laid out field by field, followed by the text, cut with "..." when too long.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

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

}  // namespace

// Input: severity, day number, microseconds, line, thread, a zone flag, then zone, file and text, each
// ended by a NUL byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static boost::asio::io_context ioContext;
    static const FixedApplicationInfo applicationInfo;
    static const appender::syslog::Appender appender(ioContext, applicationInfo, {"collector.invalid", 514});
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
    const Message message{time, time, file, text, severity, line, threadId, hasZone ? zone.c_str() : nullptr};
    const std::string payload = appender.FormatLogMessage(message);
    if (payload.size() > 1024 || payload != Expected(message, host))
    {
        std::abort();
    }
    return 0;
}
