// Starting, stopping and restarting the worker through the entry points.

#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <numeric>
#include <thread>

#include <gmock/gmock.h>

#include "Scenario.h"
#include "UdpCollector.h"
#include "ozr/config/Ini.h"
#include "ozr/logging/DateTimeProvider.h"
#include "ozr/logging/LoggerManager.h"
#include "ozr/logging/MessageBuilder.h"

// Name lookups of this host take half a second, then find the loopback address; every other lookup goes
// to the C library. Visible outside the executable, so it replaces the C library's for the logging
// library too.
constexpr char g_slowHost[] = "slow.invalid";

extern "C" __attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service,
                                                                  const addrinfo* hints, addrinfo** result)
{
    using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node != nullptr && std::strcmp(node, g_slowHost) == 0)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return real("127.0.0.1", service, hints, result);
    }
    return real(node, service, hints, result);
}

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadLines;
using ozr::testing::StdoutCapture;
using ozr::testing::Texts;
using ozr::testing::ThreadCount;
using ozr::testing::ThreadCountAfterAThreadCameAndWent;
using ozr::testing::ThreadCountOnceSettledAt;
using ozr::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using LifecycleTest = ozr::testing::Scenario;

TEST_F(LifecycleTest, MessagesLoggedBeforeTheFirstInitialiseAreWrittenOnceAWorkerRuns)
{
    StdoutCapture capture(root / "stdout.txt");
    ToLog("Early", Severity::Error, __FILE__, __LINE__, 1, "queued without a worker");
    EXPECT_FALSE(std::filesystem::exists(LogFile("Early")));

    InitialiseLogging("Net");
    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "net line");
    ShutdownLogging("Net");  // "Early" was used, so it still counts as active: nothing stops yet
    ToLog("Early", Severity::Error, __FILE__, __LINE__, 1, "after net shut down");
    ShutdownLogging("Early");

    EXPECT_THAT(Texts(ReadLines(LogFile("Early"))),
                ElementsAre("queued without a worker", "after net shut down"));
    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("net line"));
    // "Early" was made before the global appenders were loaded: it writes to its file only.
    EXPECT_THAT(Texts(capture.Lines()), ElementsAre("net line"));
}

// With no worker yet, nothing drains the queue: at its bound verbose calls are dropped and counted,
// while errors logged during the overload still find room in the reserve; all that was queued is written
// once a worker runs.
TEST_F(LifecycleTest, AQueueAtItsBoundDropsVerboseCallsAndKeepsRoomForErrors)
{
    SetLoggingQueueLimit(256 * 1024);
    SetLoggingVerbosity(Severity::Trace, "Busy");
    const std::string filler(900, 'f');
    for (int number = 0; number < 2000; ++number)  // about 2 MiB, far beyond the bound
    {
        ToLog("Busy", Severity::Info, __FILE__, __LINE__, 1, "info %d %s", number, filler.c_str());
    }
    for (int number = 0; number < 20; ++number)
    {
        ToLog("Busy", Severity::Error, __FILE__, __LINE__, 1, "error %d", number);
    }
    const LoggingStatistics overloaded = GetLoggingStatistics();
    InitialiseLogging("Busy");
    ShutdownLogging("Busy");

    const std::vector<std::string> texts = Texts(ReadLines(LogFile("Busy")));
    EXPECT_GT(overloaded.queueDropped, 1500U);
    EXPECT_EQ(texts.size() + overloaded.queueDropped, 2020U) << "every call is written or counted";
    ASSERT_GE(texts.size(), 20U);
    for (int number = 0; number < 20; ++number)
    {
        EXPECT_EQ(texts[texts.size() - 20 + number], "error " + std::to_string(number));
    }
    EXPECT_EQ(GetLoggingStatistics().queueDropped, overloaded.queueDropped);
}

