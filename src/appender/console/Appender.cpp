#include "ozr/logging/appender/console/Appender.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "appender/LineBatch.h"
#include "appender/LineLayout.h"
#include "appender/PendingLines.h"
#include "appender/SharedLine.h"
#include "appender/console/StandardOutput.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::appender::console
{
namespace
{

// Set by an exit handler that the first console appender registers. The logger manager registered its
// exit drain before, when it was made, so this handler runs first and the drain finds every wait bounded.
std::atomic<bool> g_processExiting{false};
std::once_flag g_exitHandlerRegistered;

void MarkProcessExiting()
{
    g_processExiting.store(true, std::memory_order_relaxed);
}

// While standard output takes nothing, it is tried again after a delay that doubles up to the longest;
// once it takes something, at once again.
constexpr std::chrono::milliseconds FirstRetryDelay{1};
constexpr std::chrono::milliseconds LongestRetryDelay{64};

}  // namespace

// What waits for standard output, and the one retry timer that is queued while anything does.
//
// Lock order: PendingLines' write lock, then `mutex`, then the stdio lock of stdout (or stderr), which is
// only ever tried (StandardOutput), never waited for. The retry handler takes `mutex` alone. Nothing waits
// while these are held: the descriptor is written only as far as it takes the bytes without blocking.
struct Appender::Output
{
    Output(boost::asio::io_context& ioContext, OutputStream stream)
        : standardOutput(stream), retryTimer(ioContext)
    {
    }

    // True while someone waits for the console; then a pipe that takes nothing for GiveUpAfter is given up.
    bool WaitIsBounded() const OZR_REQUIRES(mutex)
    {
        return closed.load(std::memory_order_relaxed) || g_processExiting.load(std::memory_order_relaxed) ||
               !flushes.empty();
    }

    Mutex mutex;
    StandardOutput standardOutput OZR_GUARDED_BY(mutex);
    // Released once everything taken before each of them is written or dropped.
    std::vector<std::shared_ptr<void>> flushes OZR_GUARDED_BY(mutex);
    boost::asio::steady_timer retryTimer OZR_GUARDED_BY(mutex);
    bool retryQueued OZR_GUARDED_BY(mutex) = false;
    std::chrono::milliseconds retryDelay OZR_GUARDED_BY(mutex) = FirstRetryDelay;
    bool wasBounded OZR_GUARDED_BY(mutex) = false;
    // Since when the bounded wait has seen no byte go out.
    std::chrono::steady_clock::time_point stalledSince OZR_GUARDED_BY(mutex);
    std::atomic<bool> closed{false};
};

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter)
    : Appender(ioContext, formatter, Config{}, ApplicationInfoProvider())
{
}

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter,
                   const Config& config, const IApplicationInfoProvider& applicationInfo)
    : strand(ioContext),
      enabled(config.enabled),
      layout(MakeLineLayout(formatter, config.format, applicationInfo)),
      pending(std::make_unique<PendingLines>()),
      output(std::make_unique<Output>(ioContext, config.stream))
{
    std::call_once(g_exitHandlerRegistered, [] { std::atexit(&MarkProcessExiting); });
}

Appender::~Appender() = default;

void Appender::Log(std::shared_ptr<Message const> message)
{
    if (message == nullptr || !enabled)
    {
        return;
    }
    pending->Add(FormatSharedLine(*layout, std::move(message)), strand, *this,
                 [this](const LineBatch& batch) { Write(batch); });
}

void Appender::Flush(std::shared_ptr<void> done)
{
    pending->Flush(strand, *this, nullptr,
                   [this, done = std::move(done)](const LineBatch& batch) { WriteThenRelease(batch, done); });
}

void Appender::Close()
{
    output->closed.store(true, std::memory_order_relaxed);
}

void Appender::Write(const LineBatch& batch)
{
    const LockGuard<Mutex> lock(output->mutex);
    output->standardOutput.Take(batch);
    WriteWaitingLines();
}

// A flush token owns no object, so it is told from none by the caller, not by its value.
void Appender::WriteThenRelease(const LineBatch& batch, std::shared_ptr<void> done)
{
    const LockGuard<Mutex> lock(output->mutex);
    output->standardOutput.Take(batch);
    output->flushes.push_back(std::move(done));
    WriteWaitingLines();
}

// `mutex` held. Writes what standard output takes now; the rest waits for a retry or, when the wait is
// bounded and has stalled for GiveUpAfter, is dropped.
void Appender::WriteWaitingLines()
{
    Output& out = *output;
    out.mutex.AssertHeld();
    const auto now = std::chrono::steady_clock::now();
    const bool bounded = out.WaitIsBounded();
    if (bounded && !out.wasBounded)
    {
        out.stalledSince = now;
    }
    out.wasBounded = bounded;
    const bool progress = out.standardOutput.WriteWhatFits();
    if (progress)
    {
        out.stalledSince = now;
    }
    out.retryDelay = progress ? FirstRetryDelay : std::min(out.retryDelay * 2, LongestRetryDelay);
    if (!out.standardOutput.IsEmpty() && bounded && now - out.stalledSince >= GiveUpAfter)
    {
        out.standardOutput.DropAll();
        out.wasBounded = false;  // a later wait is given its own GiveUpAfter
    }
    if (out.standardOutput.IsEmpty())
    {
        out.flushes.clear();
        out.retryDelay = FirstRetryDelay;
        return;
    }
    RetryLater();
}

// `mutex` held. The queued retry holds the appender, so the drain of the last shutdown or of the exit
// waits for it, and it for standard output as bounded above. A timer rather than a wait for writability:
// Asio's wait on a descriptor for fd 1 would make the open file description, which the application
// shares, non-blocking.
void Appender::RetryLater()
{
    Output& out = *output;
    out.mutex.AssertHeld();
    if (out.retryQueued)
    {
        return;
    }
    out.retryQueued = true;
    out.retryTimer.expires_after(out.retryDelay);
    out.retryTimer.async_wait(
        boost::asio::bind_executor(strand, [this, self = shared_from_this()](const auto&) { Retry(); }));
}

void Appender::Retry()
{
    const LockGuard<Mutex> lock(output->mutex);
    output->retryQueued = false;
    WriteWaitingLines();
}

}  // namespace ozr::logging::appender::console
