#pragma once

#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>

#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/MessageFormatter.h"

namespace ozr::logging::appender
{
class LineBatch;
class PendingLines;
}  // namespace ozr::logging::appender

namespace ozr::logging::appender::console
{

// Writes each message as one text line to standard output. `Log` may be called from any thread. It adds
// the line to a batch; the first line of a batch queues one write job on the appender's strand, and the
// lines that arrive before that job runs join it. The job writes the batch at once and flushes standard
// output, so a line reaches a pipe or terminal without waiting in a buffer. Lines never interleave and
// keep their order. Each queued job holds the appender, so it may outlive its owners. Always made with
// std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender,
                                       public IFlushable,
                                       public std::enable_shared_from_this<Appender>
{
public:
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter);
    ~Appender() override;

    void Log(std::shared_ptr<Message const> message) override;
    // Writes the lines handed over so far and flushes standard output, then releases `done`.
    void Flush(std::shared_ptr<void> done) override;

private:
    boost::asio::io_context::strand strand;
    const IMessageFormatter& formatter;
    const std::unique_ptr<PendingLines> pending;
};

}  // namespace ozr::logging::appender::console
