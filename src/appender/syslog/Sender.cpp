#include "appender/syslog/Sender.h"

#include <algorithm>

#include <boost/asio/dispatch.hpp>

#include "LoggingCounters.h"

namespace ozr::logging::appender::syslog
{

template <typename Predicate>
void Deliveries::ReleaseWhere(Predicate released)
{
    const auto kept = std::stable_partition(flushes.begin(), flushes.end(),
                                            [&](const Flush& flush) { return !released(flush); });
    for (auto each = kept; each != flushes.end(); ++each)
    {
        if (each->bound)
        {
            each->bound->cancel();
        }
    }
    flushes.erase(kept, flushes.end());
}

void Deliveries::Finished(std::uint64_t count)
{
    finished += count;
    ReleaseWhere([this](const Flush& flush) { return flush.target <= finished; });
}

std::uint64_t Deliveries::Await(std::shared_ptr<void> done, std::shared_ptr<boost::asio::steady_timer> bound)
{
    if (finished >= received)
    {
        return 0;
    }
    flushes.push_back({++lastFlush, received, std::move(done), std::move(bound)});
    return lastFlush;
}

void Deliveries::Release(std::uint64_t flush)
{
    ReleaseWhere([flush](const Flush& each) { return each.number == flush; });
}

Sender::Sender(boost::asio::io_context& ioContext, RecordFormatter formatter)
    : strand(ioContext), formatter(std::move(formatter))
{
}

Sender::~Sender() = default;

void Sender::Log(std::shared_ptr<Message const> message)
{
    boost::asio::dispatch(strand, [self = shared_from_this(), message = std::move(message)]() mutable
                          { self->Deliver(std::move(message)); });
}

void Sender::Flush(std::shared_ptr<void> done)
{
    boost::asio::dispatch(strand, [self = shared_from_this(), done = std::move(done)]() mutable
                          { self->FlushOnStrand(std::move(done)); });
}

void Sender::Close()
{
    boost::asio::dispatch(strand, [self = shared_from_this()] { self->CloseOnStrand(); });
}

void DroppingSender::Deliver(std::shared_ptr<Message const>)
{
    AddTo(g_loggingCounters.syslogMessagesDropped);
}

void DroppingSender::FlushOnStrand(std::shared_ptr<void>) {}

}  // namespace ozr::logging::appender::syslog
