// Records through the entry points to a syslog collector on TCP that the test owns: a collector stopped
// and started again, one that is absent, a name server that never answers, and the RFC 5424 layout.

#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "MessageFactory.h"
#include "Scenario.h"
#include "TcpCollector.h"
#include "UdpCollector.h"
#include "ozr/logging/LoggerManager.h"

// Name lookups of this host do not answer for a minute; every other lookup goes to the C library. This
// definition, visible outside the executable, replaces the C library's for the logging library too.
constexpr char g_hangingHost[] = "hangs.invalid";

extern "C" __attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service,
                                                                  const addrinfo* hints, addrinfo** result)
{
    if (node != nullptr && std::strcmp(node, g_hangingHost) == 0)
    {
        std::this_thread::sleep_for(std::chrono::minutes(1));
        return EAI_NONAME;
    }
    using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, result);
}

namespace
{

using namespace ozr::logging;
using ozr::testing::TcpCollector;
using ::testing::StartsWith;

double SecondsTaken(const std::function<void()>& call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class SyslogStreamTest : public ozr::testing::Scenario
{
protected:
    static void Log(const std::string& text)
    {
        ToLog("Net", Severity::Error, "/src/Link.cpp", 7, 0x2A, "%s", text.c_str());
    }

    static std::vector<std::string> TextsOf(const std::vector<std::string>& records)
    {
        std::vector<std::string> texts;
        for (const auto& record : records)
        {
            texts.push_back(record.substr(record.rfind(") ") + 2));
        }
        return texts;
    }
};

// Records logged while the collector is down wait in the buffer and arrive, after those before, once it
// is back; none is lost or written twice, and the last shutdown does not wait for the bound.
TEST_F(SyslogStreamTest, RecordsOverTcpWhileTheCollectorIsStoppedAndRestartedArriveOnceAndInOrder)
{
    TcpCollector collector;
    ASSERT_TRUE(collector.IsListening());
    WriteSyslogSettings("127.0.0.1", collector.Port(), "Transport=TCP\n");
    ozr::testing::StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    std::vector<std::string> expected;
    int number = 0;
    const auto logSome = [&](const char* phase)
    {
        for (int each = 0; each < 5; ++each, ++number)
        {
            expected.push_back(std::string(phase) + " " + std::to_string(number));
            Log(expected.back());
        }
    };

    logSome("before");
    EXPECT_LT(SecondsTaken(FlushLogging), 1.5) << "the flush waits for the acknowledgement, not its bound";
    EXPECT_EQ(collector.WaitForRecords(5).size(), 5u);  // acknowledged by its kernel, maybe not yet read
    collector.Stop();
    logSome("stopped");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(collector.Restart()) << "the port was taken meanwhile";
    logSome("restarted");
    const auto records = collector.WaitForRecords(15);
    EXPECT_LT(SecondsTaken([] { ShutdownLogging("Net"); }), 1.5);

    EXPECT_EQ(TextsOf(records), expected);
    EXPECT_THAT(records.front(), StartsWith("<131>"));
    EXPECT_EQ(collector.Connections(), 2u);
}

// Nobody listens: flush waits its bound, and the last shutdown and the exit drop what still waits after
// theirs, counted.
TEST_F(SyslogStreamTest, AnAbsentCollectorHoldsUpFlushShutdownAndExitOnlyForTheBound)
{
    std::uint16_t port = 0;
    {
        TcpCollector listener;
        port = listener.Port();
    }
    WriteSyslogSettings("127.0.0.1", port, "Transport=TCP\n");
    ozr::testing::StdoutCapture capture(root / "stdout.txt");
    const pid_t child = fork();
    if (child == 0)
    {
        InitialiseLogging("Exit");
        ToLog("Exit", Severity::Error, __FILE__, __LINE__, 1, "%s", "waits for the collector at exit");
        std::exit(0);
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ozr::testing::ExitedNormally(ozr::testing::WaitForChild(child, std::chrono::seconds(10))));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 4.0);

    // A manager that the application makes and destroys itself.
    EXPECT_TRUE(ozr::testing::RunChild(
        [this]
        {
            LoggerManager manager;
            manager.SetConfigDirectoryPath(config);
            manager.InitialiseLogger("Own");
            manager.GetLogger("Own")->Log(
                ozr::testing::MakeMessage("waits for the collector", Severity::Error, "Own"));
        },
        std::chrono::seconds(10)));

    InitialiseLogging("Net");
    const LoggingStatistics before = GetLoggingStatistics();
    Log("waits for the collector");
    const double flushSeconds = SecondsTaken(FlushLogging);
    EXPECT_GT(flushSeconds, 1.5);
    EXPECT_LT(flushSeconds, 4.0);
    Log("waits too");
    EXPECT_LT(SecondsTaken([] { ShutdownLogging("Net"); }), 4.0);

    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 2u);
}

TEST_F(SyslogStreamTest, ANameServerThatNeverAnswersHoldsUpNeitherFlushNorShutdown)
{
    WriteSyslogSettings(g_hangingHost, 514, "Transport=TCP\n");
    ozr::testing::StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    const LoggingStatistics before = GetLoggingStatistics();

    Log("waits for the lookup");
    EXPECT_LT(SecondsTaken(FlushLogging), 4.0) << "the lookup hangs for a minute";
    Log("waits for the same lookup");
    EXPECT_LT(SecondsTaken([] { ShutdownLogging("Net"); }), 4.0);

    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 2u);
}

TEST_F(SyslogStreamTest, SendsTheRfc5424LayoutOverUdpWhenTheSettingsAskForIt)
{
    ozr::testing::UdpCollector collector;
    WriteSyslogSettings("127.0.0.1", collector.Port(), "Format=RFC5424\n");
    ozr::testing::StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    Log("structured");
    ShutdownLogging("Net");

    const auto datagram = collector.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_THAT(*datagram, StartsWith("<131>1 "));
    EXPECT_THAT(*datagram,
                ::testing::HasSubstr(" " + std::to_string(getpid()) +
                                     R"( Net [ozr@32473 file="Link.cpp" line="7" tid="0x000000000000002A"] )"
                                     "\xEF\xBB\xBFstructured"));
}

// A transport the settings do not name sends nothing rather than falling back to UDP.
TEST_F(SyslogStreamTest, AnUnknownTransportSendsNothing)
{
    ozr::testing::UdpCollector collector;
    WriteSyslogSettings("127.0.0.1", collector.Port(), "Transport=TSL\n");
    ozr::testing::StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    const LoggingStatistics before = GetLoggingStatistics();
    Log("not sent");
    ShutdownLogging("Net");

    EXPECT_FALSE(collector.Receive(200));
    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 1u);
}

}  // namespace
