#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

namespace ozr::logging::appender::syslog
{

// The collector's addresses, looked up on a thread of its own that touches neither the appender nor the
// context: it leaves its answer in a shared outcome and signals an eventfd there, which the strand waits
// for. So the lookup is no work of the context, and nothing that drains the context waits for it. At most
// one lookup runs at a time; a wait ends with its answer or after `wait`, whichever comes first, and an
// answer that comes later serves the next wait instead of another lookup. Strand only.
class NameLookup
{
public:
    using Endpoints = std::vector<boost::asio::ip::udp::endpoint>;
    // The addresses `host` and `service` resolve to, in the order to be tried; empty when the name cannot
    // be resolved. Runs on the lookup's own thread and may block for as long as the name service takes.
    using Lookup = std::function<Endpoints(const std::string& host, const std::string& service)>;
    // Called on the strand with the addresses, or with nothing when the wait ended first.
    using Answered = std::function<void(std::optional<Endpoints>)>;

    NameLookup(boost::asio::io_context& ioContext, boost::asio::io_context::strand& strand, Lookup lookup,
               std::string host, std::string service, std::chrono::steady_clock::duration wait);
    ~NameLookup();
    NameLookup(const NameLookup&) = delete;
    NameLookup& operator=(const NameLookup&) = delete;

    // Starts a lookup unless one is outstanding, and waits for its answer. `owner` is held by the wait's
    // handlers, so that this object outlives them. Throws when the lookup cannot be started.
    void Wait(std::shared_ptr<void> owner, Answered answered);
    // Ends the wait under way without calling its handler; an outstanding lookup keeps its answer.
    void Cancel();

    // Looks names up with the system's resolver.
    static Endpoints LookUpWithTheSystemResolver(const std::string& host, const std::string& service);

private:
    struct Outcome;

    void Start();
    void OnAnswered(const boost::system::error_code& error, std::uint64_t wait);
    void OnWaitEnded(const boost::system::error_code& error, std::uint64_t wait);

    boost::asio::io_context::strand& strand;
    const Lookup lookup;
    const std::string host;
    const std::string service;
    const std::chrono::steady_clock::duration wait;
    boost::asio::steady_timer waitTimer;
    // The lookup whose answer has not been taken yet, and a copy of its eventfd, readable once it has
    // answered.
    std::shared_ptr<Outcome> outcome;
    boost::asio::posix::stream_descriptor answeredSignal;
    // The handler of the wait under way (empty when none), and the number of the latest wait, so that a
    // completion of an earlier one is told from it.
    Answered answered;
    std::uint64_t waits = 0;
};

}  // namespace ozr::logging::appender::syslog
