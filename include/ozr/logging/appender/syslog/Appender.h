#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/ip/udp.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender::syslog
{

// Forwards each message as one BSD syslog datagram over UDP. `Log` may be called from any thread and
// never waits for the network; lookups, connects, sends and their completions run on the appender's
// strand. Failures drop the message silently; a failed send closes the socket so that the next message
// starts over with a lookup. At most one lookup-and-connect runs at a time: messages that arrive meanwhile
// wait in arrival order (the oldest dropped beyond MaxPendingMessages) and share its outcome. Every
// queued task and completion handler holds the appender, so a lookup or send still under way when its
// owners let go completes on a live object. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender, public std::enable_shared_from_this<Appender>
{
public:
    Appender(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
             Config config);

    void Log(std::shared_ptr<Message const> message) override;

    // Formats the message and starts sending it on the open socket; strand only.
    void WriteLogMessage(const Message& message);
    // The datagram payload, at most 1024 bytes.
    std::string FormatLogMessage(const Message& message) const;

private:
    static constexpr std::size_t MaxPendingMessages = 1000;

    void Deliver(std::shared_ptr<Message const> message);
    void Enqueue(std::shared_ptr<Message const> message);
    void StartConnecting();
    void OnResolved(const boost::system::error_code& error,
                    const boost::asio::ip::udp::resolver::results_type& results);
    void OnConnected(const boost::system::error_code& error);
    void OnSent(const boost::system::error_code& error);
    void SendPending();

    boost::asio::io_context::strand strand;
    const IApplicationInfoProvider& applicationInfoProvider;
    const Config config;
    const std::string localHostName;
    boost::asio::ip::udp::resolver resolver;
    boost::asio::ip::udp::socket socket;
    // Strand only: messages waiting for the connection under way, and whether one is under way.
    std::deque<std::shared_ptr<Message const>> pending;
    bool connecting = false;
};

}  // namespace ozr::logging::appender::syslog
