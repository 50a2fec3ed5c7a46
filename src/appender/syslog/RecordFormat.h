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

// The longest record: RFC 3164's limit for the BSD layout on every transport, and for the RFC 5424
// layout in a datagram; an RFC 5424 record on a stream may be up to 64 KiB.
constexpr std::size_t MaxBsdRecordSize = 1024;
constexpr std::size_t MaxRfc5424DatagramSize = 1024;
constexpr std::size_t MaxRfc5424StreamRecordSize = 65536;

// The structured data element of every RFC 5424 record: an SD-ID of the form name@<private enterprise
// number>, with 32473, the number RFC 5612 reserves for documentation.
constexpr char StructuredDataId[] = "ozr@32473";

// "<134>Mar  5 09:07:03 gateway-2 Net: Channel.cpp(214): (TID 0x0000000000000A7C) Channel opened", cut
// to MaxBsdRecordSize with "...".
std::string FormatBsdRecord(const Message& message, std::string_view hostName, std::string_view tag);

// "<134>1 2024-03-05T09:07:03.250000+01:00 gateway-2 gatewayd 4711 Net [ozr@32473 file="Channel.cpp"
// line="214" tid="0x0000000000000A7C"] <BOM>Channel opened": the local time with its offset from UTC,
// host, application name, process id and message id (the zone) as printable ASCII of their fields'
// lengths ("-" when empty), the source position and thread as structured data, then a UTF-8 byte-order
// mark and the text with every ill-formed UTF-8 sequence replaced by U+FFFD (no MSG at all when the text
// is empty). A record longer than `maxSize` is cut at a character boundary of the text and ends in "...".
std::string FormatRfc5424Record(const Message& message, std::string_view hostName, std::string_view appName,
                                std::string_view processId, std::string_view messageId, std::size_t maxSize);

// The record as it goes on a stream: "<length> <record>" (octet counting) or "<record>\n".
std::string FrameRecord(std::string record, Framing framing);

// This machine's name as every record carries it: spaces removed, "-" when it cannot be had.
std::string LocalHostName();

// The record of a message in one layout, within the bound of its transport, with this machine's host
// name and process id as they were when it was made.
class RecordFormatter
{
public:
    RecordFormatter(const IApplicationInfoProvider& applicationInfoProvider, Format format,
                    Transport transport);

    std::string FormatRecord(const Message& message) const;

private:
    const IApplicationInfoProvider& applicationInfoProvider;
    const Format format;
    const std::size_t maxRfc5424Size;
    const std::string hostName;
    const std::string processId;
};

}  // namespace ozr::logging::appender::syslog
