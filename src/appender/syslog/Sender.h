#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/steady_timer.hpp>

#include "appender/syslog/RecordFormat.h"
#include "ozr/logging/Message.h"

namespace ozr::logging::appender::syslog
{

// Counts deliveries in arrival order and holds the flushes that wait for them: a flush is released once
// every delivery received before it has finished (sent, acknowledged or dropped), or when given up. Strand
// only.
class Deliveries
{
public:
    void Received() { ++received; }
    // `count` more deliveries have finished, the oldest first.
    void Finished(std::uint64_t count = 1);
    // Holds `done` until every delivery received so far has finished; returns the flush's number, or 0
    // when nothing was outstanding and `done` was released at once. `bound`, the timer that gives the
    // flush up, is cancelled when the flush is released, so that it leaves no work of the context.
    std::uint64_t Await(std::shared_ptr<void> done,
                        std::shared_ptr<boost::asio::steady_timer> bound = nullptr);
    // Releases the flush of that number, if it still waits.
    void Release(std::uint64_t flush);
    bool AnyWaiting() const { return !flushes.empty(); }

private:
    struct Flush
    {
        std::uint64_t number;
        std::uint64_t target;
        std::shared_ptr<void> done;
        std::shared_ptr<boost::asio::steady_timer> bound;
    };

    template <typename Predicate>
    void ReleaseWhere(Predicate released);

    std::uint64_t received = 0;
    std::uint64_t finished = 0;
    std::uint64_t lastFlush = 0;
    std::vector<Flush> flushes;
};

// How records reach the collector: the syslog appender's part that runs on its strand. `Log`, `Flush` and
// `Close` may be called from any thread and return at once; everything else runs on the strand. Every
// queued task and completion handler holds the sender, so work under way when the appender goes
// completes on a live object. Always made with std::make_shared.
class Sender : public std::enable_shared_from_this<Sender>
{
public:
    Sender(boost::asio::io_context& ioContext, RecordFormatter formatter);
    virtual ~Sender();
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void Log(std::shared_ptr<Message const> message);
    // Releases `done` once every message handed over before has been delivered or dropped, or the
    // sender's bound for a flush has passed.
    void Flush(std::shared_ptr<void> done);
    // The last shutdown or the process's exit is about to drain the context: whatever still waits is
    // given a bounded time, then dropped, so that the drain ends.
    void Close();

    // The record of a message, as the collector receives it (before any framing).
    std::string FormatRecord(const Message& message) const { return formatter.FormatRecord(message); }
    // Delivers at once, on the strand.
    virtual void Deliver(std::shared_ptr<Message const> message) = 0;

protected:
    virtual void FlushOnStrand(std::shared_ptr<void> done) = 0;
    virtual void CloseOnStrand() {}

    template <typename Derived>
    std::shared_ptr<Derived> Self()
    {
        return std::static_pointer_cast<Derived>(shared_from_this());
    }

    boost::asio::io_context::strand strand;
    const RecordFormatter formatter;
    Deliveries deliveries;
};

// Drops every message, counted: the settings asked for forwarding that cannot be done safely.
class DroppingSender final : public Sender
{
public:
    using Sender::Sender;
    void Deliver(std::shared_ptr<Message const> message) override;

private:
    void FlushOnStrand(std::shared_ptr<void> done) override;
};

}  // namespace ozr::logging::appender::syslog
