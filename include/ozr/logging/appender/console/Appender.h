#pragma once

#include <chrono>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/MessageFormatter.h"
#include "ozr/logging/appender/console/ConfigProvider.h"

namespace ozr::logging::appender
{
class LineBatch;
struct LineLayout;
class PendingLines;
}  // namespace ozr::logging::appender

namespace ozr::logging::appender::console
{

// Writes each message as one line, the formatter's text or a JSON object as its Config says, to standard
// output (file descriptor 1) or standard error (2), with write(2): none of its lines passes through the
// C library's stdio buffers, so a forked child cannot write them a second time. Below, "standard output"
// is whichever of the two the appender writes to.
// `Log` may be called from any thread. It adds the line to a batch; the first line of a batch queues one
// write job on the appender's strand, and the lines that arrive before that job runs join it. Lines never
// interleave and keep their order.
//
// Standard output never holds up the worker. What the descriptor does not take without blocking (a full
// pipe, a stopped terminal) waits, up to 4 MiB, and goes out as soon as it can; the lines
// beyond the bound are dropped and counted. Nobody waits for a full pipe for ever: while a flush, the last
// shutdown (Close) or the process's exit waits for the console, the waiting lines are dropped and counted
// once the pipe has taken nothing for GiveUpAfter.
//
// Each queued job holds the appender, so it may outlive its owners. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender,
                                       public IFlushable,
                                       public std::enable_shared_from_this<Appender>
{
public:
    static constexpr std::chrono::milliseconds GiveUpAfter{1000};

    // Text lines on standard output.
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter);
    // As `config` says; JSON lines name the application as `applicationInfo` gives it, read once here. A
    // disabled appender writes nothing.
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, const Config& config,
             const IApplicationInfoProvider& applicationInfo);
    ~Appender() override;

    void Log(std::shared_ptr<Message const> message) override;
    // Writes the lines handed over so far, then releases `done`; lines that standard output does not take
    // within the bound above are dropped instead.
    void Flush(std::shared_ptr<void> done) override;
    // Called by the last shutdown, from any thread: from now on a full standard output is waited for only
    // until it has taken nothing for GiveUpAfter, so that the drain ends.
    void Close();

private:
    struct Output;

    void Write(const LineBatch& batch);
    void WriteThenRelease(const LineBatch& batch, std::shared_ptr<void> done);
    void WriteWaitingLines();
    void RetryLater();
    void Retry();

    boost::asio::io_context::strand strand;
    const bool enabled;
    const std::unique_ptr<const LineLayout> layout;
    const std::unique_ptr<PendingLines> pending;
    const std::unique_ptr<Output> output;
};

}  // namespace ozr::logging::appender::console
