#include "appender/SharedLine.h"

#include <utility>

namespace ozr::logging::appender
{
namespace
{

struct LastLine
{
    const IMessageFormatter* formatter = nullptr;
    std::shared_ptr<Message const> message;
    std::string line;
};

thread_local LastLine t_lastLine;

}  // namespace

const std::string& FormatSharedLine(const IMessageFormatter& formatter,
                                    std::shared_ptr<Message const> message)
{
    LastLine& last = t_lastLine;
    if (last.message != message || last.formatter != &formatter)
    {
        last.line = formatter.PrintMessage(*message);
        last.formatter = &formatter;
        last.message = std::move(message);
    }
    return last.line;
}

}  // namespace ozr::logging::appender
