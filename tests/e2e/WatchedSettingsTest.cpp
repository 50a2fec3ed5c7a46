// A zone whose settings file holds WatchSettings=1 follows changes of its LogLevel made by other
// processes while it runs; other zones read their level once.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "RunProgram.h"
#include "Scenario.h"
#include "ozr/logging/LoggerManager.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadFile;
using ozr::testing::ReadLines;
using ozr::testing::RunChild;
using ozr::testing::RunProgram;
using ozr::testing::StdoutCapture;
using ozr::testing::Texts;

using WatchedSettingsTest = ozr::testing::Scenario;

Severity VerbosityOf(const char* zone)
{
    return GetLoggerManager().GetLogger(zone)->GetVerbosity();
}

// Changes are applied within a second; the generous wait only keeps a busy machine from failing the test.
bool VerbosityBecomes(const char* zone, Severity expected)
{
    return ozr::testing::WaitUntil([zone, expected] { return VerbosityOf(zone) == expected; },
                                   std::chrono::seconds(20), std::chrono::milliseconds(10));
}

TEST_F(WatchedSettingsTest, LevelsChangedByOtherProcessesApplyLiveOnlyWhereWatched)
{
    const auto netFile = config / "Net.Logging.ini";
    WriteZoneSettings("Net", "[OZRLogging]\n; follow changes\nWatchSettings=1\nLogLevel=Warning\n");
    WriteZoneSettings("Fixed", "[OZRLogging]\nLogLevel=Warning\n");

    // A watching zone keeps no process from ending, shut down or not, and its queue is still written.
    EXPECT_TRUE(RunChild(
        []
        {
            std::freopen("/dev/null", "w", stdout);
            InitialiseLogging("Net");
            ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "child");
        }));

    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    InitialiseLogging("Fixed");

    // Replaced by rename, by the tool.
    const std::string tool = OZR_LOGLEVEL_TOOL;
    EXPECT_EQ(RunProgram(tool, {"--config-dir", config.string(), "Fixed", "Error"}, root.Path()).exitCode, 0);
    EXPECT_EQ(RunProgram(tool, {"--config-dir", config.string(), "Net", "Info"}, root.Path()).exitCode, 0);
    EXPECT_TRUE(VerbosityBecomes("Net", Severity::Info));
    EXPECT_EQ(VerbosityOf("Fixed"), Severity::Warning) << "read once";

    // Edited in place by another process.
    const std::string edited = "[OZRLogging]\nWatchSettings=1\nLogLevel=Trace\n";
    EXPECT_TRUE(RunChild([&] { std::ofstream(netFile, std::ios::trunc) << edited; }));
    EXPECT_TRUE(VerbosityBecomes("Net", Severity::Trace));
    ToLog("Net", Severity::Trace, __FILE__, __LINE__, 1, "traced");
    EXPECT_EQ(ReadFile(netFile), edited) << "never written back";

    // The settings directory replaced by a new one, which the tool then writes.
    std::filesystem::rename(config, root / "config.old");
    std::filesystem::create_directory(config);
    EXPECT_EQ(RunProgram(tool, {"--config-dir", config.string(), "Net", "Message"}, root.Path()).exitCode, 0);
    EXPECT_TRUE(VerbosityBecomes("Net", Severity::Message));

    ShutdownLogging("Fixed");
    ShutdownLogging("Net");
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), (std::vector<std::string>{"child", "traced"}));
}

}  // namespace
