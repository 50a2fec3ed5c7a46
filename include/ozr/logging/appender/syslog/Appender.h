#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender::syslog
{

class Sender;
class RecordFormatter;

// Forwards each message as one syslog record, in the BSD layout or RFC 5424's, to the collector of its
// settings: as one UDP datagram, or on a TCP connection, plain or under TLS, framed as RFC 6587 says.
// `Log`, `Flush` and `Close` may be called from any thread and never wait for the network; lookups,
// connects, writes and their completions run on the appender's strand on the worker. Failures drop the
// message silently and count it.
//
// The name lookup runs on a thread of its own, so it is no work of the context: messages wait for it at
// most LookupWait. Over UDP they are then dropped; on a stream they stay in the buffer of the last
// BufferMessages records, which a stream keeps until the collector has acknowledged them, reconnecting
// with a growing delay and writing again what a broken connection lost. A flush waits for the datagrams
// to be sent, or for the stream's records to be acknowledged for at most 2 s; the last shutdown and the
// process's exit give a stream's records 2 s, then drop them, so that neither waits for an absent
// collector. Work under way holds the appender's sender, not the appender, so it completes on a live
// object when the appender's owners let go.
class OZR_LOGGING_API Appender final : public ILogAppender, public IFlushable
{
public:
    // The addresses `host` and `service` resolve to, in the order to be tried; empty when the name cannot
    // be resolved. Runs on the lookup's own thread and may block for as long as the name service takes.
    using Lookup = std::function<std::vector<boost::asio::ip::udp::endpoint>(const std::string& host,
                                                                             const std::string& service)>;

    // How long messages wait for a lookup before they are dropped (a datagram) or the connection is tried
    // again later (a stream).
    static constexpr std::chrono::seconds LookupWait{2};

    // Looks names up with the system's resolver.
    Appender(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
             Config config);
    // Looks names up with `lookup` instead, for example one that stands in for a slow name service.
    Appender(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
             Config config, Lookup lookup);
    ~Appender() override;

    void Log(std::shared_ptr<Message const> message) override;
    // Releases `done` once every message handed over before has been sent (a stream's: acknowledged) or
    // dropped; a stream waits at most 2 s.
    void Flush(std::shared_ptr<void> done) override;
    // Called by the last shutdown, from any thread: what a stream still holds, and what reaches it
    // afterwards, is given 2 s more and then dropped, so that the drain to come ends.
    void Close();

    // Formats the message and hands it to the sender at once; strand only.
    void WriteLogMessage(const Message& message);
    // The record of a message in the configured layout, before any framing: at most 1024 bytes in the
    // BSD layout, 2048 in RFC 5424's.
    std::string FormatLogMessage(const Message& message) const;

private:
    const std::shared_ptr<Sender> sender;
};

}  // namespace ozr::logging::appender::syslog
