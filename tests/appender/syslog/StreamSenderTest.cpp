// The syslog appender on a TCP stream, against a collector the test owns, with the context run on the
// test thread: framing, order, acknowledgement, a collector that goes away and comes back, and the bounds
// of flush and close.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <openssl/ssl.h>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "TcpCollector.h"
#include "UdpCollector.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/Logging.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;
using appender::syslog::Config;
using appender::syslog::Format;
using appender::syslog::Framing;
using appender::syslog::Transport;
using ozr::testing::MakeMessage;
using ozr::testing::TcpCollector;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The text of a record: what follows the thread identifier.
std::string TextOf(const std::string& record)
{
    return record.substr(record.rfind(") ") + 2);
}

class StreamSenderTest : public ::testing::Test
{
protected:
    std::shared_ptr<appender::syslog::Appender> MakeAppender(std::uint16_t port,
                                                             const std::function<void(Config&)>& adjust = {})
    {
        Config config{"127.0.0.1", port};
        config.transport = Transport::Tcp;
        if (adjust)
        {
            adjust(config);
        }
        return std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, std::move(config));
    }

    // Runs every queued task and outstanding operation to completion: a connected stream with nothing
    // left to write is no work.
    void RunUntilIdle()
    {
        ioContext.restart();
        ioContext.run();
    }

    // Runs the context until the condition holds or the timeout passed.
    bool RunUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (!condition())
        {
            if (Clock::now() > deadline)
            {
                return false;
            }
            ioContext.restart();
            ioContext.run_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    static std::shared_ptr<void> FlushToken(bool& released)
    {
        return std::shared_ptr<void>(nullptr, [&released](void*) { released = true; });
    }

    boost::asio::io_context ioContext;
    ApplicationInfoProvider applicationInfo;
};

TEST_F(StreamSenderTest, WritesEveryRecordInOrderWithItsLengthBeforeIt)
{
    TcpCollector collector;
    ASSERT_TRUE(collector.IsListening());
    const LoggingStatistics before = GetLoggingStatistics();
    auto appender = MakeAppender(collector.Port());
    std::vector<std::string> expected;

    for (int number = 0; number < 100; ++number)
    {
        const auto message = MakeMessage("record " + std::to_string(number));
        expected.push_back(appender->FormatLogMessage(*message));
        appender->Log(message);
    }
    bool flushed = false;
    appender->Flush(FlushToken(flushed));  // the acknowledgements are awaited
    RunUntilIdle();

    EXPECT_TRUE(flushed);
    EXPECT_EQ(collector.WaitForRecords(100), expected);
    EXPECT_EQ(collector.Connections(), 1u);
    EXPECT_EQ(GetLoggingStatistics().syslogDatagramsSent - before.syslogDatagramsSent, 100u);
    EXPECT_EQ(GetLoggingStatistics().syslogRecordsResent - before.syslogRecordsResent, 0u);
}

TEST_F(StreamSenderTest, NonTransparentFramingEndsEachRecordWithALineFeed)
{
    TcpCollector collector;
    auto appender =
        MakeAppender(collector.Port(), [](Config& config) { config.framing = Framing::NonTransparent; });
    const auto first = MakeMessage("first");
    const auto second = MakeMessage("second");

    appender->Log(first);
    appender->Log(second);
    RunUntilIdle();

    EXPECT_EQ(
        collector.WaitForRecords(2, TcpCollector::Framing::LineFeed),
        (std::vector<std::string>{appender->FormatLogMessage(*first), appender->FormatLogMessage(*second)}));
}

TEST_F(StreamSenderTest, SendsTheRfc5424LayoutWhenAskedTo)
{
    TcpCollector collector;
    auto appender = MakeAppender(collector.Port(), [](Config& config) { config.format = Format::Rfc5424; });

    appender->Log(MakeMessage("structured", Severity::Error, "Net"));
    RunUntilIdle();

    const auto records = collector.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].rfind("<131>1 2024-03-05T14:07:09.123456Z ", 0), 0u) << records[0];
    EXPECT_NE(records[0].find(" " + std::to_string(getpid()) +
                              R"( Net [ozr@32473 file="main.src" line="42" tid="0x0000000000000A7C"] )"
                              "\xEF\xBB\xBFstructured"),
              std::string::npos)
        << records[0];
}

