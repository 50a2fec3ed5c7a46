#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/post.hpp>

#include "appender/LineBatch.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::appender
{

// The lines that any thread handed to an appender, gathered into batches for its writes. The first line
// after a write job has started asks for a new job; the lines that arrive before that job runs join its
// batch. A batch that reaches its bound is written at once by the thread that runs the I/O context.
//
// Lock order: the write lock, then the lines lock. The lines lock is held for no I/O.
class PendingLines
{
public:
    // Takes a line handed to `owner`, a batching appender. The first line of a batch queues one job on
    // `strand` that writes the batch with `write`; the job holds `owner`, so it may outlive the owner's
    // owners. On the thread that runs the context a full batch is written at once: the queued job could
    // not start before this delivery returns. `rotationPeriod` goes into the batch with the line.
    template <typename Owner, typename Write>
    void Add(std::string_view line, boost::asio::io_context::strand& strand, Owner& owner, Write write,
             std::int64_t rotationPeriod = 0)
    {
        bool queueJob = false;
        bool full = false;
        {
            const LockGuard<Mutex> lock(linesMutex);
            pending->Add(line, rotationPeriod);
            queueJob = !std::exchange(jobQueued, true);
            full = pending->IsFull();
        }
        if (queueJob)
        {
            boost::asio::post(strand,
                              [this, self = owner.shared_from_this(), write]
                              {
                                  JobStarted();
                                  WriteWith(write);
                              });
        }
        if (full && strand.context().get_executor().running_in_this_thread())
        {
            WriteWith(write);
        }
    }

    // Writes, on `strand`, every line added so far, then releases `done`.
    template <typename Owner, typename Write>
    void Flush(boost::asio::io_context::strand& strand, Owner& owner, std::shared_ptr<void> done, Write write)
    {
        boost::asio::dispatch(strand, [this, self = owner.shared_from_this(), done = std::move(done), write]
                              { WriteWith(write); });
    }

private:
    // The queued job has started: lines added from now on queue another one.
    void JobStarted() OZR_EXCLUDES(linesMutex)
    {
        const LockGuard<Mutex> lock(linesMutex);
        jobQueued = false;
    }

    // Hands the waiting lines to `write` as one batch; writes run one at a time, in order.
    template <typename Write>
    void WriteWith(const Write& write) OZR_EXCLUDES(writeMutex, linesMutex)
    {
        const LockGuard<Mutex> writeLock(writeMutex);
        {
            const LockGuard<Mutex> lock(linesMutex);
            std::swap(pending, writing);
        }
        const ClearOnExit cleared(*writing);
        write(*writing);
    }

    Mutex writeMutex;
    Mutex linesMutex OZR_ACQUIRED_AFTER(writeMutex);
    std::unique_ptr<LineBatch> pending OZR_GUARDED_BY(linesMutex) = std::make_unique<LineBatch>();
    bool jobQueued OZR_GUARDED_BY(linesMutex) = false;
    std::unique_ptr<LineBatch> writing OZR_GUARDED_BY(writeMutex) = std::make_unique<LineBatch>();
};

}  // namespace ozr::logging::appender
