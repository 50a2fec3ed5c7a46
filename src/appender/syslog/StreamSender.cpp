#include "appender/syslog/StreamSender.h"

#include <algorithm>
#include <string>
#include <utility>

#include <boost/asio/bind_executor.hpp>

#include "LoggingCounters.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace ozr::logging::appender::syslog
{

using boost::asio::ip::tcp;
using boost::system::error_code;

StreamSender::StreamSender(boost::asio::io_context& ioContext, RecordFormatter formatter,
                           const Config& config, NameLookup::Lookup lookup,
                           std::shared_ptr<boost::asio::ssl::context> tls)
    : Sender(ioContext, std::move(formatter)),
      ioContext(ioContext),
      framing(config.framing),
      tls(std::move(tls)),
      serverName(config.serverName.empty() ? config.host : config.serverName),
      lookup(ioContext, strand, std::move(lookup), config.host, std::to_string(config.port),
             Appender::LookupWait),
      buffer(config.bufferMessages),
      retryTimer(ioContext),
      attemptTimer(ioContext),
      pollTimer(ioContext),
      closeTimer(ioContext)
{
}

void StreamSender::Deliver(std::shared_ptr<Message const> message)
{
    deliveries.Received();
    if (state == State::GivenUp)
    {
        AddTo(g_loggingCounters.syslogMessagesDropped);
        Finished(1);
        return;
    }
    if (buffer.Push(std::make_shared<const std::string>(FrameRecord(FormatRecord(*message), framing))) != 0)
    {
        AddTo(g_loggingCounters.syslogMessagesDropped);
        Finished(1);
    }
    if (closing)
    {
        AwaitCloseDeadline();
    }
    if (state == State::Idle)
    {
        Connect();
    }
    else if (state == State::Connected && !writing)
    {
        if (TakeAcknowledged())
        {
            WriteMore();
        }
        else
        {
            Broken();
        }
    }
}

// A flush that the bound gives up leaves its records in the buffer: they are still delivered later.
void StreamSender::FlushOnStrand(std::shared_ptr<void> done)
{
    auto bound = std::make_shared<boost::asio::steady_timer>(ioContext, WaitBound);
    const std::uint64_t flush = deliveries.Await(std::move(done), bound);
    if (flush == 0)
    {
        return;
    }
    bound->async_wait(boost::asio::bind_executor(strand,
                                                 [self = Self<StreamSender>(), flush](const error_code& error)
                                                 {
                                                     if (!error)
                                                     {
                                                         self->deliveries.Release(flush);
                                                     }
                                                 }));
    PollAcknowledgements();
}

// A connection that waits for its next try is tried at once: the bound leaves no time for the delay.
void StreamSender::CloseOnStrand()
{
    if (closing)
    {
        return;
    }
    closing = true;
    closeTimer.expires_after(WaitBound);
    if (!buffer.HasPending())
    {
        return;
    }
    AwaitCloseDeadline();
    if (state == State::BackingOff)
    {
        retryTimer.cancel();
        Connect();
    }
    PollAcknowledgements();
}

// Records wait for the collector until the deadline that Close set, not longer.
void StreamSender::AwaitCloseDeadline()
{
    if (closeTimerArmed)
    {
        return;
    }
    closeTimerArmed = true;
    closeTimer.async_wait(boost::asio::bind_executor(strand,
                                                     [self = Self<StreamSender>()](const error_code& error)
                                                     {
                                                         if (!error)
                                                         {
                                                             self->closeTimerArmed = false;
                                                             self->GiveUp();
                                                         }
                                                     }));
}

// One lookup per connection: the collector's addresses may have changed since the last one.
void StreamSender::Connect()
{
    state = State::Resolving;
    try
    {
        lookup.Wait(shared_from_this(),
                    [this](std::optional<NameLookup::Endpoints> answer) { OnResolved(std::move(answer)); });
    }
    catch (...)
    {
        RetryLater();
        throw;
    }
}

void StreamSender::OnResolved(std::optional<NameLookup::Endpoints> answer)
{
    endpoints.clear();
    if (answer)
    {
        for (const auto& endpoint : *answer)
        {
            endpoints.emplace_back(endpoint.address(), endpoint.port());
        }
    }
    ConnectTo(0);
}

// Tries the addresses in the order of the lookup, each within AttemptTimeout.
void StreamSender::ConnectTo(std::size_t index)
{
    if (index >= endpoints.size())
    {
        RetryLater();
        return;
    }
    state = State::Connecting;
    auto attempt = std::make_shared<StreamConnection>(ioContext, strand, tls, serverName);
    connection = attempt;
    attemptTimer.expires_after(AttemptTimeout);
    attemptTimer.async_wait(boost::asio::bind_executor(
        strand,
        [self = Self<StreamSender>(), attempt](const error_code& error)
        {
            if (!error && self->connection == attempt && self->state == State::Connecting)
            {
                attempt->Close();  // the attempt ends with operation_aborted
            }
        }));
    attempt->Start(attempt, endpoints[index],
                   [self = Self<StreamSender>(), attempt, index](const error_code& error)
                   { self->OnStarted(error, attempt, index); });
}

void StreamSender::OnStarted(const error_code& error, const std::shared_ptr<StreamConnection>& attempt,
                             std::size_t index)
{
    if (attempt != connection || state != State::Connecting)
    {
        return;
    }
    if (error)
    {
        attempt->Close();
        connection.reset();
        ConnectTo(index + 1);
        return;
    }
    attemptTimer.cancel();
    state = State::Connected;
    retryDelay = FirstRetryDelay;
    handedBefore = attempt->Handed();
    buffer.Rewind();
    WriteMore();
    PollAcknowledgements();
}

void StreamSender::WriteMore()
{
    if (state != State::Connected || writing || !buffer.HasUnwritten())
    {
        return;
    }
    std::vector<SendBuffer::Frame> batch = buffer.TakeBatch(MaxBatchBytes);
    std::vector<boost::asio::const_buffer> buffers;
    buffers.reserve(batch.size());
    for (const auto& frame : batch)
    {
        buffers.emplace_back(boost::asio::buffer(*frame));
    }
    writing = true;
    const std::shared_ptr<StreamConnection> writer = connection;
    writer->Write(writer, std::move(buffers),
                  [self = Self<StreamSender>(), writer, batch = std::move(batch)](const error_code& error)
                  { self->OnWritten(error, writer); });
}

void StreamSender::OnWritten(const error_code& error, const std::shared_ptr<StreamConnection>& writer)
{
    if (writer != connection)
    {
        return;  // a write of a connection that has been given up
    }
    writing = false;
    if (error)
    {
        const SendBuffer::Written written =
            buffer.BatchFailed(writer->Handed() - handedBefore, !writer->IsTls());
        AddTo(g_loggingCounters.syslogDatagramsSent, written.firstTime);
        AddTo(g_loggingCounters.syslogRecordsResent, written.again);
        Broken();
        return;
    }
    const SendBuffer::Written written = buffer.BatchWritten(handedBefore, writer->Handed(), !writer->IsTls());
    AddTo(g_loggingCounters.syslogDatagramsSent, written.firstTime);
    AddTo(g_loggingCounters.syslogRecordsResent, written.again);
    handedBefore = writer->Handed();
    if (!TakeAcknowledged())
    {
        Broken();
        return;
    }
    WriteMore();
}

// The collector's kernel may hold up to the largest window it advertised of acknowledged bytes that the
// collector has not read: twice that is kept, since the window is read now and then rather than watched.
// A collector that closes its side in order has read what it acknowledged (one that ends with unread
// bytes resets the connection instead).
bool StreamSender::TakeAcknowledged()
{
    const auto acknowledged = connection ? connection->Acknowledged() : std::nullopt;
    if (!acknowledged)
    {
        return false;
    }
    const std::uint64_t unreadBound =
        acknowledged->largestPeerWindow != 0 ? 2 * acknowledged->largestPeerWindow : UnreadBoundWithoutWindow;
    Finished(buffer.Acknowledge(acknowledged->bytes, unreadBound));
    if (!acknowledged->open)
    {
        buffer.ForgetAcknowledged();
    }
    return acknowledged->open;
}

// What the connection had not had acknowledged stays in the buffer for the next one.
void StreamSender::Broken()
{
    attemptTimer.cancel();
    if (connection)
    {
        connection->Close();
        connection.reset();
    }
    writing = false;
    buffer.BatchFailed();
    if (!buffer.HasPending())
    {
        state = State::Idle;  // the records kept are written again with the next record
        return;
    }
    RetryLater();
}

void StreamSender::RetryLater()
{
    connection.reset();
    state = State::BackingOff;
    const auto delay = closing ? std::chrono::steady_clock::duration(FirstRetryDelay) : retryDelay;
    retryDelay = std::min<std::chrono::steady_clock::duration>(retryDelay * 2, LongestRetryDelay);
    retryTimer.expires_after(delay);
    retryTimer.async_wait(boost::asio::bind_executor(strand,
                                                     [self = Self<StreamSender>()](const error_code& error)
                                                     {
                                                         if (!error && self->state == State::BackingOff)
                                                         {
                                                             self->Connect();
                                                         }
                                                     }));
}

// While someone waits and records are written but not yet acknowledged, the kernel's count is read
// every AcknowledgementPoll; a connection found dead meanwhile is replaced at once.
void StreamSender::PollAcknowledgements()
{
    if (polling || !Waited() || !buffer.HasPending() || state != State::Connected)
    {
        return;
    }
    polling = true;
    pollTimer.expires_after(AcknowledgementPoll);
    pollTimer.async_wait(boost::asio::bind_executor(strand,
                                                    [self = Self<StreamSender>()](const error_code& error)
                                                    {
                                                        if (error)
                                                        {
                                                            return;  // cancelled, and so no longer polling
                                                        }
                                                        self->polling = false;
                                                        if (self->state != State::Connected)
                                                        {
                                                            return;
                                                        }
                                                        if (!self->writing && !self->TakeAcknowledged())
                                                        {
                                                            self->Broken();
                                                            return;
                                                        }
                                                        self->PollAcknowledgements();
                                                    }));
}

// The bound of Close has passed: everything still waiting, and everything after it, is dropped. Cancelling
// every timer and closing the connection leaves no work of the context behind.
void StreamSender::GiveUp()
{
    state = State::GivenUp;
    lookup.Cancel();
    retryTimer.cancel();
    attemptTimer.cancel();
    pollTimer.cancel();
    polling = false;
    if (connection)
    {
        connection->Close();
        connection.reset();
    }
    writing = false;
    const std::size_t dropped = buffer.Clear();
    AddTo(g_loggingCounters.syslogMessagesDropped, dropped);
    Finished(dropped);
}

void StreamSender::Finished(std::size_t count)
{
    deliveries.Finished(count);
    if (buffer.HasPending())
    {
        return;
    }
    if (closeTimerArmed)
    {
        closeTimer.cancel();
        closeTimerArmed = false;
    }
    if (polling)
    {
        pollTimer.cancel();
        polling = false;
    }
}

}  // namespace ozr::logging::appender::syslog
