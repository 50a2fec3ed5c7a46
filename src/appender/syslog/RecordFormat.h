#pragma once

// The text of one syslog record in either layout, and its framing on a stream. Pure functions of their
// arguments, apart from RecordFormatter, which asks the application information provider for the
// default zone's name.

#include <cstddef>
#include <string>
#include <string_view>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/Message.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender::syslog
{

// The longest record of each layout: RFC 3164's limit, and the size RFC 5426 asks every receiver to take.
constexpr std::size_t MaxBsdRecordSize = 1024;
constexpr std::size_t MaxRfc5424RecordSize = 2048;

// "<134>Mar  5 09:07:03 gateway-2 Net: Channel.cpp(214): (TID 0x0000000000000A7C) Channel opened", cut
// to MaxBsdRecordSize with "...".
std::string FormatBsdRecord(const Message& message, std::string_view hostName, std::string_view tag);

// "<134>1 2024-03-05T09:07:03.250000+01:00 gateway-2 Net 4711 - - Channel.cpp(214): (TID 0x…) Channel
// opened": the local time with its offset from UTC, host, application name (the tag) and process id as
// printable ASCII of their fields' lengths ("-" when empty), no message id, no structured data, and the
// content of the BSD layout. Cut to MaxRfc5424RecordSize with "...".
std::string FormatRfc5424Record(const Message& message, std::string_view hostName, std::string_view tag,
                                std::string_view processId);

// The record as it goes on a stream: "<length> <record>" (octet counting) or "<record>\n".
std::string FrameRecord(std::string record, Framing framing);

// This machine's name as every record carries it: spaces removed, "-" when it cannot be had.
std::string LocalHostName();

// The record of a message in one layout, with this machine's host name and process id as they were when
// it was made.
class RecordFormatter
{
public:
    RecordFormatter(const IApplicationInfoProvider& applicationInfoProvider, Format format);

    std::string FormatRecord(const Message& message) const;

private:
    const IApplicationInfoProvider& applicationInfoProvider;
    const Format format;
    const std::string hostName;
    const std::string processId;
};

}  // namespace ozr::logging::appender::syslog
