#pragma once

#include <memory>

#include "ozr/logging/Export.h"
#include "ozr/logging/Message.h"

namespace ozr::logging
{

// An output sink. `Log` may be called from any thread, never waits for output and never reports a
// failure: what cannot be written is dropped.
class OZR_LOGGING_API ILogAppender
{
public:
    virtual ~ILogAppender() = default;
    virtual void Log(std::shared_ptr<Message const> message) = 0;
};

}  // namespace ozr::logging
