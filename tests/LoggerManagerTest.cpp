#include "ozr/logging/LoggerManager.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MessageFactory.h"
#include "RegisteredLogger.h"
#include "TempDirectory.h"
#include "ozr/logging/appender/file/ConfigProvider.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadFile;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

class LoggerManagerTest : public ::testing::Test
{
protected:
    LoggerManagerTest()
    {
        appender::file::ConfigProvider::SetDefaultLogDirectory(root / "logs");
        manager.SetConfigDirectoryPath(root.Path());
    }

    TempDirectory root;
    LoggerManager manager;
};

TEST_F(LoggerManagerTest, HandsOutOneLoggerPerZoneWithNullAndEmptyAsTheDefaultZone)
{
    const auto net = manager.GetLogger("Net");
    const std::string sameName = "Net";
    EXPECT_EQ(manager.GetLogger(sameName.c_str()), net);
    EXPECT_NE(manager.GetLogger("Disk"), net);
    EXPECT_NE(manager.GetLogger("net"), net);
    const auto defaultZone = manager.GetLogger(nullptr);
    EXPECT_EQ(manager.GetLogger(""), defaultZone);
    EXPECT_NE(defaultZone, net);
}

TEST_F(LoggerManagerTest, AFullShutdownEmptiesTheRegistrySoSettingsAreReadAgain)
{
    manager.InitialiseLogger("Net");
    const auto before = manager.GetLogger("Net");
    EXPECT_EQ(before->GetVerbosity(), Severity::Warning);
    manager.ShutdownLogger("Net");
    EXPECT_TRUE(before->IsShutdown());

    WriteFile(root / "Net.Logging.ini", "[OZRLogging]\nLogLevel=Trace\n");
    const auto after = manager.GetLogger("Net");
    EXPECT_NE(after, before);
    EXPECT_EQ(after->GetVerbosity(), Severity::Trace);
    EXPECT_FALSE(after->IsShutdown());
}

TEST_F(LoggerManagerTest, ShuttingDownOneOfTwoZonesKeepsTheOtherRunning)
{
    manager.InitialiseLogger("Net");
    const auto disk = manager.GetLogger("Disk");  // used only, never initialised: still active
    manager.ShutdownLogger("Unknown");
    manager.ShutdownLogger("Net");
    EXPECT_EQ(manager.GetLogger("Disk"), disk);
    disk->Log(ozr::testing::MakeMessage("still running", Severity::Error, "Disk"));
    manager.ShutdownLogger("Disk");
    EXPECT_THAT(ReadFile(root / "logs" / "Disk.00.txt"), ::testing::EndsWith("still running\n"));
    EXPECT_NE(manager.GetLogger("Disk"), disk);
}

// A zone text may be freed once its zone is shut down, and its memory may come back holding another
// zone's name: the text at that address now names the other zone, also for a thread that logged to the
// first zone through the same address after the shutdown.
TEST_F(LoggerManagerTest, AZoneTextReusedAfterItsShutdownNamesTheNewZone)
{
    WriteFile(root / "B.Logging.ini", "[OZRLogging]\nLogLevel=Trace\n");
    manager.InitialiseLogger("Keep");
    char text[2] = "A";
    manager.InitialiseLogger(text);
    manager.ShutdownLogger(text);  // not the last: the worker keeps running
    EXPECT_EQ(manager.GetLoggerAccepting(text, Severity::Error), manager.GetLogger("A"));

    text[0] = 'B';
    EXPECT_EQ(manager.GetLoggerAccepting(text, Severity::Info), manager.GetLogger("B"));
    manager.ShutdownLogger("Keep");
}

