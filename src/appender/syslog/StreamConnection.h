#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>

#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender::syslog
{

// The TLS settings every connection of one appender shares: the trusted authorities, the client's own
// certificate, and the name the server's certificate must carry. Throws when a file it names cannot be
// read or holds no usable certificate or key.
std::shared_ptr<boost::asio::ssl::context> MakeTlsContext(const Config& config);

// One TCP connection to the collector, plain or under TLS, opened close-on-exec. Its completion handlers
// run on the given strand and must hold the connection (a shared pointer), since a TLS stream's
// operations refer to it until they complete. Tells how much of what it wrote the collector has
// acknowledged: the kernel's count of bytes not yet acknowledged (SIOCOUTQ) against the bytes handed to
// it so far.
class StreamConnection
{
public:
    using Done = std::function<void(const boost::system::error_code&)>;

    // `tls` null: plain TCP. `serverName`: the name (or address) the server's certificate must carry.
    StreamConnection(boost::asio::io_context& ioContext, boost::asio::io_context::strand& strand,
                     std::shared_ptr<boost::asio::ssl::context> tls, std::string serverName);
    StreamConnection(const StreamConnection&) = delete;
    StreamConnection& operator=(const StreamConnection&) = delete;

    // Connects to `endpoint`, then under TLS makes the handshake, verifying the server's certificate and
    // name; `done` gets the first error. `self` is the connection itself, held until `done` ran.
    void Start(const std::shared_ptr<StreamConnection>& self, const boost::asio::ip::tcp::endpoint& endpoint,
               Done done);
    // Writes every buffer; `done` runs once all are handed to the kernel, or with the error.
    void Write(const std::shared_ptr<StreamConnection>& self, std::vector<boost::asio::const_buffer> buffers,
               Done done);
    // Closes the socket: what is under way ends with operation_aborted.
    void Close();

    bool IsTls() const { return tls != nullptr; }
    // Bytes handed to the kernel by the writes that have completed (under TLS: the TLS records, the
    // handshake included).
    std::uint64_t Handed() const { return handed; }

    struct Acknowledgement
    {
        std::uint64_t bytes;  // of Handed(), those the collector has acknowledged
        bool open;            // false once the collector has closed its side
        // The largest receive window the collector has advertised in the reports read so far (0 where the
        // kernel does not tell): its kernel holds no more bytes that the collector has not read.
        std::uint64_t largestPeerWindow;
    };
    // Nothing once the connection is reset or closed, when the kernel's count no longer tells.
    std::optional<Acknowledgement> Acknowledged();

private:
    void OnConnected(const std::shared_ptr<StreamConnection>& self, const boost::system::error_code& error,
                     const Done& done);
    void CountHanded(std::size_t bytes);

    boost::asio::io_context::strand& strand;
    const std::shared_ptr<boost::asio::ssl::context> tlsContext;
    const std::string serverName;
    boost::asio::ip::tcp::socket socket;
    std::unique_ptr<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> tls;
    std::uint64_t handed = 0;
    std::uint64_t largestPeerWindow = 0;
};

}  // namespace ozr::logging::appender::syslog
