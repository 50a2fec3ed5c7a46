#pragma once

// The entry points of libOstrel.Logging.so. Every function may be called from any thread.
//
// A zone names a logger and its settings file; null (or the empty text) is the default zone, named after
// the application. Records keep the caller's zone pointer, so a zone text must stay valid until its zone
// has been shut down: string literals do.

#include "ozr/logging/Export.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// Directory searched for settings files (default "/etc/ostrel/config"); affects loggers made afterwards.
// Null or empty: nothing happens.
OZR_LOGGING_API void SetLoggingConfigDirectoryPath(const char* directory);

// Default directory of log files (default "/var/ostrel/logs"); affects zones made afterwards.
// Null or empty: nothing happens.
OZR_LOGGING_API void SetLoggingLogsDirectoryPath(const char* directory);

// Starts the worker when none runs and makes the zone's logger.
OZR_LOGGING_API void InitialiseLogging(const char* zone);

// Marks the zone shut down; the call that ends the last active zone returns once everything queued
// before it has been written or sent.
OZR_LOGGING_API void ShutdownLogging(const char* zone);

// Sets the zone's verbosity and writes it to the zone's settings file at once.
OZR_LOGGING_API void SetLoggingVerbosity(Severity verbosity, const char* zone);

// Logs one printf-style message when `severity` is within the zone's verbosity. A rejected call formats
// nothing and allocates nothing; the caller never waits for output.
OZR_LOGGING_API void ToLog(const char* zone, Severity severity, const char* file, unsigned int line,
                           unsigned long threadId, const char* fmt, ...)
    __attribute__((format(printf, 6, 7)));

}  // namespace ozr::logging