TEST_F(LifecycleTest, OneWorkerRunsWhileAnyZoneIsActiveAndNoneAfterwards)
{
    const std::size_t before = ThreadCountAfterAThreadCameAndWent();
    InitialiseLogging("Net");
    EXPECT_EQ(ThreadCount(), before + 1);
    InitialiseLogging("Disk");
    InitialiseLogging("Net");
    EXPECT_EQ(ThreadCount(), before + 1);

    ShutdownLogging("Unknown");
    ShutdownLogging("Net");
    EXPECT_EQ(ThreadCount(), before + 1);
    ShutdownLogging("Disk");
    EXPECT_EQ(ThreadCountOnceSettledAt(before), before);
    ShutdownLogging("Disk");  // no longer registered: nothing happens
    EXPECT_EQ(ThreadCount(), before);
}

// Initialisation and shutdown are not counted: a zone initialised again after its shutdown is active
// again, so the shutdown of the other zone does not stop the worker.
TEST_F(LifecycleTest, AZoneInitialisedAgainAfterItsShutdownIsActive)
{
    const std::size_t before = ThreadCountAfterAThreadCameAndWent();
    InitialiseLogging("A");
    InitialiseLogging("B");
    ShutdownLogging("A");
    InitialiseLogging("A");
    ShutdownLogging("B");
    EXPECT_EQ(ThreadCount(), before + 1);
    ToLog("A", Severity::Error, __FILE__, __LINE__, 1, "after the other zone's shutdown");
    ShutdownLogging("A");
    EXPECT_EQ(ThreadCountOnceSettledAt(before), before);
    EXPECT_THAT(Texts(ReadLines(LogFile("A"))), ElementsAre("after the other zone's shutdown"));
}

