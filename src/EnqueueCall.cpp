#include "EnqueueCall.h"

#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "ArgumentCapture.h"
#include "CalendarCache.h"
#include "FormatCache.h"
#include "FormatText.h"
#include "LoggingCounters.h"
#include "QueueBudget.h"
#include "QueuedRecord.h"
#include "ThreadQueues.h"

namespace ozr::logging
{

namespace
{

// Never destroyed: records point into it until the process ends. Made by PrepareEnqueueing.
std::atomic<FormatCache*> g_processFormats{nullptr};

FormatCache& ProcessFormats()
{
    return *g_processFormats.load(std::memory_order_acquire);
}

const char* FileNameOf(const char* path)
{
    if (path == nullptr)
    {
        return "";
    }
    const char* const lastSeparator = std::strrchr(path, '/');
    return lastSeparator == nullptr ? path : lastSeparator + 1;
}

void CheckCalendar(const timeval& now)
{
    if (now.tv_sec != t_threadState.checkedSecond)
    {
        LocalTimeAt(now);
        UniversalTimeAt(now);
        t_threadState.checkedSecond = now.tv_sec;
    }
}

// The payload: the captured arguments, or the text formatted here. False when the call makes no line.
bool Capture(ThreadQueue& queue, const ParsedFormat* parsed, int callerErrno, const char* fmt,
             std::va_list& args) __attribute__((format(printf, 4, 0)));
bool Capture(ThreadQueue& queue, const ParsedFormat* parsed, int callerErrno, const char* fmt,
             std::va_list& args)
{
    if (parsed != nullptr)
    {
        queue.arguments.Clear();
        errno = callerErrno;
        CaptureArguments(*parsed, args, queue.arguments);
        return true;
    }
    errno = callerErrno;
    return FormatText(queue.text, fmt, args);
}

}  // namespace

void PrepareEnqueueing()
{
    thread_queues::Prepare();
    if (g_processFormats.load(std::memory_order_acquire) == nullptr)
    {
        g_processFormats.store(new FormatCache(4096), std::memory_order_release);
    }
}

Enqueued EnqueueCall(const ZoneEntry& entry, Severity severity, const char* file, unsigned int line,
                     unsigned long threadId, const char* fmt, std::va_list& args)
{
    const int callerErrno = errno;
    ThreadQueue* const queue = thread_queues::OfThisThread();
    if (queue == nullptr)
    {
        return Enqueued::NoQueue;
    }
    queue->CountAccepted();
    if (fmt == nullptr)
    {
        return Enqueued::Yes;
    }
    const ParsedFormat* const parsed = ProcessFormats().Find(fmt);
    if (!Capture(*queue, parsed, callerErrno, fmt, args))
    {
        return Enqueued::Yes;
    }
    timeval now{};
    gettimeofday(&now, nullptr);
    CheckCalendar(now);

    const char* const fileName = FileNameOf(file);
    const std::size_t fileLength = std::strlen(fileName);
    const std::size_t payloadSize = parsed != nullptr ? queue->arguments.Size() : queue->text.size();
    const std::size_t size = QueuedRecord::SizeFor(fileLength, payloadSize);
    unsigned char* const bytes = payloadSize <= UINT32_MAX && fileLength <= UINT32_MAX
                                     ? queue->Reserve(size, QueueBudget::MayUseReserve(severity))
                                     : nullptr;
    if (bytes == nullptr)
    {
        AddTo(g_loggingCounters.queueDropped);
        return Enqueued::Dropped;
    }
    auto* const record =
        new (bytes) QueuedRecord{now,
                                 parsed,
                                 &entry,
                                 threadId,
                                 line,
                                 static_cast<std::uint32_t>(fileLength),
                                 static_cast<std::uint32_t>(payloadSize),
                                 severity,
                                 parsed != nullptr ? QueuedRecord::Captured : QueuedRecord::Formatted};
    std::memcpy(const_cast<char*>(record->File()), fileName, fileLength);
    if (payloadSize != 0)  // a format without arguments captures nothing, and has no buffer yet
    {
        std::memcpy(const_cast<unsigned char*>(record->Payload()),
                    parsed != nullptr ? queue->arguments.Data()
                                      : reinterpret_cast<const unsigned char*>(queue->text.data()),
                    payloadSize);
    }
    queue->Commit(size);
    thread_queues::WakeWorkerIfAsleep();
    return Enqueued::Yes;
}

}  // namespace ozr::logging
