#pragma once

#include <memory>
#include <string>

#include "ozr/logging/Message.h"
#include "ozr/logging/appender/MessageFormatter.h"

namespace ozr::logging::appender
{

// The text line of `message`, formatted once per thread for consecutive requests with the same message
// and formatter: the file and console appenders that one delivery reaches share a single formatting. The
// reference stays valid until this thread asks for another message's line. The message is kept until
// then, so its address cannot be reused for a different record meanwhile.
const std::string& FormatSharedLine(const IMessageFormatter& formatter,
                                    std::shared_ptr<Message const> message);

}  // namespace ozr::logging::appender
