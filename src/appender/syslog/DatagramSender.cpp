#include "appender/syslog/DatagramSender.h"

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <utility>

#include <boost/asio/bind_executor.hpp>

#include "LoggingCounters.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace ozr::logging::appender::syslog
{

using boost::asio::ip::udp;
using boost::system::error_code;

DatagramSender::DatagramSender(boost::asio::io_context& ioContext, RecordFormatter formatter,
                               const Config& config, NameLookup::Lookup lookup)
    : Sender(ioContext, std::move(formatter)),
      maxPending(MaxPendingMessages),
      lookup(ioContext, strand, std::move(lookup), config.host, std::to_string(config.port),
             Appender::LookupWait),
      socket(ioContext)
{
}

void DatagramSender::FlushOnStrand(std::shared_ptr<void> done)
{
    deliveries.Await(std::move(done));
}

void DatagramSender::Deliver(std::shared_ptr<Message const> message)
{
    deliveries.Received();
    if (connecting)
    {
        Enqueue(std::move(message));
    }
    else if (socket.is_open())
    {
        WriteLogMessage(*message);
    }
    else
    {
        Enqueue(std::move(message));
        StartConnecting();
    }
}

void DatagramSender::Enqueue(std::shared_ptr<Message const> message)
{
    if (pending.size() >= maxPending)
    {
        pending.pop_front();
        AddTo(g_loggingCounters.syslogMessagesDropped);
        deliveries.Finished();
    }
    pending.push_back(std::move(message));
}

// One lookup at a time: with an unreachable name server each would hold a thread for seconds.
void DatagramSender::StartConnecting()
{
    connecting = true;
    try
    {
        lookup.Wait(shared_from_this(), [this](std::optional<NameLookup::Endpoints> endpoints)
                    { OnLookupEnded(std::move(endpoints)); });
    }
    catch (...)
    {
        // Without a wait under way nothing would ever release the waiting messages.
        connecting = false;
        DropPending();
        throw;
    }
}

void DatagramSender::OnLookupEnded(std::optional<NameLookup::Endpoints> endpoints)
{
    connecting = false;
    if (!endpoints || !ConnectToFirstAccepting(*endpoints))
    {
        DropPending();
        return;
    }
    SendPending();
}

// Tries the addresses in the order of the lookup and keeps the first that accepts the connect.
bool DatagramSender::ConnectToFirstAccepting(const NameLookup::Endpoints& endpoints)
{
    for (const auto& endpoint : endpoints)
    {
        error_code ignored;
        if (OpenCloseOnExec(endpoint.protocol()) && !socket.connect(endpoint, ignored))
        {
            return true;
        }
    }
    error_code ignored;
    socket.close(ignored);
    return false;
}

// Opened by hand because the I/O library's own open leaves the descriptor inheritable across exec.
bool DatagramSender::OpenCloseOnExec(const udp& protocol)
{
    error_code ignored;
    socket.close(ignored);
    const int descriptor = ::socket(protocol.family(), SOCK_DGRAM | SOCK_CLOEXEC, protocol.protocol());
    if (descriptor < 0)
    {
        return false;
    }
    error_code assignError;
    socket.assign(protocol, descriptor, assignError);
    if (assignError)
    {
        ::close(descriptor);
        return false;
    }
    return true;
}

void DatagramSender::SendPending()
{
    // Taken out first, so that a failure while writing one cannot strand the rest in the queue.
    std::deque<std::shared_ptr<Message const>> ready;
    ready.swap(pending);
    for (const auto& message : ready)
    {
        WriteLogMessage(*message);
    }
}

void DatagramSender::DropPending()
{
    AddTo(g_loggingCounters.syslogMessagesDropped, pending.size());
    deliveries.Finished(pending.size());
    pending.clear();
}

void DatagramSender::WriteLogMessage(const Message& message)
{
    auto datagram = std::make_shared<std::string>(FormatRecord(message));
    socket.async_send(boost::asio::buffer(*datagram),
                      boost::asio::bind_executor(
                          strand, [self = Self<DatagramSender>(), datagram](
                                      const error_code& error, std::size_t) { self->OnSent(error); }));
}

void DatagramSender::OnSent(const error_code& error)
{
    AddTo(error ? g_loggingCounters.syslogMessagesDropped : g_loggingCounters.syslogDatagramsSent);
    deliveries.Finished();
    // While a connection is under way, the failed send belonged to a socket already closed; closing
    // again would abort the new connection.
    if (error && !connecting)
    {
        socket.close();  // the throwing variant: a failing close leaves to the worker's run loop
    }
}

}  // namespace ozr::logging::appender::syslog
