#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "ThreadQueue.h"

namespace ozr::logging
{

class Logger;
struct QueuedRecord;

// Takes the records of every thread's queue (ThreadQueues.h), oldest first, makes each one's Message
// (formatting its text here when its thread only captured the arguments) and logs it to its zone's
// logger, on the thread that runs the context: consecutive records of one logger reach its strand
// together.
//
// While records come, the drainer takes them in passes of a bounded size, yielding to the context's other
// tasks between passes. When none came for a quiet interval it polls less and less often, then sleeps
// until a thread wakes it (or a bounded time has passed, should a wake-up have been missed).
//
// Start and Stop may be called on any thread; they only post to the context. Everything else runs on the
// thread running the context, or, for DrainAll, on a thread that runs a context no worker runs.
class QueueDrainer
{
public:
    // Polling after the last record: its first interval, doubled each time up to the quiet interval,
    // after which the drainer sleeps.
    static constexpr std::chrono::microseconds FirstPollInterval{50};
    static constexpr std::chrono::microseconds QuietInterval{5000};
    // The longest sleep: bounds the delay of a record whose wake-up was missed (see ThreadQueues.h); each
    // costs an idle process one look at the queues.
    static constexpr std::chrono::milliseconds LongestSleep{1000};
    static constexpr std::size_t RecordsPerPass = 4096;

    explicit QueueDrainer(boost::asio::io_context& ioContext);
    ~QueueDrainer();
    QueueDrainer(const QueueDrainer&) = delete;
    QueueDrainer& operator=(const QueueDrainer&) = delete;

    // Begins the passes once the context runs.
    void Start();
    // Delivers what is queued when the posted task runs, then ends the passes, leaving the context no
    // work of the drainer's: a context whose work guard is gone then runs out of work.
    void Stop();

    // Delivers every record committed before the call (by every thread, in time-stamp order where the
    // queues overlap); records committed meanwhile may be delivered too. Returns how many.
    std::size_t DrainAll();

private:
    void Pass(std::uint64_t run);
    void PollLater(std::uint64_t run);
    void Sleep(std::uint64_t run);
    void WakeUp(std::uint64_t run, bool woken);
    std::size_t Drain(std::size_t limit, bool upToSnapshot);
    void RefreshQueues();
    void FreeDrainedRetiredQueues();
    void Deliver(const QueuedRecord& record);
    void EndBatch();

    boost::asio::io_context& ioContext;
    boost::asio::steady_timer timer;
    boost::asio::posix::stream_descriptor wake;
    // The context's thread only.
    std::uint64_t run = 0;  // advanced by Start and Stop: tasks of an older run end at once
    std::chrono::microseconds pollInterval{0};
    std::vector<ThreadQueue*> queues;
    std::vector<std::uint64_t> snapshot;  // each queue's published count when DrainAll began
    std::uint64_t queuesVersion = 0;
    std::uint64_t wakeCount = 0;
    // The run of consecutive records for one logger queued so far without starting its delivery: a
    // drain hands them to the logger's strand in one task, at most MaxBatch at a time, and always
    // before it returns. Records of one logger only, so lines of several zones keep their order on a
    // shared output.
    static constexpr std::size_t MaxBatch = 256;
    std::shared_ptr<Logger> batchLogger;
    std::size_t batchSize = 0;
    bool batchNeedsStart = false;
};

}  // namespace ozr::logging
