#include "appender/syslog/TcpInfo.h"

// The kernel's header, not the C library's <netinet/tcp.h>: the two cannot be included together.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

namespace ozr::logging::appender::syslog
{

namespace
{

// States of a TCP socket as TCP_INFO reports them (the kernel's numbering, part of its ABI).
constexpr std::uint8_t g_established = 1;
constexpr std::uint8_t g_closeWait = 8;

}  // namespace

std::optional<TcpInfo> ReadTcpInfo(int descriptor)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
    {
        return std::nullopt;
    }
    const bool hasWindow = size >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd;
    return TcpInfo{info.tcpi_state == g_established, info.tcpi_state == g_closeWait,
                   hasWindow ? info.tcpi_snd_wnd : 0};
}

}  // namespace ozr::logging::appender::syslog
