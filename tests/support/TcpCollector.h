#pragma once

// A syslog collector for tests that receives on TCP, plain or under TLS: it listens on a loopback port
// (ephemeral, or given, to come back on the same one), reads every connection on a thread of its own and
// hands over the records it received, unframed. It can be stopped and started again on the same port,
// and counts the connections it accepted.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ozr::testing
{

class TcpCollector
{
public:
    enum class Framing
    {
        OctetCounting,
        LineFeed,
    };

    // `tls`, when given, is the server's context (certificate and key loaded); it must outlive the
    // collector.
    explicit TcpCollector(std::uint16_t port = 0, SSL_CTX* tls = nullptr) : tls(tls) { Start(port); }
    ~TcpCollector() { Stop(); }
    TcpCollector(const TcpCollector&) = delete;
    TcpCollector& operator=(const TcpCollector&) = delete;

    bool IsListening() const { return listener >= 0; }
    // While paused the collector reads nothing, so that the sender's window fills and what it writes goes
    // unacknowledged; its receive buffers are kept small for that.
    void Pause() { paused = true; }
    void Resume() { paused = false; }
    std::uint16_t Port() const { return port; }
    std::size_t Connections() const { return accepted.load(); }

    // Listens again on the same port after Stop; what was received before is kept.
    bool Restart()
    {
        Stop();
        return Start(port);
    }

    // Closes the listening socket and every connection, as a collector that ends does.
    void Stop() { End(false); }
    // Ends as a collector that is killed: what its kernel took but it had not read is lost, and the
    // connections are reset.
    void Abort() { End(true); }

private:
    void End(bool abort)
    {
        aborting = abort;
        stopping = true;
        if (acceptor.joinable())
        {
            acceptor.join();
        }
        for (auto& reader : readers)
        {
            reader.join();
        }
        readers.clear();
        if (listener >= 0)
        {
            close(listener);
            listener = -1;
        }
        stopping = false;
    }

public:
    // The records of every connection so far, in the order of the connections; a record cut off by the
    // end of its connection is left out.
    std::vector<std::string> Records(Framing framing = Framing::OctetCounting) const
    {
        std::vector<std::string> records;
        const std::lock_guard<std::mutex> lock(mutex);
        for (const auto& stream : streams)
        {
            Unframe(*stream, framing, records);
        }
        return records;
    }

    // Waits until at least `count` records have arrived, at most `timeout`.
    std::vector<std::string> WaitForRecords(
        std::size_t count, Framing framing = Framing::OctetCounting,
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        auto records = Records(framing);
        while (records.size() < count && std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            records = Records(framing);
        }
        return records;
    }

private:
    bool Start(std::uint16_t requestedPort)
    {
        paused = false;
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        const int smallBuffer = 4096;  // inherited by the connections it accepts
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(requestedPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener, 16) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        {
            if (listener >= 0)
            {
                close(listener);
            }
            listener = -1;
            return false;
        }
        port = ntohs(address.sin_port);
        acceptor = std::thread([this] { Accept(); });
        return true;
    }

    void Accept()
    {
        while (!stopping)
        {
            pollfd entry{listener, POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0)
            {
                continue;
            }
            const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
            {
                continue;
            }
            ++accepted;
            auto stream = std::make_shared<std::string>();
            {
                const std::lock_guard<std::mutex> lock(mutex);
                streams.push_back(stream);
            }
            readers.emplace_back([this, connection, stream] { Read(connection, *stream); });
        }
    }

    void Read(int connection, std::string& stream)
    {
        SSL* session = nullptr;
        if (tls != nullptr)
        {
            session = SSL_new(tls);
            SSL_set_fd(session, connection);
            if (SSL_accept(session) != 1)
            {
                SSL_free(session);
                close(connection);
                return;
            }
        }
        char buffer[16384];
        while (!stopping)
        {
            if (paused)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            pollfd entry{connection, POLLIN, 0};
            if ((session == nullptr || SSL_pending(session) == 0) && poll(&entry, 1, 20) <= 0)
            {
                continue;
            }
            const int size = session != nullptr
                                 ? SSL_read(session, buffer, sizeof buffer)
                                 : static_cast<int>(recv(connection, buffer, sizeof buffer, 0));
            if (size <= 0)
            {
                break;
            }
            const std::lock_guard<std::mutex> lock(mutex);
            stream.append(buffer, static_cast<std::size_t>(size));
        }
        // What the kernel took (and acknowledged) before the stop is read too, as a collector that ends
        // cleanly processes what it received.
        for (ssize_t size = 0; session == nullptr && !aborting &&
                               (size = recv(connection, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stream.append(buffer, static_cast<std::size_t>(size));
        }
        if (session != nullptr)
        {
            SSL_free(session);
        }
        if (aborting)
        {
            const linger reset{1, 0};
            setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        close(connection);
    }

    static void Unframe(const std::string& stream, Framing framing, std::vector<std::string>& records)
    {
        std::size_t at = 0;
        while (at < stream.size())
        {
            if (framing == Framing::LineFeed)
            {
                const auto end = stream.find('\n', at);
                if (end == std::string::npos)
                {
                    return;
                }
                records.push_back(stream.substr(at, end - at));
                at = end + 1;
                continue;
            }
            const auto space = stream.find(' ', at);
            if (space == std::string::npos)
            {
                return;
            }
            const std::size_t length = std::stoul(stream.substr(at, space - at));
            if (space + 1 + length > stream.size())
            {
                return;
            }
            records.push_back(stream.substr(space + 1, length));
            at = space + 1 + length;
        }
    }

    SSL_CTX* const tls;
    int listener = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> aborting{false};
    std::atomic<std::size_t> accepted{0};
    std::thread acceptor;
    std::vector<std::thread> readers;  // the acceptor's until Stop has joined it
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<std::string>> streams;
};

}  // namespace ozr::testing