// Nothing is left running once the collector has acknowledged everything: the flush is released and the
// context runs out of work.
TEST_F(StreamSenderTest, AFlushIsReleasedOnceTheCollectorHasAcknowledgedTheRecords)
{
    TcpCollector collector;
    auto appender = MakeAppender(collector.Port());
    bool flushed = false;

    for (int number = 0; number < 10; ++number)
    {
        appender->Log(MakeMessage("before the flush"));
    }
    appender->Flush(FlushToken(flushed));
    const auto start = Clock::now();
    RunUntilIdle();

    EXPECT_TRUE(flushed);
    EXPECT_LT(SecondsSince(start), 1.5) << "the flush waited for its bound, not for the acknowledgement";
    EXPECT_EQ(collector.WaitForRecords(10).size(), 10u);
}

TEST_F(StreamSenderTest, KeepsRecordsWhileNobodyListensAndDeliversThemInOrderOnceTheCollectorIsBack)
{
    TcpCollector collector;
    const std::uint16_t port = collector.Port();
    collector.Stop();
    auto appender = MakeAppender(port);

    for (int number = 0; number < 5; ++number)
    {
        appender->Log(MakeMessage(std::to_string(number)));
    }
    ioContext.run_for(std::chrono::milliseconds(300));  // refused: tried again after 100, 200 ms
    ASSERT_TRUE(collector.Restart()) << "port " << port << " was taken meanwhile";
    ASSERT_TRUE(RunUntil([&] { return collector.Records().size() >= 5; }, std::chrono::seconds(10)));

    std::vector<std::string> texts;
    for (const auto& record : collector.Records())
    {
        texts.push_back(TextOf(record));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
}

// The collector stops reading, so that what is written goes unacknowledged, and is killed; what it had
// not acknowledged is written again on the next connection, in order, and so is what its kernel had
// taken and acknowledged but it never read (TCP acknowledges receipt, not processing): nothing is lost.
TEST_F(StreamSenderTest, WritesAgainWhatTheKilledCollectorLeftUnacknowledgedOrUnread)
{
    TcpCollector collector;
    const LoggingStatistics before = GetLoggingStatistics();
    auto appender = MakeAppender(collector.Port());
    const std::string padding(900, 'x');  // the record stays within 1024 bytes
    int number = 0;
    const auto logUpTo = [&](int end)
    {
        for (; number < end; ++number)
        {
            appender->Log(MakeMessage(std::to_string(number) + " " + padding));
        }
    };

    logUpTo(3);
    ASSERT_TRUE(RunUntil([&] { return collector.Records().size() == 3; }, std::chrono::seconds(10)));
    collector.Pause();
    logUpTo(300);
    ioContext.restart();
    ioContext.run_for(std::chrono::milliseconds(200));
    // A flush waits, and meanwhile the acknowledgements are read: the collector's kernel has taken a few
    // records it will never read.
    bool waited = false;
    appender->Flush(FlushToken(waited));
    ioContext.restart();
    ioContext.run_for(std::chrono::milliseconds(200));
    collector.Abort();
    logUpTo(305);
    ioContext.restart();
    ioContext.run_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(collector.Restart());
    ASSERT_TRUE(RunUntil(
        [&]
        { return !collector.Records().empty() && TextOf(collector.Records().back()).rfind("304 ", 0) == 0; },
        std::chrono::seconds(20)));
    bool flushed = false;
    appender->Flush(FlushToken(flushed));  // the last acknowledgements are awaited
    ASSERT_TRUE(RunUntil([&] { return flushed; }, std::chrono::seconds(5)));

    // Every number at least once. A record the collector read but whose acknowledgement had not come
    // back, or one its kernel may still have held, arrives twice; duplicates are no more than the records
    // written again.
    std::vector<int> numbers;
    for (const auto& record : collector.Records())
    {
        numbers.push_back(std::stoi(TextOf(record)));
    }
    std::vector<int> distinct = numbers;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<int> all(305);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(distinct, all);
    EXPECT_LE(numbers.size() - distinct.size(),
              GetLoggingStatistics().syslogRecordsResent - before.syslogRecordsResent);
    EXPECT_GT(GetLoggingStatistics().syslogRecordsResent - before.syslogRecordsResent, 0u);
    EXPECT_EQ(GetLoggingStatistics().syslogDatagramsSent - before.syslogDatagramsSent, 305u)
        << "resent " << GetLoggingStatistics().syslogRecordsResent - before.syslogRecordsResent << " dropped "
        << GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped << " flushed "
        << flushed << " records " << numbers.size() << " conns " << collector.Connections();
    EXPECT_GE(collector.Connections(), 2u);
}

TEST_F(StreamSenderTest, KeepsTheNewestRecordsWhenTheBufferIsFull)
{
    TcpCollector collector;
    const std::uint16_t port = collector.Port();
    collector.Stop();
    const LoggingStatistics before = GetLoggingStatistics();
    auto appender = MakeAppender(port, [](Config& config) { config.bufferMessages = 10; });

    for (int number = 0; number < 15; ++number)
    {
        appender->Log(MakeMessage(std::to_string(number)));
    }
    ioContext.run_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(collector.Restart());
    ASSERT_TRUE(RunUntil([&] { return collector.Records().size() >= 10; }, std::chrono::seconds(10)));

    std::vector<std::string> texts;
    for (const auto& record : collector.Records())
    {
        texts.push_back(TextOf(record));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"5", "6", "7", "8", "9", "10", "11", "12", "13", "14"}));
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 5u);
}

