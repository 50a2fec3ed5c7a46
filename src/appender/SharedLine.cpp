#include "appender/SharedLine.h"

#include <typeinfo>
#include <utility>

#include "appender/TextLine.h"

namespace ozr::logging::appender
{
namespace
{

struct LastLine
{
    const IMessageFormatter* formatter = nullptr;
    std::shared_ptr<Message const> message;
    std::string line;  // keeps its memory from one message to the next
};

thread_local LastLine t_lastLine;

// The library's own formatter writes straight into the reused line; any other goes through its
// virtual function.
void Format(const IMessageFormatter& formatter, const Message& message, std::string& line)
{
    if (typeid(formatter) == typeid(MessageFormatter))
    {
        line.clear();
        AppendTextLine(line, message);
    }
    else
    {
        line = formatter.PrintMessage(message);
    }
}

}  // namespace

const std::string& FormatSharedLine(const IMessageFormatter& formatter,
                                    std::shared_ptr<Message const> message)
{
    LastLine& last = t_lastLine;
    if (last.message != message || last.formatter != &formatter)
    {
        Format(formatter, *message, last.line);
        last.formatter = &formatter;
        last.message = std::move(message);
    }
    return last.line;
}

}  // namespace ozr::logging::appender
