#include "QueueDrainer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

#include <boost/asio/post.hpp>

#include "ArgumentCapture.h"
#include "CalendarCache.h"
#include "LoggingCounters.h"
#include "QueuedRecord.h"
#include "RecordPool.h"
#include "TextTrim.h"
#include "ThreadQueues.h"
#include "ZoneTable.h"
#include "ozr/logging/Logger.h"

namespace ozr::logging
{

namespace
{

bool Earlier(const QueuedRecord& left, const QueuedRecord& right)
{
    return left.time.tv_sec != right.time.tv_sec ? left.time.tv_sec < right.time.tv_sec
                                                 : left.time.tv_usec < right.time.tv_usec;
}

// The record's text as its call would have made it; false when the call makes no line.
bool MakeText(const QueuedRecord& record, std::string& text)
{
    if (record.kind == QueuedRecord::Formatted)
    {
        text.assign(reinterpret_cast<const char*>(record.Payload()), record.payloadSize);
        return true;
    }
    if (!FormatCapturedArguments(*record.format, record.Payload(), record.payloadSize, text))
    {
        AddTo(g_loggingCounters.formatFailures);
        return false;
    }
    text.resize(TrimmedLength(text.data(), text.size()));
    return !text.empty();
}

}  // namespace

QueueDrainer::QueueDrainer(boost::asio::io_context& ioContext)
    : ioContext(ioContext), timer(ioContext), wake(ioContext)
{
    const int descriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    boost::system::error_code error;
    if (descriptor >= 0 && !wake.assign(descriptor, error))
    {
        thread_queues::SetWakeDescriptor(descriptor);
    }
    else if (descriptor >= 0)
    {
        ::close(descriptor);
    }
}

QueueDrainer::~QueueDrainer()
{
    if (wake.is_open())
    {
        thread_queues::SetWakeDescriptor(-1);
    }
}

void QueueDrainer::Start()
{
    boost::asio::post(ioContext,
                      [this]
                      {
                          pollInterval = FirstPollInterval;
                          Pass(++run);
                      });
}

void QueueDrainer::Stop()
{
    boost::asio::post(ioContext,
                      [this]
                      {
                          ++run;
                          boost::system::error_code ignored;
                          timer.cancel();
                          wake.cancel(ignored);
                          thread_queues::AnnounceAwake();
                          DrainAll();
                      });
}

std::size_t QueueDrainer::DrainAll()
{
    RefreshQueues();
    snapshot.clear();
    for (const ThreadQueue* queue : queues)
    {
        snapshot.push_back(queue->Published());
    }
    const std::size_t delivered = Drain(SIZE_MAX, true);
    FreeDrainedRetiredQueues();
    return delivered;
}

void QueueDrainer::Pass(std::uint64_t passRun)
{
    if (passRun != run)
    {
        return;
    }
    RefreshQueues();
    if (Drain(RecordsPerPass, false) > 0)
    {
        pollInterval = FirstPollInterval;
        boost::asio::post(ioContext, [this, passRun] { Pass(passRun); });
        return;
    }
    FreeDrainedRetiredQueues();
    if (pollInterval <= QuietInterval)
    {
        PollLater(passRun);
        return;
    }
    Sleep(passRun);
}

void QueueDrainer::PollLater(std::uint64_t passRun)
{
    timer.expires_after(pollInterval);
    pollInterval *= 2;
    timer.async_wait(
        [this, passRun](const boost::system::error_code& error)
        {
            if (!error)
            {
                Pass(passRun);
            }
        });
}

// The announcement comes before the last look, so a record committed after that look finds the worker
// asleep and wakes it.
void QueueDrainer::Sleep(std::uint64_t passRun)
{
    thread_queues::AnnounceSleep();
    if (Drain(RecordsPerPass, false) > 0 || !wake.is_open())
    {
        thread_queues::AnnounceAwake();
        pollInterval = FirstPollInterval;
        boost::asio::post(ioContext, [this, passRun] { Pass(passRun); });
        return;
    }
    const std::uint64_t sleep = ++wakeCount;
    wake.async_wait(boost::asio::posix::descriptor_base::wait_read,
                    [this, passRun, sleep](const boost::system::error_code& error)
                    {
                        if (!error && sleep == wakeCount)
                        {
                            WakeUp(passRun, true);
                        }
                    });
    timer.expires_after(LongestSleep);
    timer.async_wait(
        [this, passRun, sleep](const boost::system::error_code& error)
        {
            if (!error && sleep == wakeCount)
            {
                WakeUp(passRun, false);
            }
        });
}

// Woken by a thread, the drainer polls again as after a record; at the end of the longest sleep it
// looks once and, finding nothing, sleeps again at once.
void QueueDrainer::WakeUp(std::uint64_t passRun, bool woken)
{
    ++wakeCount;  // the other of the two waits ends without effect
    boost::system::error_code ignored;
    timer.cancel();
    wake.cancel(ignored);
    thread_queues::AnnounceAwake();
    if (woken)
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wake.native_handle(), &count, sizeof count);
        pollInterval = FirstPollInterval;
    }
    Pass(passRun);
}

