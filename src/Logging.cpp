#include "ozr/logging/Logging.h"

#include <cstdarg>
#include <filesystem>
#include <memory>

#include "EnqueueCall.h"
#include "LoggingCounters.h"
#include "QueueBudget.h"
#include "RegisteredLogger.h"
#include "ZoneFilter.h"
#include "ozr/logging/CallSiteLimit.h"
#include "ozr/logging/DateTimeProvider.h"
#include "ozr/logging/LoggerManager.h"
#include "ozr/logging/MessageBuilder.h"
#include "ozr/logging/appender/file/ConfigProvider.h"

namespace ozr::logging
{

namespace
{

// Made by the first log call that passes its zone's verbosity, so rejected calls never touch the clock.
// Never destroyed, like the logger manager: threads that still log while the process exits use them.
const IMessageBuilder& GetMessageBuilder()
{
    static const MessageBuilder* const messageBuilder = new MessageBuilder(*new DateTimeProvider());
    return *messageBuilder;
}

bool IsEmpty(const char* text)
{
    return text == nullptr || *text == '\0';
}

}  // namespace

void SetLoggingConfigDirectoryPath(const char* directory)
{
    if (!IsEmpty(directory))
    {
        GetLoggerManager().SetConfigDirectoryPath(std::filesystem::path(directory));
    }
}

void SetLoggingLogsDirectoryPath(const char* directory)
{
    if (!IsEmpty(directory))
    {
        appender::file::ConfigProvider::SetDefaultLogDirectory(std::filesystem::path(directory));
    }
}

void InitialiseLogging(const char* zone)
{
    GetLoggerManager().InitialiseLogger(zone);
}

void ShutdownLogging(const char* zone)
{
    GetLoggerManager().ShutdownLogger(zone);
}

void SetLoggingQueueLimit(std::size_t bytes)
{
    g_queueBudget.SetLimit(bytes);
}

void SetLoggingVerbosity(Severity verbosity, const char* zone)
{
    GetLoggerManager().GetLogger(zone)->SetVerbosity(verbosity);
}

namespace
{

// va_end for a list that an exception may leave.
class ArgumentsEnd
{
public:
    explicit ArgumentsEnd(std::va_list& args) : args(args) {}
    ~ArgumentsEnd() { va_end(args); }
    ArgumentsEnd(const ArgumentsEnd&) = delete;
    ArgumentsEnd& operator=(const ArgumentsEnd&) = delete;

private:
    std::va_list& args;
};

// The registry's way, for a zone without a registered logger that accepts (made here when missing) and
// for a thread that has ended: the record is built here and handed to the logger.
void LogThroughRegistry(const char* zone, Severity severity, const char* file, unsigned int line,
                        unsigned long threadId, const char* fmt, std::va_list& args)
    __attribute__((format(printf, 6, 0)));
void LogThroughRegistry(const char* zone, Severity severity, const char* file, unsigned int line,
                        unsigned long threadId, const char* fmt, std::va_list& args)
{
    const std::shared_ptr<RegisteredLogger> logger = GetLoggerManager().GetLoggerAccepting(zone, severity);
    if (!logger)
    {
        return;
    }
    if (EnqueueCall(logger->Entry(), severity, FindCallFacts(fmt, file), line, threadId, fmt, args) !=
        Enqueued::NoQueue)
    {
        return;
    }
    AddTo(g_loggingCounters.accepted);
    auto message =
        GetMessageBuilder().BuildMessage(logger->ZoneName(), severity, file, line, threadId, fmt, args);
    if (message)
    {
        logger->Log(std::move(message));
    }
}

// The part of a log call that the zone's published verbosity did not reject at once. Kept out of ToLog,
// so that a rejected call pays for none of its registers and stack.
__attribute__((noinline)) void LogUnlessRejected(const ZoneEntry* entry, const char* zone, Severity severity,
                                                 const char* file, unsigned int line, unsigned long threadId,
                                                 const char* fmt, std::va_list& args)
    __attribute__((format(printf, 7, 0)));
void LogUnlessRejected(const ZoneEntry* entry, const char* zone, Severity severity, const char* file,
                       unsigned int line, unsigned long threadId, const char* fmt, std::va_list& args)
{
    if (entry != nullptr && entry->AcceptingGeneration(severity) != 0 &&
        EnqueueCall(*entry, severity, FindCallFacts(fmt, file), line, threadId, fmt, args) !=
            Enqueued::NoQueue)
    {
        return;
    }
    LogThroughRegistry(zone, severity, file, line, threadId, fmt, args);
}

}  // namespace

bool IsLoggingEnabled(const char* zone, Severity severity)
{
    const ZoneEntry* const entry = FindProcessZone(zone);
    if (entry != nullptr && entry->Rejects(severity))
    {
        return false;
    }
    if (entry != nullptr && entry->AcceptingGeneration(severity) != 0)
    {
        return true;
    }
    // No logger is registered for the zone: the registry makes one and its verbosity decides.
    return GetLoggerManager().GetLogger(zone)->GetVerbosity() >= severity;
}

bool IsLoggingEnabledAt(CallSite& site, const char* zone, Severity severity)
{
    const std::uint64_t namesEpoch = detail::zoneNamesEpoch.load(std::memory_order_acquire);
    if (const ZoneEntry* const entry = FindProcessZone(zone))
    {
        site.Remember(zone, entry, entry->StateWord(), namesEpoch);
    }
    return IsLoggingEnabled(zone, severity);
}

void ToLog(const char* zone, Severity severity, const char* file, unsigned int line, unsigned long threadId,
           const char* fmt, ...)
{
    const ZoneEntry* const entry = FindProcessZone(zone);
    if (entry != nullptr && entry->Rejects(severity))
    {
        return;
    }
    std::va_list args;
    va_start(args, fmt);
    const ArgumentsEnd end(args);
    LogUnlessRejected(entry, zone, severity, file, line, threadId, fmt, args);
}

void ToLogAt(CallSite& site, const char* zone, Severity severity, const char* file, unsigned int line,
             unsigned long threadId, const char* fmt, ...)
{
    const auto* entry = static_cast<const ZoneEntry*>(site.CurrentEntry(zone));
    if (entry == nullptr)
    {
        const std::uint64_t namesEpoch = detail::zoneNamesEpoch.load(std::memory_order_acquire);
        entry = FindProcessZone(zone);
        if (entry != nullptr)
        {
            site.Remember(zone, entry, entry->StateWord(), namesEpoch);
        }
    }
    const bool accepting = entry != nullptr && entry->AcceptingGeneration(severity) != 0;
    if (!accepting && entry != nullptr && entry->Rejects(severity))
    {
        return;
    }
    std::va_list args;
    va_start(args, fmt);
    const ArgumentsEnd end(args);
    if (!accepting || EnqueueCall(*entry, severity, SiteCallFacts(site, fmt, file), line, threadId, fmt,
                                  args) == Enqueued::NoQueue)
    {
        LogThroughRegistry(zone, severity, file, line, threadId, fmt, args);
    }
}

}  // namespace ozr::logging
