#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender::syslog
{

// Forwards each message as one BSD syslog datagram over UDP. `Log` may be called from any thread and
// never waits for the network; connects, sends and their completions run on the appender's strand.
// Connecting a UDP socket sends nothing, so the addresses of a lookup are tried synchronously on a socket
// opened close-on-exec. Failures drop the message silently and count it; a failed send closes the socket
// so that the next message starts over with a lookup.
//
// The name lookup runs on a thread of its own, which touches neither the appender nor the context: it
// leaves its answer in a shared LookupOutcome and signals an eventfd there, which the strand waits for.
// So the lookup is no work of the context, and nothing that drains the context waits for it. At most one
// lookup runs at a time. Messages that arrive meanwhile wait in arrival order (the oldest dropped beyond
// MaxPendingMessages) for at most LookupWait; when that timer expires first they are dropped and the wait
// for the answer is cancelled, so no work of the context is left. An answer that comes later serves the
// next message, which waits for it (again for at most LookupWait) instead of starting another lookup.
// Every queued task and completion handler holds the appender, so a send still under way when its owners
// let go completes on a live object. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender,
                                       public IFlushable,
                                       public std::enable_shared_from_this<Appender>
{
public:
    // The addresses `host` and `service` resolve to, in the order to be tried; empty when the name cannot
    // be resolved. Runs on the lookup's own thread and may block for as long as the name service takes.
    using Lookup = std::function<std::vector<boost::asio::ip::udp::endpoint>(const std::string& host,
                                                                             const std::string& service)>;

    // How long messages wait for a lookup before they are dropped.
    static constexpr std::chrono::seconds LookupWait{2};

    // Looks names up with the system's resolver.
    Appender(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
             Config config);
    // Looks names up with `lookup` instead, for example one that stands in for a slow name service.
    Appender(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
             Config config, Lookup lookup);

    void Log(std::shared_ptr<Message const> message) override;
    // Releases `done` once every message handed over before has been sent or dropped.
    void Flush(std::shared_ptr<void> done) override;

    // Formats the message and starts sending it on the open socket; strand only.
    void WriteLogMessage(const Message& message);
    // The datagram payload, at most 1024 bytes.
    std::string FormatLogMessage(const Message& message) const;

private:
    static constexpr std::size_t MaxPendingMessages = 1000;
    struct LookupOutcome;

    void Deliver(std::shared_ptr<Message const> message);
    void Enqueue(std::shared_ptr<Message const> message);
    void StartConnecting();
    void StartLookup();
    void WaitForLookup();
    void OnLookupAnswered(const boost::system::error_code& error, std::uint64_t wait);
    void OnLookupWaitEnded(const boost::system::error_code& error, std::uint64_t wait);
    bool ConnectToFirstAccepting(const std::vector<boost::asio::ip::udp::endpoint>& endpoints);
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
    const Lookup lookup;
    boost::asio::ip::udp::socket socket;
    boost::asio::steady_timer lookupWait;
    // Strand only: the lookup whose answer has not been taken yet, and a copy of its eventfd, readable once
    // it has answered.
    std::shared_ptr<LookupOutcome> lookupOutcome;
    boost::asio::posix::stream_descriptor lookupAnswered;
    // Strand only: messages waiting for a connection, whether they wait (for at most LookupWait), and the
    // number of the latest wait, so that a completion of an earlier one is told from it.
    std::deque<std::shared_ptr<Message const>> pending;
    bool connecting = false;
    std::uint64_t waits = 0;
    // Strand only: messages handed over, messages whose delivery has ended (both in arrival order), and
    // the flushes waiting for a count of ended deliveries.
    std::uint64_t received = 0;
    std::uint64_t finished = 0;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<void>>> flushes;
};

}  // namespace ozr::logging::appender::syslog