TEST_F(StreamSenderTest, AFlushWaitsForAnAbsentCollectorOnlyForItsBound)
{
    TcpCollector collector;
    const std::uint16_t port = collector.Port();
    collector.Stop();
    auto appender = MakeAppender(port);
    bool flushed = false;

    appender->Log(MakeMessage("waits"));
    appender->Flush(FlushToken(flushed));
    const auto start = Clock::now();
    ASSERT_TRUE(RunUntil([&] { return flushed; }, std::chrono::seconds(10)));

    EXPECT_GT(SecondsSince(start), 1.5);
    EXPECT_LT(SecondsSince(start), 3.0);
}

// After Close what still waits has two seconds; then it is dropped, counted, and no work is left, so
// that the drain of the last shutdown ends.
TEST_F(StreamSenderTest, CloseDropsWhatTheAbsentCollectorHasNotTakenWithinTheBound)
{
    TcpCollector collector;
    const std::uint16_t port = collector.Port();
    collector.Stop();
    const LoggingStatistics before = GetLoggingStatistics();
    auto appender = MakeAppender(port);

    for (int number = 0; number < 3; ++number)
    {
        appender->Log(MakeMessage("never delivered"));
    }
    ioContext.run_for(std::chrono::milliseconds(50));
    appender->Close();
    const auto start = Clock::now();
    RunUntilIdle();

    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 3u);
    appender->Log(MakeMessage("after the bound"));
    RunUntilIdle();
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 4u);
}

TEST_F(StreamSenderTest, CloseWithEverythingAcknowledgedLeavesNoWork)
{
    TcpCollector collector;
    auto appender = MakeAppender(collector.Port());
    appender->Log(MakeMessage("acknowledged"));
    RunUntilIdle();

    appender->Close();
    const auto start = Clock::now();
    RunUntilIdle();

    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(collector.WaitForRecords(1).size(), 1u);
}

TEST_F(StreamSenderTest, AnUnknownTransportForwardsNothingAndCountsEveryMessage)
{
    ozr::testing::UdpCollector udp;
    const LoggingStatistics before = GetLoggingStatistics();
    Config config{"127.0.0.1", udp.Port()};
    config.forwarding = false;
    auto appender = std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, config);

    appender->Log(MakeMessage("not sent"));
    RunUntilIdle();

    EXPECT_FALSE(udp.Receive(200));
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 1u);
}

// A collector under TLS with the certificate of the test authority.
class TlsTest : public StreamSenderTest
{
protected:
    TlsTest()
    {
        SSL_CTX_use_certificate_chain_file(serverContext.get(),
                                           (std::string(OZR_TLS_TEST_DIR) + "/server.pem").c_str());
        SSL_CTX_use_PrivateKey_file(
            serverContext.get(), (std::string(OZR_TLS_TEST_DIR) + "/server.key").c_str(), SSL_FILETYPE_PEM);
    }

    std::shared_ptr<appender::syslog::Appender> MakeTlsAppender(const std::function<void(Config&)>& adjust)
    {
        return MakeAppender(collector.Port(),
                            [&](Config& config)
                            {
                                config.transport = Transport::Tls;
                                config.caFile = std::string(OZR_TLS_TEST_DIR) + "/ca.pem";
                                adjust(config);
                            });
    }

