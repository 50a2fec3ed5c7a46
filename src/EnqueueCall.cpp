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
#include "ozr/logging/CallSite.h"

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

const ParsedFormat* FindFormat(const char* fmt)
{
    return fmt != nullptr ? ProcessFormats().Find(fmt) : nullptr;
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

CallFacts FindCallFacts(const char* fmt, const char* file)
{
    const char* const fileName = FileNameOf(file);
    return CallFacts{FindFormat(fmt), fileName, std::strlen(fileName)};
}

CallFacts FindSiteCallFacts(CallSite& site, const char* fmt, const char* file)
{
    const CallSite::Facts* const kept = site.FactsFor(file);
    if (kept != nullptr)
    {
        return CallFacts{FindFormat(fmt), kept->fileName, kept->fileNameLength};
    }
    const CallFacts facts = FindCallFacts(fmt, file);
    CallSite::Facts found;
    found.file = file;
    found.format = fmt;
    found.parsedFormat = facts.format;
    found.fileName = facts.fileName;
    found.fileNameLength = facts.fileNameLength;
    found.formatKnown = site.HasFixedFormat();
    site.KeepFacts(found);
    return facts;
}

namespace
{

// The fixed part of a record: everything but its payload.
struct RecordHead
{
    const CallFacts& facts;
    const ZoneEntry& entry;
    Severity severity;
    unsigned int line;
    unsigned long threadId;

    std::size_t Size() const { return sizeof(QueuedRecord) + facts.fileNameLength; }
};

// The record's header and file name at `bytes`, read from the clock now; its payload follows them.
void WriteHead(unsigned char* bytes, const RecordHead& head, std::size_t payloadSize)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    CheckCalendar(now);
    auto* const record = new (bytes)
        QueuedRecord{now,
                     head.facts.format,
                     &head.entry,
                     head.threadId,
                     head.line,
                     static_cast<std::uint32_t>(head.facts.fileNameLength),
                     static_cast<std::uint32_t>(payloadSize),
                     head.severity,
                     head.facts.format != nullptr ? QueuedRecord::Captured : QueuedRecord::Formatted};
    std::memcpy(const_cast<char*>(record->File()), head.facts.fileName, head.facts.fileNameLength);
}

// A captured call written and committed straight into the room of its thread's queue; false, with
// nothing committed, when it does not fit there.
bool CaptureInPlace(ThreadQueue& queue, const RecordHead& head, int callerErrno, std::va_list& args)
{
    std::size_t room = 0;
    unsigned char* const bytes = queue.Room(QueueBudget::MayUseReserve(head.severity), room);
    if (room < head.Size())
    {
        return false;
    }
    BoundedBytes payload(bytes + head.Size(), room - head.Size());
    errno = callerErrno;
    CaptureArguments(*head.facts.format, args, payload);
    if (payload.Overflowed())
    {
        return false;
    }
    WriteHead(bytes, head, payload.Size());
    // The room is a multiple of the alignment, so the rounded size still fits.
    queue.Commit(QueuedRecord::SizeFor(head.facts.fileNameLength, payload.Size()));
    return true;
}

// A call whose payload is captured or formatted into the thread's scratch memory first: one that does
// not fit in the room left, or is formatted here. It takes a new block when the bound allows.
Enqueued CopyIntoQueue(ThreadQueue& queue, const RecordHead& head, int callerErrno, const char* fmt,
                       std::va_list& args) __attribute__((format(printf, 4, 0)));
Enqueued CopyIntoQueue(ThreadQueue& queue, const RecordHead& head, int callerErrno, const char* fmt,
                       std::va_list& args)
{
    const ParsedFormat* const parsed = head.facts.format;
    if (!Capture(queue, parsed, callerErrno, fmt, args))
    {
        return Enqueued::Yes;
    }
    const std::size_t payloadSize = parsed != nullptr ? queue.arguments.Size() : queue.text.size();
    const std::size_t size = QueuedRecord::SizeFor(head.facts.fileNameLength, payloadSize);
    unsigned char* const bytes =
        payloadSize <= UINT32_MAX ? queue.Reserve(size, QueueBudget::MayUseReserve(head.severity)) : nullptr;
    if (bytes == nullptr)
    {
        AddTo(g_loggingCounters.queueDropped);
        return Enqueued::Dropped;
    }
    WriteHead(bytes, head, payloadSize);
    if (payloadSize != 0)  // a format without arguments captures nothing, and has no buffer yet
    {
        std::memcpy(bytes + head.Size(),
                    parsed != nullptr ? queue.arguments.Data()
                                      : reinterpret_cast<const unsigned char*>(queue.text.data()),
                    payloadSize);
    }
    queue.Commit(size);
    return Enqueued::Yes;
}

}  // namespace

Enqueued EnqueueCall(const ZoneEntry& entry, Severity severity, const CallFacts& facts, unsigned int line,
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
    if (facts.fileNameLength > UINT32_MAX)
    {
        AddTo(g_loggingCounters.queueDropped);
        return Enqueued::Dropped;
    }
    const RecordHead head{facts, entry, severity, line, threadId};
    if (facts.format == nullptr || !CaptureInPlace(*queue, head, callerErrno, args))
    {
        const Enqueued enqueued = CopyIntoQueue(*queue, head, callerErrno, fmt, args);
        if (enqueued != Enqueued::Yes)
        {
            return enqueued;
        }
    }
    thread_queues::WakeWorkerIfAsleep();
    return Enqueued::Yes;
}

}  // namespace ozr::logging
