#pragma once

#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#include "appender/LineBatch.h"

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
    struct Added
    {
        bool queueJob;  // the first line of a batch: queue the write job
        bool full;      // the batch reached its bound
    };

    Added Add(std::string_view line)
    {
        std::lock_guard<std::mutex> lock(linesMutex);
        pending->Add(line);
        return Added{!std::exchange(jobQueued, true), pending->IsFull()};
    }

    // The queued job has started: lines added from now on queue another one.
    void JobStarted()
    {
        std::lock_guard<std::mutex> lock(linesMutex);
        jobQueued = false;
    }

    // Hands the waiting lines to `write` as one batch; writes run one at a time, in order.
    template <typename Write>
    void WriteWith(Write write)
    {
        std::lock_guard<std::mutex> writeLock(writeMutex);
        {
            std::lock_guard<std::mutex> lock(linesMutex);
            std::swap(pending, writing);
        }
        const ClearOnExit cleared(*writing);
        write(*writing);
    }

private:
    std::mutex writeMutex;
    std::mutex linesMutex;
    std::unique_ptr<LineBatch> pending = std::make_unique<LineBatch>();
    bool jobQueued = false;
    std::unique_ptr<LineBatch> writing = std::make_unique<LineBatch>();  // guarded by writeMutex
};

}  // namespace ozr::logging::appender
