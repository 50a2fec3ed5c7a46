#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::MakeMessage;

// A syslog collector on a loopback address and an ephemeral (or given) port.
class Collector
{
public:
    explicit Collector(int family, std::uint16_t port = 0) : descriptor(socket(family, SOCK_DGRAM, 0))
    {
        if (descriptor < 0 || !Bind(family, port))
        {
            Close();
            return;
        }
        const int bufferSize = 4 << 20;  // room for a burst of a thousand datagrams
        setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    }
    ~Collector() { Close(); }
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    bool IsOpen() const { return descriptor >= 0; }
    std::uint16_t Port() const { return port; }

    std::optional<std::string> Receive(int timeoutMilliseconds = 5000)
    {
        const timeval timeout{timeoutMilliseconds / 1000, timeoutMilliseconds % 1000 * 1000};
        setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char buffer[2048];
        const ssize_t size = recv(descriptor, buffer, sizeof buffer, 0);
        return size < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, size));
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
            ipv4 = sockaddr_in{};
            ipv4.sin_family = AF_INET;
            ipv4.sin_port = htons(requestedPort);
            ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof ipv4;
        }
        else
        {
            auto& ipv6 = reinterpret_cast<sockaddr_in6&>(address);
            ipv6 = sockaddr_in6{};
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

// Sockets of this process that an exec'd child would inherit.
int InheritableSockets()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        const int descriptor = std::stoi(entry.path().filename().string());
        if (target.rfind("socket:", 0) == 0 && (fcntl(descriptor, F_GETFD) & FD_CLOEXEC) == 0)
        {
            ++count;
        }
    }
    return count;
}

class AppenderTest : public ::testing::Test
{
protected:
    std::shared_ptr<appender::syslog::Appender> MakeAppender(std::string host, std::uint16_t port)
    {
        return std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo,
                                                            appender::syslog::Config{std::move(host), port});
    }

    // Runs every queued task and outstanding lookup, connect and send to completion.
    void RunUntilIdle()
    {
        ioContext.restart();
        ioContext.run();
    }

    boost::asio::io_context ioContext;
    ApplicationInfoProvider applicationInfo;
    Collector collector{AF_INET};
};

TEST_F(AppenderTest, DeliversEachMessageAsOneDatagramFormattedByteForByteOnASocketClosedOnExec)
{
    ASSERT_TRUE(collector.IsOpen());
    const int inheritableBefore = InheritableSockets();
    auto appender = MakeAppender("127.0.0.1", collector.Port());
    const auto first = MakeMessage("first, sent after the connection");
    const auto second = MakeMessage("second, sent on the open socket", Severity::Error, nullptr);

    appender->Log(first);
    RunUntilIdle();
    EXPECT_EQ(InheritableSockets(), inheritableBefore);
    appender->Log(second);
    RunUntilIdle();

    EXPECT_EQ(collector.Receive(), appender->FormatLogMessage(*first));
    EXPECT_EQ(collector.Receive(), appender->FormatLogMessage(*second));
}

TEST_F(AppenderTest, BurstBeforeTheFirstConnectionArrivesCompleteAndInOrder)
{
    ASSERT_TRUE(collector.IsOpen());
    auto appender = MakeAppender("127.0.0.1", collector.Port());

    for (int number = 0; number < 50; ++number)
    {
        appender->Log(MakeMessage("burst " + std::to_string(number)));
    }
    RunUntilIdle();

    for (int number = 0; number < 50; ++number)
    {
        const auto datagram = collector.Receive();
        ASSERT_TRUE(datagram) << "missing message " << number;
        EXPECT_EQ(datagram->substr(datagram->rfind(") ") + 2), "burst " + std::to_string(number));
    }
}

TEST_F(AppenderTest, KeepsTheNewestThousandMessagesWhileConnecting)
{
    ASSERT_TRUE(collector.IsOpen());
    auto appender = MakeAppender("127.0.0.1", collector.Port());

    for (int number = 0; number < 1005; ++number)
    {
        appender->Log(MakeMessage(std::to_string(number)));
    }
    RunUntilIdle();

    for (int number = 5; number < 1005; ++number)
    {
        const auto datagram = collector.Receive();
        ASSERT_TRUE(datagram) << "missing message " << number;
        ASSERT_EQ(datagram->substr(datagram->rfind(") ") + 2), std::to_string(number));
    }
    EXPECT_FALSE(collector.Receive(200));
}

