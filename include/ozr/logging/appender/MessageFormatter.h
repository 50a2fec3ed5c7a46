#pragma once

#include <ostream>
#include <string>

#include "ozr/logging/Message.h"

namespace ozr::logging::appender
{

// Renders a message as the library's text line:
//   main.src(42): (TID 0x0000FFFF8A2BF010) 2024-Mar-05 14:07:09.123456 [Info] - Service started\n
// Stateless; serialising writes to one stream is the caller's business.
class OZR_LOGGING_API IMessageFormatter
{
public:
    virtual ~IMessageFormatter() = default;
    // Writes one line; neither flushes nor checks the stream.
    virtual void PrintMessage(std::ostream& stream, const Message& message) const = 0;
    virtual std::string PrintMessage(const Message& message) const = 0;
};

class OZR_LOGGING_API MessageFormatter final : public IMessageFormatter
{
public:
    void PrintMessage(std::ostream& stream, const Message& message) const override;
    std::string PrintMessage(const Message& message) const override;
};

}  // namespace ozr::logging::appender
