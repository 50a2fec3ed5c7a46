#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ozr/logging/Export.h"

namespace ozr::logging::appender::syslog
{

// How records travel: one datagram each, or a TCP stream, plain or under TLS.
enum class Transport
{
    Udp,
    Tcp,
    Tls,
};

// The layout of one record: the BSD one (RFC 3164), or RFC 5424's with year, fraction and time zone.
enum class Format
{
    Bsd,
    Rfc5424,
};

// How records are told apart on a stream (RFC 6587): each preceded by its length and a space, or each
// followed by a line feed. Datagrams need neither.
enum class Framing
{
    OctetCounting,
    NonTransparent,
};

// Where the syslog collector listens and how to reach it. An empty host means no collector. The settings
// are parsed and clamped by ConfigProvider; the appender trusts them.
struct OZR_LOGGING_API Config
{
    static const char DefaultHost[1];
    static constexpr std::size_t DefaultBufferMessages = 100000;
    static constexpr std::size_t MaxBufferMessages = 10000000;

    std::string host;
    std::uint16_t port;
    // Added later, so after the first two: `Config{host, port}` is still UDP in the BSD layout.
    Transport transport = Transport::Udp;
    Format format = Format::Bsd;
    Framing framing = Framing::OctetCounting;
    // Stream records kept while they wait for a connection or for the collector's acknowledgement; beyond
    // it the oldest is dropped. 0 to MaxBufferMessages; a stream keeps at least the record it writes.
    // Datagrams waiting for a lookup keep their own bound of 1000.
    std::size_t bufferMessages = DefaultBufferMessages;
    // TLS only. Empty: the system's trusted authorities, no client certificate, the host as server name.
    std::string caFile{};
    std::string certFile{};
    std::string keyFile{};
    std::string serverName{};
    // False when the settings ask for something that cannot be done safely (an unknown transport): the
    // appender then forwards nothing and counts every message as dropped, instead of falling back to
    // another transport.
    bool forwarding = true;
};

// Reads section "Syslog" of one settings file; every call reads it again. Keys: "Address", "Port",
// "Transport", "Format", "Framing", "BufferMessages", "CaFile", "CertFile", "KeyFile", "ServerName".
class OZR_LOGGING_API ConfigProvider
{
public:
    explicit ConfigProvider(std::string configFilePath);

    Config GetConfig() const;

private:
    std::string configFilePath;
};

}  // namespace ozr::logging::appender::syslog
