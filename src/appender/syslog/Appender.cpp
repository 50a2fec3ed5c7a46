#include "ozr/logging/appender/syslog/Appender.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "LoggingCounters.h"
#include "ZoneName.h"
#include "appender/TextAppend.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::appender::syslog
{

namespace
{

using boost::asio::ip::udp;
using boost::system::error_code;

constexpr std::size_t g_maxPayloadSize = 1024;
constexpr char g_truncationMark[] = "...";
constexpr unsigned int g_priorityOfFacilityLocal0 = 16 * 8;

// This machine's name as it appears in every datagram: spaces would split the header's host field.
std::string GetLocalHostName()
{
    try
    {
        std::string name = boost::asio::ip::host_name();
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        return name;
    }
    catch (const std::exception&)
    {
        return "-";
    }
}

// "Mar  5 09:07:03": month, space-padded day, time of day truncated to the second.
void AppendTimestamp(std::string& out, const boost::posix_time::ptime& time)
{
    const auto date = time.date();
    out += MonthAbbreviation(date.month());
    out += ' ';
    AppendDecimal(out, date.day(), 2, ' ');
    out += ' ';
    const auto microseconds = static_cast<std::uint64_t>(time.time_of_day().total_microseconds());
    AppendDecimal(out, microseconds / 3600000000, 2);
    out += ':';
    AppendDecimal(out, microseconds / 60000000 % 60, 2);
    out += ':';
    AppendDecimal(out, microseconds / 1000000 % 60, 2);
}

// A synchronous lookup runs getaddrinfo on the calling thread; its resolver needs a context, but no run
// loop, so it gets one of its own that nothing else uses.
std::vector<udp::endpoint> LookUpWithTheSystemResolver(const std::string& host, const std::string& service)
{
    boost::asio::io_context context;
    udp::resolver resolver(context);
    error_code error;
    const udp::resolver::results_type results = resolver.resolve(host, service, error);
    std::vector<udp::endpoint> endpoints;
    for (const auto& result : results)
    {
        endpoints.push_back(result.endpoint());
    }
    return endpoints;
}

void TruncateToPayloadLimit(std::string& payload)
{
    if (payload.size() > g_maxPayloadSize)
    {
        payload.resize(g_maxPayloadSize - (sizeof g_truncationMark - 1));
        payload += g_truncationMark;
    }
}

}  // namespace

Appender::Appender(boost::asio::io_context& ioContext,
                   const IApplicationInfoProvider& applicationInfoProvider, Config config)
    : Appender(ioContext, applicationInfoProvider, std::move(config), &LookUpWithTheSystemResolver)
{
}

Appender::Appender(boost::asio::io_context& ioContext,
                   const IApplicationInfoProvider& applicationInfoProvider, Config config, Lookup lookup)
    : strand(ioContext),
      applicationInfoProvider(applicationInfoProvider),
      config(std::move(config)),
      localHostName(GetLocalHostName()),
      lookup(std::move(lookup)),
      socket(ioContext),
      lookupWait(ioContext),
      lookupAnswered(ioContext)
{
}

void Appender::Log(std::shared_ptr<Message const> message)
{
    if (!message)
    {
        return;
    }
    boost::asio::dispatch(strand, [self = shared_from_this(), message = std::move(message)]() mutable
                          { self->Deliver(std::move(message)); });
}

void Appender::Flush(std::shared_ptr<void> done)
{
    boost::asio::dispatch(strand,
                          [self = shared_from_this(), done = std::move(done)]() mutable
                          {
                              if (self->finished < self->received)
                              {
                                  self->flushes.emplace_back(self->received, std::move(done));
                              }
                          });
}

void Appender::Deliver(std::shared_ptr<Message const> message)
{
    ++received;
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

void Appender::Enqueue(std::shared_ptr<Message const> message)
{
    if (pending.size() == MaxPendingMessages)
    {
        pending.pop_front();
        AddTo(g_loggingCounters.syslogMessagesDropped);
        Finish();
    }
    pending.push_back(std::move(message));
}

// One lookup at a time: with an unreachable name server each would hold a thread for seconds.
void Appender::StartConnecting()
{
    connecting = true;
    try
    {
        if (!lookupOutcome)
        {
            StartLookup();
        }
        WaitForLookup();
    }
    catch (...)
    {
        // Without a wait under way nothing would ever release the waiting messages.
        connecting = false;
        DropPending();
        throw;
    }
}

// Shared by a lookup's thread and the appender; whichever lets go last closes the eventfd, so the thread
// never signals a descriptor number that has been reused. Lock order: `mutex` is a leaf.
struct Appender::LookupOutcome
{
    LookupOutcome() : signal(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (signal < 0)
        {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
    }
    ~LookupOutcome() { ::close(signal); }
    LookupOutcome(const LookupOutcome&) = delete;
    LookupOutcome& operator=(const LookupOutcome&) = delete;

    void Answer(std::vector<udp::endpoint> answer)
    {
        {
            const LockGuard<Mutex> lock(mutex);
            endpoints = std::move(answer);
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(signal, &one, sizeof one);
    }

    std::vector<udp::endpoint> Take()
    {
        const LockGuard<Mutex> lock(mutex);
        return std::move(endpoints);
    }

    const int signal;
    Mutex mutex;
    std::vector<udp::endpoint> endpoints OZR_GUARDED_BY(mutex);
};

void Appender::StartLookup()
{
    auto outcome = std::make_shared<LookupOutcome>();
    const int copy = ::fcntl(outcome->signal, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
    {
        throw std::system_error(errno, std::generic_category(), "dup");
    }
    error_code assignError;
    lookupAnswered.assign(copy, assignError);
    if (assignError)
    {
        ::close(copy);
        throw boost::system::system_error(assignError, "assign");
    }
    try
    {
        std::thread(
            [outcome, lookUp = lookup, host = config.host, service = std::to_string(config.port)]() noexcept
            {
                std::vector<udp::endpoint> endpoints;
                try
                {
                    endpoints = lookUp(host, service);
                }
                catch (...)
                {
                    // A failed lookup answers no address.
                }
                outcome->Answer(std::move(endpoints));
            })
            .detach();
    }
    catch (...)
    {
        error_code ignored;
        lookupAnswered.close(ignored);
        throw;
    }
    lookupOutcome = std::move(outcome);
}

void Appender::WaitForLookup()
{
    ++waits;
    lookupWait.expires_after(LookupWait);
    lookupWait.async_wait(
        boost::asio::bind_executor(strand, [self = shared_from_this(), wait = waits](const error_code& error)
                                   { self->OnLookupWaitEnded(error, wait); }));
    lookupAnswered.async_wait(
        boost::asio::posix::descriptor_base::wait_read,
        boost::asio::bind_executor(strand, [self = shared_from_this(), wait = waits](const error_code& error)
                                   { self->OnLookupAnswered(error, wait); }));
}

// Cancelling the wait for the answer leaves no work of the context behind.
void Appender::OnLookupWaitEnded(const error_code& error, std::uint64_t wait)
{
    if (error || wait != waits || !connecting)
    {
        return;  // cancelled, or expired as the answer came
    }
    connecting = false;
    error_code ignored;
    lookupAnswered.cancel(ignored);
    DropPending();
}

void Appender::OnLookupAnswered(const error_code& error, std::uint64_t wait)
{
    if (error || wait != waits || !connecting)
    {
        return;  // cancelled, or answered as the wait expired: the answer waits for the next message
    }
    const std::vector<udp::endpoint> endpoints = lookupOutcome->Take();
    lookupOutcome.reset();
    error_code ignored;
    lookupAnswered.close(ignored);
    connecting = false;
    lookupWait.cancel();
    if (!ConnectToFirstAccepting(endpoints))
    {
        DropPending();
        return;
    }
    SendPending();
}

// Tries the addresses in the order of the lookup and keeps the first that accepts the connect.
bool Appender::ConnectToFirstAccepting(const std::vector<udp::endpoint>& endpoints)
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
bool Appender::OpenCloseOnExec(const udp& protocol)
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

void Appender::SendPending()
{
    // Taken out first, so that a failure while writing one cannot strand the rest in the queue.
    std::deque<std::shared_ptr<Message const>> ready;
    ready.swap(pending);
    for (const auto& message : ready)
    {
        WriteLogMessage(*message);
    }
}

void Appender::DropPending()
{
    AddTo(g_loggingCounters.syslogMessagesDropped, pending.size());
    const std::size_t dropped = pending.size();
    pending.clear();
    Finish(dropped);
}

void Appender::Finish(std::uint64_t messages)
{
    finished += messages;
    const auto released = std::remove_if(flushes.begin(), flushes.end(),
                                         [this](const auto& flush) { return flush.first <= finished; });
    flushes.erase(released, flushes.end());
}

void Appender::WriteLogMessage(const Message& message)
{
    auto datagram = std::make_shared<std::string>(FormatLogMessage(message));
    socket.async_send(boost::asio::buffer(*datagram),
                      boost::asio::bind_executor(
                          strand, [self = shared_from_this(), datagram](const error_code& error, std::size_t)
                          { self->OnSent(error); }));
}

void Appender::OnSent(const error_code& error)
{
    AddTo(error ? g_loggingCounters.syslogMessagesDropped : g_loggingCounters.syslogDatagramsSent);
    Finish();
    // While a connection is under way, the failed send belonged to a socket already closed; closing
    // again would abort the new connection.
    if (error && !connecting)
    {
        socket.close();  // the throwing variant: a failing close leaves to the worker's run loop
    }
}

std::string Appender::FormatLogMessage(const Message& message) const
{
    const std::string applicationName =
        IsDefaultZone(message.zone) ? applicationInfoProvider.GetApplicationName() : "";
    const std::string_view tag =
        IsDefaultZone(message.zone) ? std::string_view(applicationName) : message.zone;

    std::string payload;
    payload.reserve(std::min(g_maxPayloadSize + 1, 64 + localHostName.size() + tag.size() +
                                                       message.file.size() + message.text.size()));
    payload += '<';
    AppendDecimal(payload, g_priorityOfFacilityLocal0 + SeverityToSyslogCode(message.severity));
    payload += '>';
    AppendTimestamp(payload, message.localTime);
    payload += ' ';
    payload += localHostName;
    payload += ' ';
    payload += tag;
    payload += ": ";
    AppendSourcePosition(payload, message);
    // Text beyond the limit would be cut anyway; one byte more than fits is enough to mark the cut.
    const std::size_t room = g_maxPayloadSize + 1 - std::min(payload.size(), g_maxPayloadSize + 1);
    payload.append(message.text, 0, room);
    TruncateToPayloadLimit(payload);
    return payload;
}

}  // namespace ozr::logging::appender::syslog
