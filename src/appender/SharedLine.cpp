#include "appender/SharedLine.h"

#include <typeinfo>
#include <utility>

#include "appender/JsonLine.h"
#include "appender/TextLine.h"

namespace ozr::logging::appender
{
namespace
{

struct LastLine
{
    const IMessageFormatter* formatter = nullptr;
    LineFormat format = LineFormat::Text;
    std::string applicationName;
    std::shared_ptr<Message const> message;
    std::string line;  // keeps its memory from one message to the next
};

thread_local LastLine t_lastLine;

// A JSON line does not depend on the formatter, a text line not on the application's name.
bool IsSameLayout(const LastLine& last, const LineLayout& layout)
{
    if (last.format != layout.format)
    {
        return false;
    }
    return layout.format == LineFormat::Json ? last.applicationName == layout.applicationName
                                             : last.formatter == &layout.formatter;
}

// The library's own formatter writes straight into the reused line; any other goes through its
// virtual function.
void Format(const LineLayout& layout, const Message& message, std::string& line)
{
    if (layout.format == LineFormat::Json)
    {
        line.clear();
        AppendJsonLine(line, message, layout.applicationName);
    }
    else if (typeid(layout.formatter) == typeid(MessageFormatter))
    {
        line.clear();
        AppendTextLine(line, message);
    }
    else
    {
        line = layout.formatter.PrintMessage(message);
    }
}

}  // namespace

const std::string& FormatSharedLine(const LineLayout& layout, std::shared_ptr<Message const> message)
{
    LastLine& last = t_lastLine;
    if (last.message != message || !IsSameLayout(last, layout))
    {
        Format(layout, *message, last.line);
        last.formatter = &layout.formatter;
        last.format = layout.format;
        if (layout.format == LineFormat::Json)
        {
            last.applicationName = layout.applicationName;
        }
        last.message = std::move(message);
    }
    return last.line;
}

}  // namespace ozr::logging::appender
