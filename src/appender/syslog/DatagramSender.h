#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include <boost/asio/ip/udp.hpp>

#include "appender/syslog/NameLookup.h"
#include "appender/syslog/Sender.h"

namespace ozr::logging::appender::syslog
{

// One datagram per record on a connected UDP socket. Connecting a UDP socket sends nothing, so the
// addresses of a lookup are tried synchronously on a socket opened close-on-exec. Messages that arrive
// while the lookup runs wait in arrival order (the oldest dropped beyond MaxPendingMessages) for at most
// the lookup's wait, then are dropped. Failures drop the message and count it; a failed send closes the
// socket, so that the next message starts over with a lookup. Datagrams are never acknowledged: a flush
// waits until each has been handed to the network or dropped.
class DatagramSender final : public Sender
{
public:
    DatagramSender(boost::asio::io_context& ioContext, RecordFormatter formatter, const Config& config,
                   NameLookup::Lookup lookup);

    void Deliver(std::shared_ptr<Message const> message) override;
    // Formats the message and starts sending it on the open socket.
    void WriteLogMessage(const Message& message);

private:
    void FlushOnStrand(std::shared_ptr<void> done) override;
    void Enqueue(std::shared_ptr<Message const> message);
    void StartConnecting();
    void OnLookupEnded(std::optional<NameLookup::Endpoints> endpoints);
    bool ConnectToFirstAccepting(const NameLookup::Endpoints& endpoints);
    bool OpenCloseOnExec(const boost::asio::ip::udp& protocol);
    void OnSent(const boost::system::error_code& error);
    void SendPending();
    void DropPending();

    static constexpr std::size_t MaxPendingMessages = 1000;
    const std::size_t maxPending;
    NameLookup lookup;
    boost::asio::ip::udp::socket socket;
    // Messages waiting for a connection, and whether they wait (for at most the lookup's wait).
    std::deque<std::shared_ptr<Message const>> pending;
    bool connecting = false;
};

}  // namespace ozr::logging::appender::syslog
