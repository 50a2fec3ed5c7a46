#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "appender/syslog/NameLookup.h"
#include "appender/syslog/SendBuffer.h"
#include "appender/syslog/Sender.h"
#include "appender/syslog/StreamConnection.h"

namespace ozr::logging::appender::syslog
{

// Records on one TCP connection (plain or TLS), framed, kept in a SendBuffer until the collector has
// acknowledged them. The first record connects; a connection that breaks, or an attempt that fails, is
// tried again after a delay that doubles from FirstRetryDelay to LongestRetryDelay, and the records it had
// not had acknowledged are written again, in order, on the next one (counted in syslogRecordsResent), and
// so are those acknowledged so recently that the collector may not have read them when the connection
// ended otherwise than by its orderly close (a reset or an error): a record may arrive twice, never not
// at all. A dead connection shows on a failed write or in the kernel's state of the socket, read before
// each write: no read is kept pending, so an idle connection is no work of the context.
//
// A flush waits until the records before it are acknowledged or dropped, for at most WaitBound, polling
// the kernel's count of unacknowledged bytes meanwhile. Close (the last shutdown, the exit) gives what
// waits WaitBound more, then drops it, counted, and every record after it: so the drain ends.
class StreamSender final : public Sender
{
public:
    static constexpr std::chrono::milliseconds FirstRetryDelay{100};
    static constexpr std::chrono::seconds LongestRetryDelay{30};
    static constexpr std::chrono::seconds WaitBound{2};
    // A connection attempt (and its TLS handshake) that takes longer is given up.
    static constexpr std::chrono::seconds AttemptTimeout{10};
    static constexpr std::chrono::milliseconds AcknowledgementPoll{10};
    // The most bytes of records one write hands over.
    static constexpr std::size_t MaxBatchBytes = 64 * 1024;
    // Acknowledged bytes kept for a collector whose kernel does not tell its window: the largest receive
    // buffer Linux gives a socket by default (net.ipv4.tcp_rmem), and more.
    static constexpr std::uint64_t UnreadBoundWithoutWindow = 8 * 1024 * 1024;

    // `tls` null: plain TCP.
    StreamSender(boost::asio::io_context& ioContext, RecordFormatter formatter, const Config& config,
                 NameLookup::Lookup lookup, std::shared_ptr<boost::asio::ssl::context> tls);

    void Deliver(std::shared_ptr<Message const> message) override;

private:
    enum class State
    {
        Idle,        // not connected, nothing to write
        Resolving,   // waiting for the lookup
        Connecting,  // connecting to one of its addresses (and, under TLS, the handshake)
        Connected,
        BackingOff,  // waiting to try again
        GivenUp,     // closed, and its bound has passed: every record is dropped
    };

    void FlushOnStrand(std::shared_ptr<void> done) override;
    void CloseOnStrand() override;
    void Connect();
    void OnResolved(std::optional<NameLookup::Endpoints> endpoints);
    void ConnectTo(std::size_t index);
    void OnStarted(const boost::system::error_code& error, const std::shared_ptr<StreamConnection>& attempt,
                   std::size_t index);
    void WriteMore();
    void OnWritten(const boost::system::error_code& error, const std::shared_ptr<StreamConnection>& writer);
    // Removes what the collector has acknowledged; false when the connection is dead.
    bool TakeAcknowledged();
    void Broken();
    void RetryLater();
    void PollAcknowledgements();
    void AwaitCloseDeadline();
    void GiveUp();
    // Records have left the buffer, acknowledged or dropped.
    void Finished(std::size_t count);
    bool Waited() const { return closing || deliveries.AnyWaiting(); }

    boost::asio::io_context& ioContext;
    const Framing framing;
    const std::shared_ptr<boost::asio::ssl::context> tls;
    const std::string serverName;
    NameLookup lookup;
    SendBuffer buffer;
    State state = State::Idle;
    std::vector<boost::asio::ip::tcp::endpoint> endpoints;
    // The current attempt or connection; handlers of any other are stale.
    std::shared_ptr<StreamConnection> connection;
    bool writing = false;
    // Handed() of the connection when its latest write began: where that write's records start.
    std::uint64_t handedBefore = 0;
    std::chrono::steady_clock::duration retryDelay = FirstRetryDelay;
    boost::asio::steady_timer retryTimer;
    boost::asio::steady_timer attemptTimer;
    boost::asio::steady_timer pollTimer;
    bool polling = false;
    // Set by Close: the deadline after which everything still waiting is dropped.
    bool closing = false;
    boost::asio::steady_timer closeTimer;
    bool closeTimerArmed = false;
};

}  // namespace ozr::logging::appender::syslog
