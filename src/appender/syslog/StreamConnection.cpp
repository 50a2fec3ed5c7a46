#include "appender/syslog/StreamConnection.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <utility>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "appender/syslog/TcpInfo.h"

namespace ozr::logging::appender::syslog
{

namespace ssl = boost::asio::ssl;
using boost::asio::ip::tcp;
using boost::system::error_code;

std::shared_ptr<ssl::context> MakeTlsContext(const Config& config)
{
    auto context = std::make_shared<ssl::context>(ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
    context->set_verify_mode(ssl::verify_peer);
    if (config.caFile.empty())
    {
        context->set_default_verify_paths();
    }
    else
    {
        context->load_verify_file(config.caFile);
    }
    if (!config.certFile.empty())
    {
        context->use_certificate_chain_file(config.certFile);
        context->use_private_key_file(config.keyFile.empty() ? config.certFile : config.keyFile,
                                      ssl::context::pem);
        if (SSL_CTX_check_private_key(context->native_handle()) != 1)
        {
            throw std::runtime_error("the key does not belong to the certificate");
        }
    }
    else if (!config.keyFile.empty())
    {
        throw std::runtime_error("a key without a certificate");
    }
    return context;
}

StreamConnection::StreamConnection(boost::asio::io_context& ioContext,
                                   boost::asio::io_context::strand& strand, std::shared_ptr<ssl::context> tls,
                                   std::string serverName)
    : strand(strand), tlsContext(std::move(tls)), serverName(std::move(serverName)), socket(ioContext)
{
}

// Opened by hand because the I/O library's own open leaves the descriptor inheritable across exec.
void StreamConnection::Start(const std::shared_ptr<StreamConnection>& self, const tcp::endpoint& endpoint,
                             Done done)
{
    const int descriptor =
        ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_CLOEXEC, endpoint.protocol().protocol());
    error_code error(errno, boost::system::system_category());
    if (descriptor >= 0)
    {
        socket.assign(endpoint.protocol(), descriptor, error);
        if (error)
        {
            ::close(descriptor);
        }
    }
    if (descriptor < 0 || error)
    {
        boost::asio::post(strand, [self, done = std::move(done), error] { done(error); });
        return;
    }
    socket.async_connect(
        endpoint,
        boost::asio::bind_executor(strand, [this, self, done = std::move(done)](const error_code& connected)
                                   { OnConnected(self, connected, done); }));
}

// The server's certificate must chain to a trusted authority and name the server: an address is matched
// against its IP entries, a name against its DNS entries (and sent as SNI).
void StreamConnection::OnConnected(const std::shared_ptr<StreamConnection>& self, const error_code& error,
                                   const Done& done)
{
    if (error || !tlsContext)
    {
        done(error);
        return;
    }
    tls = std::make_unique<ssl::stream<tcp::socket&>>(socket, *tlsContext);
    SSL* session = tls->native_handle();
    error_code notAnAddress;
    boost::asio::ip::make_address(serverName, notAnAddress);
    const int named = notAnAddress
                          ? SSL_set1_host(session, serverName.c_str()) &
                                static_cast<int>(SSL_set_tlsext_host_name(session, serverName.c_str()))
                          : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), serverName.c_str());
    if (named != 1)
    {
        done(boost::asio::error::invalid_argument);
        return;
    }
    tls->async_handshake(ssl::stream_base::client,
                         boost::asio::bind_executor(strand,
                                                    [this, self, done](const error_code& shaken)
                                                    {
                                                        CountHanded(0);
                                                        done(shaken);
                                                    }));
}

void StreamConnection::Write(const std::shared_ptr<StreamConnection>& self,
                             std::vector<boost::asio::const_buffer> buffers, Done done)
{
    auto written = boost::asio::bind_executor(
        strand,
        [this, self, done = std::move(done)](const error_code& error, std::size_t bytes)
        {
            CountHanded(bytes);
            done(error);
        });
    if (tls)
    {
        boost::asio::async_write(*tls, std::move(buffers), std::move(written));
    }
    else
    {
        boost::asio::async_write(socket, std::move(buffers), std::move(written));
    }
}

// Under TLS the bytes on the wire are the session's: those it has written into its transport, all of
// which a completed operation has handed to the kernel.
void StreamConnection::CountHanded(std::size_t bytes)
{
    if (tls)
    {
        handed = BIO_number_written(SSL_get_wbio(tls->native_handle()));
    }
    else
    {
        handed += bytes;
    }
}

void StreamConnection::Close()
{
    error_code ignored;
    socket.close(ignored);
}

// The count is read before the state: a reset in between purges the queue, and then the state no longer
// vouches for it. Once the collector has closed its side (CLOSE_WAIT) the count still holds.
std::optional<StreamConnection::Acknowledgement> StreamConnection::Acknowledged()
{
    if (!socket.is_open())
    {
        return std::nullopt;
    }
    const int descriptor = socket.native_handle();
    int unacknowledged = 0;
    if (::ioctl(descriptor, SIOCOUTQ, &unacknowledged) != 0)
    {
        return std::nullopt;
    }
    const std::optional<TcpInfo> info = ReadTcpInfo(descriptor);
    if (!info || !(info->established || info->closeWait))
    {
        return std::nullopt;
    }
    largestPeerWindow = std::max<std::uint64_t>(largestPeerWindow, info->peerWindow);
    const auto pending = static_cast<std::uint64_t>(unacknowledged < 0 ? 0 : unacknowledged);
    return Acknowledgement{handed > pending ? handed - pending : 0, info->established, largestPeerWindow};
}

}  // namespace ozr::logging::appender::syslog
