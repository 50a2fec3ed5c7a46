#pragma once

#include <memory>

#include "ozr/logging/Export.h"

namespace ozr::logging
{

// Implemented by the library's loggers and appenders beside their main interface, so that FlushLogging
// can wait for output. `Flush` returns at once; `done` is held until everything handed over before the
// call has been written, sent or dropped, and then released. Whoever waits learns of the completion from
// the release of the last copy.
class OZR_LOGGING_API IFlushable
{
public:
    virtual ~IFlushable() = default;
    virtual void Flush(std::shared_ptr<void> done) = 0;
};

}  // namespace ozr::logging
