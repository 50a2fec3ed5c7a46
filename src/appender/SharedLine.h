#pragma once

#include <memory>
#include <string>

#include "appender/LineLayout.h"
#include "ozr/logging/Message.h"

namespace ozr::logging::appender
{

// The line of `message` in `layout`, formatted once per thread for consecutive requests with the same
// message and an equal layout: the file and console appenders that one delivery reaches share a single
// formatting when they write the same layout. The reference stays valid until this thread asks for
// another line. The message is kept until then, so its address cannot be reused for a different record
// meanwhile.
const std::string& FormatSharedLine(const LineLayout& layout, std::shared_ptr<Message const> message);

}  // namespace ozr::logging::appender
