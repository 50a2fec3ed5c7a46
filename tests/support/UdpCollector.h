#pragma once

// A syslog collector for tests: a UDP socket bound to the loopback address of one family, on an ephemeral
// (or given) port, that hands over the datagrams it receives.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ozr::testing
{

class UdpCollector
{
public:
    explicit UdpCollector(int family = AF_INET, std::uint16_t port = 0)
        : descriptor(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        if (descriptor < 0 || !Bind(family, port))
        {
            Close();
            return;
        }
        const int bufferSize = 4 << 20;  // room for a burst of a thousand datagrams
        setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    }
    ~UdpCollector() { Close(); }
    UdpCollector(const UdpCollector&) = delete;
    UdpCollector& operator=(const UdpCollector&) = delete;

    bool IsOpen() const { return descriptor >= 0; }
    std::uint16_t Port() const { return port; }

    // The next datagram, or nothing when none arrives within the timeout.
    std::optional<std::string> Receive(int timeoutMilliseconds = 5000)
    {
        pollfd entry{descriptor, POLLIN, 0};
        if (descriptor < 0 || poll(&entry, 1, timeoutMilliseconds) <= 0)
        {
            return std::nullopt;
        }
        char buffer[2048];
        const ssize_t size = recv(descriptor, buffer, sizeof buffer, 0);
        return size < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, size));
    }

    // Up to `count` datagrams, waiting at most the timeout for each.
    std::vector<std::string> ReceiveUpTo(std::size_t count, int timeoutMilliseconds = 5000)
    {
        std::vector<std::string> datagrams;
        while (datagrams.size() < count)
        {
            auto datagram = Receive(timeoutMilliseconds);
            if (!datagram)
            {
                break;
            }
            datagrams.push_back(std::move(*datagram));
        }
        return datagrams;
    }

    void Close()
    {
        if (descriptor >= 0)
        {
            close(descriptor);
        }
        descriptor = -1;
    }

private:
    bool Bind(int family, std::uint16_t requestedPort)
    {
        sockaddr_storage address{};
        socklen_t size = 0;
        if (family == AF_INET)
        {
            auto& ipv4 = reinterpret_cast<sockaddr_in&>(address);
            ipv4.sin_family = AF_INET;
            ipv4.sin_port = htons(requestedPort);
            ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof ipv4;
        }
        else
        {
            auto& ipv6 = reinterpret_cast<sockaddr_in6&>(address);
            ipv6.sin6_family = AF_INET6;
            ipv6.sin6_port = htons(requestedPort);
            ipv6.sin6_addr = in6addr_loopback;
            size = sizeof ipv6;
        }
        if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        {
            return false;
        }
        port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                       : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
        return true;
    }

    int descriptor;
    std::uint16_t port = 0;
};

}  // namespace ozr::testing
