#pragma once

// What the kernel reports of a TCP socket (TCP_INFO), read with the kernel's own layout of the report:
// the C library's copy of it ends before the peer's window.

#include <cstdint>
#include <optional>

namespace ozr::logging::appender::syslog
{

struct TcpInfo
{
    bool established;  // ESTABLISHED
    bool closeWait;    // CLOSE_WAIT: the peer has closed its side
    // The receive window the peer advertised last, in bytes; 0 where the kernel does not tell (before
    // Linux 5.4).
    std::uint32_t peerWindow;
};

// Nothing when the descriptor is no TCP socket.
std::optional<TcpInfo> ReadTcpInfo(int descriptor);

}  // namespace ozr::logging::appender::syslog
