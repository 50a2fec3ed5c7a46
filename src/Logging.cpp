#include "ozr/logging/Logging.h"

#include <cstdarg>
#include <filesystem>
#include <memory>

#include "LoggingCounters.h"
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

void SetLoggingVerbosity(Severity verbosity, const char* zone)
{
    GetLoggerManager().GetLogger(zone)->SetVerbosity(verbosity);
}

void ToLog(const char* zone, Severity severity, const char* file, unsigned int line, unsigned long threadId,
           const char* fmt, ...)
{
    const std::shared_ptr<ILogger> logger = GetLoggerManager().GetLoggerAccepting(zone, severity);
    if (!logger)
    {
        return;
    }
    AddTo(g_loggingCounters.accepted);
    std::shared_ptr<Message const> message;
    std::va_list args;
    va_start(args, fmt);
    try
    {
        message = GetMessageBuilder().BuildMessage(zone, severity, file, line, threadId, fmt, args);
    }
    catch (...)
    {
        va_end(args);
        throw;
    }
    va_end(args);
    if (message)
    {
        logger->Log(std::move(message));
    }
}

}  // namespace ozr::logging