// Oldest first across the queues: each step takes the earliest of the queues' oldest records.
std::size_t QueueDrainer::Drain(std::size_t limit, bool upToSnapshot)
{
    std::size_t delivered = 0;
    while (delivered < limit)
    {
        ThreadQueue* earliestQueue = nullptr;
        const QueuedRecord* earliest = nullptr;
        for (std::size_t index = 0; index < queues.size(); ++index)
        {
            ThreadQueue* const queue = queues[index];
            if (upToSnapshot && (index >= snapshot.size() || queue->Popped() >= snapshot[index]))
            {
                continue;
            }
            const auto* record = reinterpret_cast<const QueuedRecord*>(queue->Front());
            if (record != nullptr && (earliest == nullptr || Earlier(*record, *earliest)))
            {
                earliest = record;
                earliestQueue = queue;
            }
        }
        if (earliest == nullptr)
        {
            break;
        }
        Deliver(*earliest);
        earliestQueue->Pop(earliest->Size());
        ++delivered;
    }
    EndBatch();
    return delivered;
}

void QueueDrainer::EndBatch()
{
    const std::shared_ptr<Logger> logger = std::move(batchLogger);
    const bool needsStart = std::exchange(batchNeedsStart, false);
    batchSize = 0;
    if (needsStart)
    {
        try
        {
            logger->StartDelivery();
        }
        catch (...)
        {
            AddTo(g_loggingCounters.workerExceptions);
        }
    }
}

void QueueDrainer::RefreshQueues()
{
    thread_queues::CopyIfChanged(queues, queuesVersion);
}

// A retired queue's thread has committed its last record before retiring it.
void QueueDrainer::FreeDrainedRetiredQueues()
{
    bool freed = false;
    for (ThreadQueue* queue : queues)
    {
        if (queue->Retired() && queue->Front() == nullptr)
        {
            thread_queues::Free(queue);
            freed = true;
        }
    }
    if (freed)
    {
        RefreshQueues();
    }
}

// A record whose delivery fails costs that record only: the failure is counted and the drain goes on.
void QueueDrainer::Deliver(const QueuedRecord& record)
{
    Logger* const logger = record.zone->DeliveryTarget();
    if (logger == nullptr)
    {
        return;
    }
    if (logger != batchLogger.get() || batchSize == MaxBatch)
    {
        EndBatch();
        batchLogger = logger->shared_from_this();
    }
    try
    {
        std::shared_ptr<Message> message = RecordPool::Acquire();
        if (!MakeText(record, message->text))
        {
            return;
        }
        message->localTime = LocalTimeAt(record.time);
        message->universalTime = UniversalTimeAt(record.time);
        message->file.assign(record.File(), record.fileLength);
        message->severity = record.severity;
        message->line = record.line;
        message->threadId = record.threadId;
        message->zone = record.zone->Key() ? record.zone->Key()->c_str() : nullptr;
        batchNeedsStart = logger->LogQueuedRecord(std::move(message), false) || batchNeedsStart;
        ++batchSize;
    }
    catch (...)
    {
        AddTo(g_loggingCounters.workerExceptions);
    }
}

}  // namespace ozr::logging
