#pragma once

// A syslog daemon run by a test as a child process: started in the foreground from its unpacked package
// with a configuration the test wrote, watched for its UDP port, stopped by its pid.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ozr::testing
{

// A UDP (or TCP) port on the loopback address that nothing is bound to right now.
inline std::uint16_t FindFreeUdpPort(int type = SOCK_DGRAM)
{
    const int descriptor = socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = descriptor >= 0 &&
                       bind(descriptor, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                       getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    if (descriptor >= 0)
    {
        close(descriptor);
    }
    if (!bound)
    {
        throw std::runtime_error("no free UDP port on 127.0.0.1");
    }
    return ntohs(address.sin_port);
}

// Whether some socket of this machine is bound to 127.0.0.1 and the port in the table (/proc/net/udp or
// /proc/net/tcp, whose addresses read "0100007F:PORT" in hexadecimal), in the given state when one is
// given ("0A": listening).
inline bool IsPortBound(const char* table, std::uint16_t port, const std::string& state = "")
{
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::ifstream entries(table);
    std::string line;
    while (std::getline(entries, line))
    {
        std::istringstream fields(line);
        std::string slot;
        std::string localAddress;
        std::string remoteAddress;
        std::string socketState;
        if (fields >> slot >> localAddress >> remoteAddress >> socketState && localAddress == wanted &&
            (state.empty() || socketState == state))
        {
            return true;
        }
    }
    return false;
}

inline bool IsUdpPortBound(std::uint16_t port)
{
    return IsPortBound("/proc/net/udp", port);
}

inline bool IsTcpPortListening(std::uint16_t port)
{
    return IsPortBound("/proc/net/tcp", port, "0A");
}

class CollectorProcess
{
public:
    // Runs arguments[0] with the given environment ("NAME=value"), standard output and error to `log`.
    CollectorProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                     const std::filesystem::path& log)
    {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
        {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& variable : environment)
        {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0)
        {
            pid = -1;
            throw std::runtime_error("cannot start " + arguments[0]);
        }
    }
    ~CollectorProcess() { Stop(); }
    CollectorProcess(const CollectorProcess&) = delete;
    CollectorProcess& operator=(const CollectorProcess&) = delete;

    // True once the daemon listens on the UDP port; false when it ended or did not listen in time.
    bool WaitUntilListening(std::uint16_t port, std::chrono::seconds timeout)
    {
        return WaitUntil([port] { return IsUdpPortBound(port); }, timeout);
    }

    // True once `listening` holds while the daemon runs; false when it ended or timed out first.
    template <typename Condition>
    bool WaitUntil(Condition listening, std::chrono::seconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline)
        {
            if (!IsRunning())
            {
                return false;
            }
            if (listening())
            {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // The real user id the daemon runs as now; -1 when it has ended.
    long UserId() const
    {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (pid > 0 && std::getline(status, line))
        {
            if (line.rfind("Uid:", 0) == 0)
            {
                return std::stol(line.substr(4));
            }
        }
        return -1;
    }

    // SIGTERM, then SIGKILL if the daemon has not ended within five seconds.
    void Stop()
    {
        if (pid <= 0)
        {
            return;
        }
        kill(pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(pid, nullptr, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() > deadline)
            {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid = -1;
    }

private:
    bool IsRunning()
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid)
        {
            pid = -1;
        }
        return pid > 0;
    }

    pid_t pid = -1;
};

}  // namespace ozr::testing
