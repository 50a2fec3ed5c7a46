#include <cstdio>

#include "LoggingCounters.h"
#include "ThreadQueues.h"
#include "ozr/logging/LoggerManager.h"
#include "ozr/logging/Logging.h"

namespace ozr::logging
{

// The console appender writes its lines to descriptor 1 itself, past stdout's buffer; the final flush
// covers whatever the application wrote through the C library.
void FlushLogging()
{
    GetLoggerManager().Flush();
    std::fflush(stdout);
}

LoggingStatistics GetLoggingStatistics()
{
    const auto read = [](const std::atomic<std::uint64_t>& counter)
    { return counter.load(std::memory_order_relaxed); };
    const LoggingCounters& counters = g_loggingCounters;
    return LoggingStatistics{read(counters.accepted) + thread_queues::Accepted(),
                             read(counters.fileLinesWritten),
                             read(counters.fileLinesDropped),
                             read(counters.rotations),
                             read(counters.consoleLinesWritten),
                             read(counters.syslogDatagramsSent),
                             read(counters.syslogMessagesDropped),
                             read(counters.consoleLinesDropped),
                             read(counters.workerExceptions),
                             read(counters.queueDropped),
                             read(counters.syslogRecordsResent),
                             read(counters.formatFailures)};
}

}  // namespace ozr::logging
