#include "ozr/logging/appender/MessageFormatter.h"

#include "appender/TextLine.h"

namespace ozr::logging::appender
{

// The line is built once and handed to the stream in a single write, so a shared stream (standard
// output) is locked and searched for its buffer once per message rather than once per piece.
void MessageFormatter::PrintMessage(std::ostream& stream, const Message& message) const
{
    const std::string line = PrintMessage(message);
    stream.write(line.data(), static_cast<std::streamsize>(line.size()));
}

std::string MessageFormatter::PrintMessage(const Message& message) const
{
    std::string line;
    AppendTextLine(line, message);
    return line;
}

}  // namespace ozr::logging::appender
