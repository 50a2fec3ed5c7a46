#include "ozr/logging/appender/syslog/Appender.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "appender/syslog/DatagramSender.h"
#include "appender/syslog/RecordFormat.h"
#include "appender/syslog/Sender.h"
#include "appender/syslog/StreamConnection.h"
#include "appender/syslog/StreamSender.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::appender::syslog
{

namespace
{

// The stream senders that are still alive, for the exit handler: the logger manager registered its exit
// drain before any appender was made, so this handler runs first, and the drain finds every stream's wait
// bounded. A forked child leaves its parent's senders alone: their context may be locked for good there.
// Never destroyed, since the exit runs destructors of statics around it. Lock order: a leaf.
struct ExitRegistry
{
    struct Entry
    {
        pid_t process;
        std::weak_ptr<Sender> sender;
    };

    Mutex mutex;
    std::vector<Entry> senders OZR_GUARDED_BY(mutex);
};

ExitRegistry& GetExitRegistry()
{
    static ExitRegistry* const registry = new ExitRegistry;
    return *registry;
}

void CloseStreamsAtExit()
{
    ExitRegistry& registry = GetExitRegistry();
    const pid_t process = ::getpid();
    const LockGuard<Mutex> lock(registry.mutex);
    for (const auto& entry : registry.senders)
    {
        if (const auto live = entry.sender.lock(); live && entry.process == process)
        {
            live->Close();
        }
    }
}

void CloseAtExit(const std::shared_ptr<Sender>& sender)
{
    static std::once_flag registered;
    ExitRegistry& registry = GetExitRegistry();
    std::call_once(registered, [] { std::atexit(&CloseStreamsAtExit); });
    const LockGuard<Mutex> lock(registry.mutex);
    auto& senders = registry.senders;
    senders.erase(std::remove_if(senders.begin(), senders.end(),
                                 [](const ExitRegistry::Entry& each) { return each.sender.expired(); }),
                  senders.end());
    senders.push_back({::getpid(), sender});
}

// A TLS setting that cannot be had (a file that is missing or unreadable, or holds no certificate or
// key), or a transport the settings do not name, leaves forwarding off: never clear text instead.
std::shared_ptr<Sender> MakeSender(boost::asio::io_context& ioContext,
                                   const IApplicationInfoProvider& applicationInfoProvider,
                                   const Config& config, Appender::Lookup lookup)
{
    RecordFormatter formatter(applicationInfoProvider, config.format, config.transport);
    if (!config.forwarding)
    {
        return std::make_shared<DroppingSender>(ioContext, std::move(formatter));
    }
    if (config.transport == Transport::Udp)
    {
        return std::make_shared<DatagramSender>(ioContext, std::move(formatter), config, std::move(lookup));
    }
    std::shared_ptr<boost::asio::ssl::context> tls;
    if (config.transport == Transport::Tls)
    {
        try
        {
            tls = MakeTlsContext(config);
        }
        catch (const std::exception&)
        {
            return std::make_shared<DroppingSender>(ioContext, std::move(formatter));
        }
    }
    auto stream = std::make_shared<StreamSender>(ioContext, std::move(formatter), config, std::move(lookup),
                                                 std::move(tls));
    CloseAtExit(stream);
    return stream;
}

}  // namespace

Appender::Appender(boost::asio::io_context& ioContext,
                   const IApplicationInfoProvider& applicationInfoProvider, Config config)
    : Appender(ioContext, applicationInfoProvider, std::move(config),
               &NameLookup::LookUpWithTheSystemResolver)
{
}

Appender::Appender(boost::asio::io_context& ioContext,
                   const IApplicationInfoProvider& applicationInfoProvider, Config config, Lookup lookup)
    : sender(MakeSender(ioContext, applicationInfoProvider, config, std::move(lookup)))
{
}

Appender::~Appender() = default;

void Appender::Log(std::shared_ptr<Message const> message)
{
    if (message)
    {
        sender->Log(std::move(message));
    }
}

void Appender::Flush(std::shared_ptr<void> done)
{
    sender->Flush(std::move(done));
}

void Appender::Close()
{
    sender->Close();
}

void Appender::WriteLogMessage(const Message& message)
{
    sender->Deliver(std::make_shared<const Message>(message));
}

std::string Appender::FormatLogMessage(const Message& message) const
{
    return sender->FormatRecord(message);
}

}  // namespace ozr::logging::appender::syslog
