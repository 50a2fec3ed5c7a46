#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>

#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/MessageFormatter.h"

namespace ozr::logging::appender::console
{

// Writes each message as one text line to standard output. `Log` may be called from any thread; the
// write runs on the appender's strand, so lines never interleave and keep their order. Each queued write
// holds the appender, so it may outlive its owners. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender, public std::enable_shared_from_this<Appender>
{
public:
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter);

    void Log(std::shared_ptr<Message const> message) override;

private:
    boost::asio::io_context::strand strand;
    const IMessageFormatter& formatter;
};

}  // namespace ozr::logging::appender::console
