#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/ip/udp.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender::syslog
{

// Forwards each message as one BSD syslog datagram over UDP. `Log` may be called from any thread and
// never waits for the network; lookups, connects, sends and their completions run on the appender's
// strand. Connecting a UDP socket sends nothing, so the addresses of a lookup are tried synchronously on
// a socket opened close-on-exec. Failures drop the message silently; a failed send closes the socket so that
// the next message starts over with a lookup. At most one lookup-and-connect runs at a time: messages that
// arrive meanwhile wait in arrival order (the oldest dropped beyond MaxPendingMessages) and share its
// outcome. Every queued task and completion handler holds the appender, so a lookup or send still under way
// when its owners let go completes on a live object. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender,
                                       public IFlushable,
                                       public std::enable_shared_from_this<Appender>
{
public:
    Appender(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
             Config config);

    void Log(std::shared_ptr<Message const> message) override;
    // Releases `done` once every message handed over before has been sent or dropped.
    void Flush(std::shared_ptr<void> done) override;

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
    bool ConnectToFirstAccepting(const boost::asio::ip::udp::resolver::results_type& results);
    bool OpenCloseOnExec(const boost::asio::ip::udp& protocol);
    void OnSent(const boost::system::error_code& error);
    void SendPending();
    void DropPending();
    // A message's delivery has ended (sent or dropped): releases the flushes that waited for it.
    void Finish(std::uint64_t messages = 1);

    boost::asio::io_context::strand strand;
    const IApplicationInfoProvider& applicationInfoProvider;
    const Config config;
    const std::string localHostName;
    boost::asio::ip::udp::resolver resolver;
    boost::asio::ip::udp::socket socket;
    // Strand only: messages waiting for the connection under way, and whether one is under way.
    std::deque<std::shared_ptr<Message const>> pending;
    bool connecting = false;
    // Strand only: messages handed over, messages whose delivery has ended (both in arrival order), and
    // the flushes waiting for a count of ended deliveries.
    std::uint64_t received = 0;
    std::uint64_t finished = 0;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<void>>> flushes;
};

}  // namespace ozr::logging::appender::syslog