// A misconfigured directory is reported to the caller, nothing is registered, and the next call tries
// again.
TEST_F(LoggerManagerTest, AZoneWhoseLogDirectoryCannotBeCreatedFailsUntilItCanBe)
{
    WriteFile(root / "blocker", "a file where a directory should be");
    WriteFile(root / "Net.Logging.ini",
              "[FileAppender]\nLogDirectory=" + (root / "blocker" / "logs").string());
    EXPECT_THROW(manager.InitialiseLogger("Net"), std::filesystem::filesystem_error);
    EXPECT_THROW(manager.GetLogger("Net"), std::filesystem::filesystem_error);

    std::filesystem::remove(root / "blocker");
    EXPECT_NO_THROW(manager.InitialiseLogger("Net"));
    manager.ShutdownLogger("Net");
    EXPECT_TRUE(std::filesystem::is_directory(root / "blocker" / "logs"));
}

// Log calls find their zone without a lock while other threads make zones, change verbosities, shut
// zones down and restart the worker. Run under ThreadSanitizer, this is the check that readers never
// see a half-made zone or a released logger, also while the zone table grows (40 zones make it grow
// three times). A verbosity change is seen by the changing thread's next call, and by the other
// threads, which count what they were allowed through.
TEST_F(LoggerManagerTest, LogCallsFindTheirZonesWhileZonesAreMadeAndShutDown)
{
    constexpr int ZoneCount = 40;
    std::vector<std::string> names;
    for (int zone = 0; zone < ZoneCount; ++zone)
    {
        names.push_back("Zone" + std::to_string(zone));
    }
    std::vector<const char*> zones;
    for (const auto& name : names)
    {
        zones.push_back(name.c_str());
    }
    std::atomic<bool> stop{false};
    std::atomic<long> accepted{0};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 4; ++caller)
    {
        callers.emplace_back(
            [&, caller]
            {
                for (long call = 0; !stop; ++call)
                {
                    const char* zone = zones[(call + caller) % ZoneCount];
                    const auto severity = call % 1024 == 0 ? Severity::Error : Severity::Trace;
                    if (const std::shared_ptr<ILogger> logger = manager.GetLoggerAccepting(zone, severity))
                    {
                        logger->Log(ozr::testing::MakeMessage("stress", severity, zone));
                        accepted.fetch_add(severity == Severity::Trace ? 1 : 0);
                        std::this_thread::sleep_for(std::chrono::microseconds(20));  // the worker keeps up
                    }
                }
            });
    }
    for (int round = 0; round < 10; ++round)
    {
        for (const char* zone : zones)
        {
            manager.InitialiseLogger(zone);
            manager.GetLogger(zone)->SetVerbosity(Severity::Trace);
            EXPECT_TRUE(manager.GetLoggerAccepting(zone, Severity::Trace)) << zone;
            manager.GetLogger(zone)->SetVerbosity(Severity::Error);
            EXPECT_FALSE(manager.GetLoggerAccepting(zone, Severity::Trace)) << zone;
            EXPECT_TRUE(manager.GetLoggerAccepting(zone, Severity::Error)) << zone;
        }
        manager.GetLogger(zones[0])->SetVerbosity(Severity::Trace);
        const long before = accepted.load();
        while (accepted.load() == before)
        {
            std::this_thread::yield();  // the other threads see the change
        }
        for (const char* zone : zones)
        {
            manager.ShutdownLogger(zone);
        }
    }
    stop = true;
    for (auto& caller : callers)
    {
        caller.join();
    }
}

TEST(LoggerManagerLifetimeTest, DestroyingARunningManagerWritesEverythingQueuedFirst)
{
    TempDirectory root;
    appender::file::ConfigProvider::SetDefaultLogDirectory(root / "logs");
    {
        LoggerManager manager;
        manager.SetConfigDirectoryPath(root.Path());
        manager.InitialiseLogger("Net");
        const auto logger = manager.GetLogger("Net");
        for (int number = 0; number < 500; ++number)
        {
            logger->Log(ozr::testing::MakeMessage("line " + std::to_string(number), Severity::Error, "Net"));
        }
    }
    const auto text = ReadFile(root / "logs" / "Net.00.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 500);
    EXPECT_THAT(text, ::testing::EndsWith("line 499\n"));
}

}  // namespace
