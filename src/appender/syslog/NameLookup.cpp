#include "appender/syslog/NameLookup.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <boost/asio/bind_executor.hpp>

#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::appender::syslog
{

using boost::asio::ip::udp;
using boost::system::error_code;

// Shared by a lookup's thread and the lookup's owner; whichever lets go last closes the eventfd, so the
// thread never signals a descriptor number that has been reused. Lock order: `mutex` is a leaf.
struct NameLookup::Outcome
{
    Outcome() : signal(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (signal < 0)
        {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
    }
    ~Outcome() { ::close(signal); }
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;

    void Answer(Endpoints answer)
    {
        {
            const LockGuard<Mutex> lock(mutex);
            endpoints = std::move(answer);
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(signal, &one, sizeof one);
    }

    Endpoints Take()
    {
        const LockGuard<Mutex> lock(mutex);
        return std::move(endpoints);
    }

    const int signal;
    Mutex mutex;
    Endpoints endpoints OZR_GUARDED_BY(mutex);
};

NameLookup::NameLookup(boost::asio::io_context& ioContext, boost::asio::io_context::strand& strand,
                       Lookup lookup, std::string host, std::string service,
                       std::chrono::steady_clock::duration wait)
    : strand(strand),
      lookup(std::move(lookup)),
      host(std::move(host)),
      service(std::move(service)),
      wait(wait),
      waitTimer(ioContext),
      answeredSignal(ioContext)
{
}

NameLookup::~NameLookup() = default;

// A synchronous lookup runs getaddrinfo on the calling thread; its resolver needs a context, but no run
// loop, so it gets one of its own that nothing else uses.
NameLookup::Endpoints NameLookup::LookUpWithTheSystemResolver(const std::string& host,
                                                              const std::string& service)
{
    boost::asio::io_context context;
    udp::resolver resolver(context);
    error_code error;
    const udp::resolver::results_type results = resolver.resolve(host, service, error);
    Endpoints endpoints;
    for (const auto& result : results)
    {
        endpoints.push_back(result.endpoint());
    }
    return endpoints;
}

void NameLookup::Wait(std::shared_ptr<void> owner, Answered handler)
{
    if (!outcome)
    {
        Start();
    }
    answered = std::move(handler);
    ++waits;
    waitTimer.expires_after(wait);
    waitTimer.async_wait(boost::asio::bind_executor(
        strand, [this, owner, wait = waits](const error_code& error) { OnWaitEnded(error, wait); }));
    answeredSignal.async_wait(
        boost::asio::posix::descriptor_base::wait_read,
        boost::asio::bind_executor(strand, [this, owner = std::move(owner), wait = waits](
                                               const error_code& error) { OnAnswered(error, wait); }));
}

void NameLookup::Cancel()
{
    if (!answered)
    {
        return;
    }
    answered = nullptr;
    waitTimer.cancel();
    error_code ignored;
    answeredSignal.cancel(ignored);
}

void NameLookup::Start()
{
    auto started = std::make_shared<Outcome>();
    const int copy = ::fcntl(started->signal, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
    {
        throw std::system_error(errno, std::generic_category(), "dup");
    }
    error_code assignError;
    answeredSignal.assign(copy, assignError);
    if (assignError)
    {
        ::close(copy);
        throw boost::system::system_error(assignError, "assign");
    }
    try
    {
        std::thread(
            [started, lookUp = lookup, host = host, service = service]() noexcept
            {
                Endpoints endpoints;
                try
                {
                    endpoints = lookUp(host, service);
                }
                catch (...)
                {
                    // A failed lookup answers no address.
                }
                started->Answer(std::move(endpoints));
            })
            .detach();
    }
    catch (...)
    {
        error_code ignored;
        answeredSignal.close(ignored);
        throw;
    }
    outcome = std::move(started);
}

// Cancelling the wait for the answer leaves no work of the context behind.
void NameLookup::OnWaitEnded(const error_code& error, std::uint64_t ended)
{
    if (error || ended != waits || !answered)
    {
        return;  // cancelled, or expired as the answer came
    }
    const Answered handler = std::move(answered);
    answered = nullptr;
    error_code ignored;
    answeredSignal.cancel(ignored);
    handler(std::nullopt);
}

void NameLookup::OnAnswered(const error_code& error, std::uint64_t ended)
{
    if (error || ended != waits || !answered)
    {
        return;  // cancelled, or answered as the wait expired: the answer waits for the next wait
    }
    Endpoints endpoints = outcome->Take();
    outcome.reset();
    error_code ignored;
    answeredSignal.close(ignored);
    const Answered handler = std::move(answered);
    answered = nullptr;
    waitTimer.cancel();
    handler(std::move(endpoints));
}

}  // namespace ozr::logging::appender::syslog
