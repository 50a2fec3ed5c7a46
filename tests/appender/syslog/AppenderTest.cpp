#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "UdpCollector.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/Logging.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::MakeMessage;
using ozr::testing::UdpCollector;

// A lookup that does not answer until released (at most a minute), and then answers the given addresses.
// Its state outlives the test, since the lookup's thread may still wait when the test ends.
class HangingLookup
{
public:
    appender::syslog::Appender::Lookup Function() const
    {
        return [state = state](const std::string&, const std::string&)
        {
            ++state->calls;
            std::unique_lock<std::mutex> lock(state->mutex);
            state->releasedChanged.wait_for(lock, std::chrono::minutes(1), [&] { return state->released; });
            return state->answer;
        };
    }
    int Calls() const { return state->calls; }
    void Release(std::vector<boost::asio::ip::udp::endpoint> answer = {}) const
    {
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->answer = std::move(answer);
        state->released = true;
        state->releasedChanged.notify_all();
    }

private:
    struct State
    {
        std::atomic<int> calls{0};
        std::mutex mutex;
        std::condition_variable releasedChanged;
        bool released = false;
        std::vector<boost::asio::ip::udp::endpoint> answer;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
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
    UdpCollector collector{AF_INET};
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

// The lookup runs apart from the context: the messages that wait for it are dropped and their flush
// released once the wait ends. Later messages wait for the same lookup instead of another, and its late
// answer serves them.
TEST_F(AppenderTest, ALookupThatDoesNotAnswerHoldsMessagesOnlyForTheBoundedWait)
{
    ASSERT_TRUE(collector.IsOpen());
    const HangingLookup lookup;
    auto appender = std::make_shared<appender::syslog::Appender>(
        ioContext, applicationInfo, appender::syslog::Config{"hangs.example", 514}, lookup.Function());
    const std::uint64_t droppedBefore = GetLoggingStatistics().syslogMessagesDropped;
    bool flushed = false;

    for (int number = 0; number < 3; ++number)
    {
        appender->Log(MakeMessage("waits for the lookup"));
    }
    appender->Flush(std::shared_ptr<void>(nullptr, [&flushed](void*) { flushed = true; }));
    const auto start = std::chrono::steady_clock::now();
    RunUntilIdle();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0)
        << "seconds; the lookup hangs for a minute";
    EXPECT_TRUE(flushed);
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - droppedBefore, 3u);

    appender->Log(MakeMessage("waits for the same lookup"));
    RunUntilIdle();
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - droppedBefore, 4u);

    lookup.Release({{boost::asio::ip::make_address("127.0.0.1"), collector.Port()}});
    const auto served = MakeMessage("served by the late answer");
    appender->Log(served);
    RunUntilIdle();
    EXPECT_EQ(collector.Receive(), appender->FormatLogMessage(*served));
    EXPECT_EQ(lookup.Calls(), 1);
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
    UdpCollector restarted(AF_INET, port);
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
    UdpCollector ipv6Collector(AF_INET6);
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