TEST_F(AppenderTest, UnresolvableHostDropsMessagesSilentlyAndReleasesThem)
{
    // The empty label makes the system's resolver refuse the name without asking any name server.
    auto appender = MakeAppender("collector..invalid", 514);
    std::vector<std::weak_ptr<Message const>> logged;

    for (int number = 0; number < 3; ++number)
    {
        auto message = MakeMessage("dropped");
        logged.push_back(message);
        EXPECT_NO_THROW(appender->Log(std::move(message)));
    }
    EXPECT_NO_THROW(RunUntilIdle());

    for (const auto& message : logged)
    {
        EXPECT_TRUE(message.expired());
    }
    appender->Log(MakeMessage("a later message starts a new lookup"));
    EXPECT_NO_THROW(RunUntilIdle());
}

TEST_F(AppenderTest, ResumesDeliveryAfterTheCollectorRefusedDatagrams)
{
    ASSERT_TRUE(collector.IsOpen());
    const std::uint16_t port = collector.Port();
    collector.Close();
    auto appender = MakeAppender("127.0.0.1", port);

    // The system reports the refusal of a datagram on the next send, which fails and closes the socket.
    for (int number = 0; number < 3; ++number)
    {
        appender->Log(MakeMessage("refused"));
        EXPECT_NO_THROW(RunUntilIdle());
    }
    Collector restarted(AF_INET, port);
    ASSERT_TRUE(restarted.IsOpen()) << "port " << port << " was taken meanwhile";
    // The first may still meet the refusal of the last datagram sent while nobody listened.
    const auto mayBeLost = MakeMessage("after the collector came back");
    const auto delivered = MakeMessage("once the stale refusal is consumed");
    appender->Log(mayBeLost);
    RunUntilIdle();
    appender->Log(delivered);
    RunUntilIdle();

    auto datagram = restarted.Receive();
    if (datagram == appender->FormatLogMessage(*mayBeLost))
    {
        datagram = restarted.Receive();
    }
    EXPECT_EQ(datagram, appender->FormatLogMessage(*delivered));
}

TEST_F(AppenderTest, DeliversToAnIpv6Collector)
{
    Collector ipv6Collector(AF_INET6);
    if (!ipv6Collector.IsOpen())
    {
        GTEST_SKIP() << "no IPv6 loopback address";
    }
    auto appender = MakeAppender("::1", ipv6Collector.Port());
    const auto message = MakeMessage("over IPv6");

    appender->Log(message);
    RunUntilIdle();

    EXPECT_EQ(ipv6Collector.Receive(), appender->FormatLogMessage(*message));
}

TEST_F(AppenderTest, IgnoresANullMessage)
{
    auto appender = MakeAppender("127.0.0.1", collector.Port());

    appender->Log(nullptr);

    EXPECT_EQ(ioContext.run(), 0u);
}

TEST_F(AppenderTest, DeliversEveryMessageOfConcurrentCallersInOrderPerThread)
{
    ASSERT_TRUE(collector.IsOpen());
    auto appender = MakeAppender("127.0.0.1", collector.Port());
    auto guard = boost::asio::make_work_guard(ioContext);
    std::thread worker([this] { ioContext.run(); });
    constexpr int threadCount = 4;
    constexpr int messagesPerThread = 100;

    std::vector<std::thread> callers;
    for (int thread = 0; thread < threadCount; ++thread)
    {
        callers.emplace_back(
            [&, thread]
            {
                for (int number = 0; number < messagesPerThread; ++number)
                {
                    appender->Log(MakeMessage(std::to_string(thread) + " " + std::to_string(number)));
                }
            });
    }
    for (auto& caller : callers)
    {
        caller.join();
    }
    guard.reset();
    worker.join();

    std::vector<int> nextPerThread(threadCount, 0);
    for (int received = 0; received < threadCount * messagesPerThread; ++received)
    {
        const auto datagram = collector.Receive();
        ASSERT_TRUE(datagram) << "only " << received << " datagrams arrived";
        const std::string text = datagram->substr(datagram->rfind(") ") + 2);
        const int thread = std::stoi(text);
        EXPECT_EQ(std::stoi(text.substr(text.find(' ') + 1)), nextPerThread.at(thread)++);
    }
}

}  // namespace
