// Runs the built ostrel-loglevel as an operator would.

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RunProgram.h"
#include "TempDirectory.h"

namespace
{

using ozr::testing::ReadFile;
using ozr::testing::RunProgram;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;
using ::testing::HasSubstr;

class LogLevelToolTest : public ::testing::Test
{
protected:
    ozr::testing::ProgramResult Run(std::vector<std::string> arguments)
    {
        return RunProgram(OZR_LOGLEVEL_TOOL, arguments, scratch.Path());
    }

    TempDirectory scratch;
    TempDirectory config;
    const std::string configDir = config.Path().string();
    const std::filesystem::path netFile = config / "Net.Logging.ini";
};

TEST_F(LogLevelToolTest, PrintsAndSetsTheLevelKeepingCommentsAndExitsNonZeroOnErrors)
{
    EXPECT_EQ(Run({"--config-dir", configDir, "Net"}).out, "Warning\n") << "a missing file: the default";

    const std::string settings = "; Net's settings\n[OZRLogging]\n; the level\nLogLevel=Error\nLogQueue=1\n";
    WriteFile(netFile, settings);
    EXPECT_EQ(Run({"--config-dir", configDir, "Net"}).out, "Error\n");
    EXPECT_EQ(Run({"--config-dir", configDir, "Net", "tRaCe"}).exitCode, 0);
    EXPECT_EQ(ReadFile(netFile), "; Net's settings\n[OZRLogging]\n; the level\nLogLevel=Trace\nLogQueue=1\n");

    const auto unknown = Run({"--config-dir", configDir, "Net", "Debug"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_THAT(unknown.err, HasSubstr("unknown level 'Debug'"));
    EXPECT_THAT(ReadFile(netFile), HasSubstr("LogLevel=Trace")) << "unchanged";

    // A directory below a regular file cannot be made, not even by root.
    const auto unwritable = Run({"--config-dir", (netFile / "sub").string(), "Net", "Info"});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_THAT(unwritable.err, HasSubstr("cannot write"));
    std::filesystem::create_directory(config / "Dir.Logging.ini");
    EXPECT_EQ(Run({"--config-dir", configDir, "Dir"}).exitCode, 1) << "unreadable, not read as the default";

    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"--config-dir"}).exitCode, 2);
    EXPECT_EQ(Run({"Net", "Info", "extra"}).exitCode, 2);
    for (const std::string zone : {"../Net", "sub/Net", "Net..x"})
    {
        const auto outside = Run({"--config-dir", configDir, zone, "Info"});
        EXPECT_EQ(outside.exitCode, 2) << zone;
        EXPECT_THAT(outside.err, HasSubstr("cannot name a settings file")) << zone;
    }
    EXPECT_FALSE(std::filesystem::exists(config.Path().parent_path() / "Net.Logging.ini"));
    const auto help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("Usage: ostrel-loglevel [--config-dir DIR] ZONE [LEVEL]"));
}

}  // namespace