// The last ShutdownLogging drains a queue stuck behind a standard output that nobody reads. Log calls on
// another thread meanwhile, rejected and accepted, return without waiting for the drain (the pipe is
// read only once they have returned), and every accepted message is written exactly once: by the drain,
// or by the next start.
TEST_F(LifecycleTest, LogCallsDoNotWaitForTheLastShutdownsDrain)
{
    constexpr int Queued = 20000;  // far more than a pipe holds
    constexpr int During = 200;
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[1]);

    InitialiseLogging("Net");
    for (int number = 0; number < Queued; ++number)
    {
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "queued %d", number);
    }
    std::thread shutdown([] { ShutdownLogging("Net"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the shutdown is draining by now
    std::promise<void> returned;
    std::thread caller(
        [&returned]
        {
            for (int number = 0; number < During; ++number)
            {
                ToLog("Net", Severity::Trace, __FILE__, __LINE__, 2, "rejected %d", number);
                ToLog("Net", Severity::Error, __FILE__, __LINE__, 2, "during %d", number);
            }
            returned.set_value();
        });
    // Reported once standard output is read again: a failure report goes there too.
    const bool waited = returned.get_future().wait_for(std::chrono::seconds(30)) != std::future_status::ready;

    std::thread reader(
        [fd = pipeEnds[0]]
        {
            char buffer[65536];
            while (read(fd, buffer, sizeof buffer) > 0)
            {
            }
        });
    shutdown.join();
    caller.join();
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    reader.join();
    close(pipeEnds[0]);
    EXPECT_FALSE(waited) << "log calls waited for the drain";
    InitialiseLogging("Net");  // a start delivers what the drain did not
    ShutdownLogging("Net");

    std::map<std::string, int> counts;
    std::vector<int> duringOrder;
    for (const auto& text : Texts(ReadLines(LogFile("Net"))))
    {
        ++counts[text];
        int number = 0;
        if (std::sscanf(text.c_str(), "during %d", &number) == 1)
        {
            duringOrder.push_back(number);
        }
    }
    EXPECT_EQ(counts.size(), std::size_t{Queued + During});
    for (int number = 0; number < Queued; ++number)
    {
        EXPECT_EQ(counts["queued " + std::to_string(number)], 1) << number;
    }
    std::vector<int> expectedOrder(During);
    std::iota(expectedOrder.begin(), expectedOrder.end(), 0);
    EXPECT_EQ(duringOrder, expectedOrder);
}

TEST_F(LifecycleTest, RestartsAfterAFullShutdownAndDeliversWhatWasQueuedMeanwhile)
{
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    // Kept past the shutdown: this thread's log calls must still reach the zone's new logger, not this
    // one, which the thread logged to last.
    const auto firstRunLogger = GetLoggerManager().GetLogger("Net");
    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "first run");
    ShutdownLogging("Net");
    WriteZoneSettings("Net", "[OZRLogging]\nLogLevel=Trace\n");  // read by the zone's next logger
    ToLog("Net", Severity::Trace, __FILE__, __LINE__, 1, "while stopped");
    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("first run"));

    InitialiseLogging("Net");
    ToLog("Net", Severity::Trace, __FILE__, __LINE__, 1, "second run");
    ShutdownLogging("Net");

    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("first run", "while stopped", "second run"));
    // The logger made while stopped has its file appender only; the new run's console is for new loggers.
    EXPECT_THAT(Texts(capture.Lines()), ElementsAre("first run"));

    // One thread's lines keep their order while another thread restarts the worker under it again and
    // again: the zone's loggers of successive runs deliver one after the other. Lines beyond the queue's
    // bound, kept small so that each drain is short, may be dropped.
    SetLoggingQueueLimit(64 << 10);
    StdoutCapture restarts(root / "restarts.txt");
    std::atomic<bool> stop{false};
    std::thread caller(
        [&stop]
        {
            for (int number = 0; !stop; ++number)
            {
                ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "numbered %d", number);
            }
        });
    for (int round = 0; round < 200; ++round)
    {
        InitialiseLogging("Net");
        ShutdownLogging("Net");
    }
    stop = true;
    caller.join();
    InitialiseLogging("Net");
    ShutdownLogging("Net");
    int previous = -1;
    int outOfOrder = 0;
    for (const auto& text : Texts(ReadLines(LogFile("Net"))))
    {
        int number = 0;
        if (std::sscanf(text.c_str(), "numbered %d", &number) == 1)
        {
            outOfOrder += number <= previous ? 1 : 0;
            previous = number;
        }
    }
    EXPECT_GT(previous, 0);
    EXPECT_EQ(outOfOrder, 0);
}

// Whichever of the two names the zone first. Zone names that would reach outside the log or settings
// directory write nowhere: their lines are dropped and counted, their level stays in memory.
TEST_F(LifecycleTest, ANullAndAnEmptyZoneAreTheSameDefaultZoneAndNoZoneNameLeavesItsDirectory)
{
    InitialiseLogging("");
    SetLoggingVerbosity(Severity::Trace, nullptr);
    ToLog(nullptr, Severity::Trace, __FILE__, __LINE__, 1, "null zone");
    ToLog("", Severity::Trace, __FILE__, __LINE__, 1, "empty zone");
    const std::size_t running = ThreadCount();
    ShutdownLogging("");
    EXPECT_EQ(ThreadCountOnceSettledAt(running - 1), running - 1);

    // The default zone's files are named after the application.
    std::vector<std::string> texts;
    for (const auto& entry : std::filesystem::directory_iterator(logs))
    {
        EXPECT_THAT(entry.path().filename().string(), ::testing::StartsWith("e2e_LifecycleTest"));
        texts = Texts(ReadLines(entry.path()));
    }
    EXPECT_THAT(texts, ElementsAre("null zone", "empty zone"));
    EXPECT_EQ(ozr::config::ini::ReadString(std::string("OZRLogging"), "LogLevel", "",
                                           (config / "e2e_LifecycleTest.Logging.ini").string()),
              "Trace");

    const std::uint64_t droppedBefore = GetLoggingStatistics().fileLinesDropped;
    for (const char* zone : {"../Up", "Down/Under", "..Dots"})
    {
        InitialiseLogging(zone);
        SetLoggingVerbosity(Severity::Trace, zone);
        ToLog(zone, Severity::Trace, __FILE__, __LINE__, 1, "nowhere");
        ShutdownLogging(zone);
    }
    EXPECT_EQ(GetLoggingStatistics().fileLinesDropped - droppedBefore, 3U);
    std::vector<std::string> everything;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root.Path()))
    {
        everything.push_back(std::filesystem::relative(entry.path(), root.Path()).string());
    }
    EXPECT_THAT(everything, ::testing::UnorderedElementsAre("config", "config/e2e_LifecycleTest.Logging.ini",
                                                            "config/e2e_LifecycleTest.Logging.ini.lock",
                                                            "logs", "logs/e2e_LifecycleTest.00.txt"));
}

