#pragma once

#include <memory>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "ozr/logging/Message.h"

namespace ozr::testing
{

// A record with the given text and fixed, recognisable other fields, for appender tests.
inline std::shared_ptr<ozr::logging::Message const> MakeMessage(
    std::string text, ozr::logging::Severity severity = ozr::logging::Severity::Info,
    const char* zone = "Test", std::uint64_t threadId = 0xA7C)
{
    const auto time = boost::posix_time::ptime(
        boost::gregorian::date(2024, 3, 5),
        boost::posix_time::time_duration(14, 7, 9) + boost::posix_time::microseconds(123456));
    return std::make_shared<const ozr::logging::Message>(
        ozr::logging::Message{time, time, "main.src", std::move(text), severity, 42, threadId, zone});
}

}  // namespace ozr::testing