    // Runs the appender for a while: long enough to connect, to fail the handshake and to try again.
    void RunForAWhile()
    {
        ioContext.restart();
        ioContext.run_for(std::chrono::milliseconds(400));
    }

    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> serverContext{SSL_CTX_new(TLS_server_method()),
                                                                          &SSL_CTX_free};
    TcpCollector collector{0, serverContext.get()};
};

TEST_F(TlsTest, DeliversToACollectorWhoseCertificateCarriesItsAddress)
{
    auto appender = MakeTlsAppender([](Config&) {});
    bool flushed = false;
    std::vector<std::string> expected;

    for (int number = 0; number < 20; ++number)
    {
        const auto message = MakeMessage("secret " + std::to_string(number));
        expected.push_back(appender->FormatLogMessage(*message));
        appender->Log(message);
    }
    appender->Flush(FlushToken(flushed));
    const auto start = Clock::now();
    RunUntilIdle();

    EXPECT_TRUE(flushed);
    EXPECT_LT(SecondsSince(start), 1.5) << "the flush waited for its bound, not for the acknowledgement";
    EXPECT_EQ(collector.WaitForRecords(20), expected);
}

TEST_F(TlsTest, VerifiesTheServerNameGivenInsteadOfTheAddress)
{
    auto appender = MakeTlsAppender([](Config& config) { config.serverName = "collector.test"; });
    const auto message = MakeMessage("named");

    appender->Log(message);
    RunUntilIdle();

    EXPECT_EQ(collector.WaitForRecords(1), std::vector<std::string>{appender->FormatLogMessage(*message)});
}

// "localhost" may give ::1 first, where nobody listens: the next address is tried, and the name itself
// is what the certificate must carry.
TEST_F(TlsTest, TriesTheAddressesOfANameInTurnAndVerifiesTheName)
{
    Config config{"localhost", collector.Port()};
    config.transport = Transport::Tls;
    config.caFile = std::string(OZR_TLS_TEST_DIR) + "/ca.pem";
    auto appender = std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, config);
    const auto message = MakeMessage("by name");

    appender->Log(message);
    RunUntilIdle();

    EXPECT_EQ(collector.WaitForRecords(1), std::vector<std::string>{appender->FormatLogMessage(*message)});
}

TEST_F(TlsTest, SendsNothingToACollectorWhoseCertificateNamesAnotherServer)
{
    auto appender = MakeTlsAppender([](Config& config) { config.serverName = "elsewhere.test"; });

    appender->Log(MakeMessage("not for elsewhere"));
    RunForAWhile();

    EXPECT_GE(collector.Connections(), 1u);
    EXPECT_TRUE(collector.Records().empty());
}

TEST_F(TlsTest, SendsNothingToACollectorThatTheTrustedAuthorityDidNotCertify)
{
    auto appender = MakeTlsAppender([](Config& config)
                                    { config.caFile = std::string(OZR_TLS_TEST_DIR) + "/other-ca.pem"; });

    appender->Log(MakeMessage("not for a stranger"));
    RunForAWhile();

    EXPECT_GE(collector.Connections(), 1u);
    EXPECT_TRUE(collector.Records().empty());
}

// Never clear text instead: no connection at all, and every message counted as dropped.
TEST_F(TlsTest, AMissingOrUnreadableFileLeavesForwardingOff)
{
    const std::vector<std::function<void(Config&)>> settings = {
        [](Config& config) { config.caFile = "/nonexistent/ca.pem"; },
        [](Config& config) { config.certFile = "/nonexistent/client.pem"; },
        [](Config& config)
        {
            config.certFile = std::string(OZR_TLS_TEST_DIR) + "/server.pem";
            config.keyFile = "/nonexistent/client.key";
        },
        [](Config& config) { config.keyFile = std::string(OZR_TLS_TEST_DIR) + "/server.key"; },
        [](Config& config) { config.caFile = std::string(OZR_TLS_TEST_DIR); },  // a directory
    };
    for (std::size_t index = 0; index < settings.size(); ++index)
    {
        const LoggingStatistics before = GetLoggingStatistics();
        auto appender = MakeTlsAppender(settings[index]);

        appender->Log(MakeMessage("dropped"));
        RunForAWhile();

        EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 1u) << index;
    }
    EXPECT_EQ(collector.Connections(), 0u);
}

}  // namespace
