#pragma once

// The entry points of libOstrel.Logging.so. Every function may be called from any thread.
//
// A zone names a logger and its settings file; null (or the empty text) is the default zone, named after
// the application. Records keep the caller's zone pointer, so a zone text must stay valid until its zone
// has been shut down: string literals do.

#include <cstddef>
#include <cstdint>

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

// Whether a log call of `severity` into the zone would pass the zone's verbosity now. Makes the zone's
// logger when it has none yet, as a log call would; then answers without a lock.
OZR_LOGGING_API bool IsLoggingEnabled(const char* zone, Severity severity);

// Returns once every message logged before the call, by any thread, has been written to its files, sent
// or dropped, and standard output has been flushed. Shuts nothing down. Returns at once when no worker
// runs, and when called on the worker itself (from inside an appender). For tests and before exec or
// _exit; not async-signal-safe (see InstallLoggingCrashHandler).
OZR_LOGGING_API void FlushLogging();

// Counters since the process started. An application learns from them that lines are being dropped: the
// library prints nothing about its own failures.
struct LoggingStatistics
{
    std::uint64_t accepted;               // log calls that passed their zone's verbosity
    std::uint64_t fileLinesWritten;       // lines appended to log files
    std::uint64_t fileLinesDropped;       // lines that could not be opened or written
    std::uint64_t rotations;              // rotations of a zone's log files
    std::uint64_t consoleLinesWritten;    // lines written to standard output
    std::uint64_t syslogDatagramsSent;    // datagrams handed to the network; on a stream, records
                                          // written (each once, resends not counted)
    std::uint64_t syslogMessagesDropped;  // a full queue, a failed lookup or connection, a failed send
    // Added later, so appended: a program built against the earlier layout still reads the counters above.
    std::uint64_t consoleLinesDropped;  // a failed write to standard output, beyond the bound of what
                                        // waits for a full one, or still waiting when a flush gave up
    std::uint64_t workerExceptions;     // exceptions that escaped a task on the worker (an appender's)
    std::uint64_t queueDropped;         // accepted calls dropped because the queue was at its bound
    std::uint64_t syslogRecordsResent;  // stream records written again on a new connection because the
                                        // collector had not acknowledged them when the old one broke
    std::uint64_t formatFailures;       // accepted calls whose text the worker could not format
};

// Bounds the memory of messages waiting for the worker, all loggers together (default 64 MiB; 0: no
// bound). A call that finds the bound reached is dropped and counted in `queueDropped`; the caller never
// waits. Error and Print messages may go beyond it by a quarter of it, so that an overload of verbose
// lines does not cost the error that explains it. Affects the messages queued from now on.
OZR_LOGGING_API void SetLoggingQueueLimit(std::size_t bytes);

OZR_LOGGING_API LoggingStatistics GetLoggingStatistics();

// Opt-in: makes a crash write out what was logged before it. Installs a handler for SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT and SIGTRAP that waits until the worker has written, sent or dropped what was
// queued, at most `crashFlushTimeoutMs` milliseconds, then puts back the handler that was installed
// before (the application's own, or the default) and raises the signal again: the exit status and core
// dump are the signal's. A crash on the worker itself, while no worker runs, or during another thread's
// wait raises the signal again at once. Only the first call does anything. See the README for what it
// promises and what it cannot.
OZR_LOGGING_API void InstallLoggingCrashHandler(unsigned crashFlushTimeoutMs = 2000);

}  // namespace ozr::logging