TEST_F(LifecycleTest, ShuttingDownAZoneThatWasNeverUsedChangesNothing)
{
    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "queued");
    ShutdownLogging("Other");
    InitialiseLogging("Other");
    ShutdownLogging("Other");  // "Net" is still active
    ShutdownLogging("Net");
    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("queued"));
    EXPECT_THAT(ReadLines(LogFile("Other")), IsEmpty());
}

// A log call that holds its zone's logger while another thread shuts the last zone down queues its message
// on the stopped context. After a restart that task is the logger's last owner, and the logger the old
// syslog appender's: both go when the task ends, while the appender's name lookup is still outstanding.
// The lookup's completion must not reach the destroyed appender (AddressSanitizer reports it otherwise).
TEST_F(LifecycleTest, AMessageQueuedAcrossAFullShutdownOutlivesNoAppenderItStarted)
{
    WriteFile(config / "syslog.ini", "[Syslog]\nAddress=127.0.0.1\nPort=9\n");
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("A");
    std::shared_ptr<ILogger> logger = GetLoggerManager().GetLogger("A");  // as ToLog holds it
    ShutdownLogging("A");                                                 // the full shutdown
    const DateTimeProvider clock;
    const MessageBuilder builder(clock);
    logger->Log(builder.BuildMessage("A", Severity::Error, __FILE__, __LINE__, 1, "queued across shutdown"));
    logger.reset();  // the log call returns
    InitialiseLogging("B");
    ShutdownLogging("B");
    EXPECT_THAT(Texts(ReadLines(LogFile("A"))), ElementsAre("queued across shutdown"));
}

// A zone text freed once its ShutdownLogging returned, while another zone keeps the worker running: the
// records still queued (they wait for the collector's slow name lookup) carry the zone's name to the
// syslog appender, not the freed text.
TEST_F(LifecycleTest, AZoneTextFreedAfterItsShutdownIsNotReadByRecordsStillQueued)
{
    ozr::testing::UdpCollector collector;
    ASSERT_TRUE(collector.IsOpen());
    WriteFile(config / "syslog.ini", "[Syslog]\nAddress=" + std::string(g_slowHost) +
                                         "\nPort=" + std::to_string(collector.Port()) + "\n");
    InitialiseLogging("Keep");
    char* zone = strdup("Temporary");
    InitialiseLogging(zone);
    for (int number = 0; number < 50; ++number)
    {
        ToLog(zone, Severity::Error, __FILE__, __LINE__, 1, "temporary %d", number);
    }
    ShutdownLogging(zone);
    std::memset(zone, 'X', std::strlen(zone));
    free(zone);
    ShutdownLogging("Keep");

    const std::vector<std::string> datagrams = collector.ReceiveUpTo(50);
    EXPECT_EQ(datagrams.size(), 50U);
    for (const auto& datagram : datagrams)
    {
        EXPECT_THAT(datagram, ::testing::HasSubstr(" Temporary: "));
    }
}

}  // namespace
