#pragma once

#include <cstdint>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// The immutable record of one accepted log call. Built once by the message builder, always held as
// std::shared_ptr<Message const>, and read by the appenders on the worker thread after the call returned.
struct Message
{
    boost::posix_time::ptime localTime;      // local wall-clock time at which the record was built
    boost::posix_time::ptime universalTime;  // UTC, read right after localTime
    std::string file;                        // file-name component of the caller's source path
    std::string text;                        // formatted text, trailing control characters removed
    Severity severity;
    std::uint32_t line;
    std::uint64_t threadId;  // opaque identifier chosen by the application
    const char* zone;        // not copied: the log calls give the library's own copy of the zone's name,
                             // a MessageBuilder used directly the caller's pointer; null for the default zone
};

}  // namespace ozr::logging
