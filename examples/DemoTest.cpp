#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "DemoOptions.h"
#include "DemoWorkspace.h"
#include "TempDirectory.h"

namespace ozr::demo
{
namespace
{

using ozr::testing::ReadFile;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

TEST(DemoOptionsTest, ParsesCollectorAddresses)
{
    const struct
    {
        const char* text;
        const char* host;
        std::uint16_t port;
    } cases[] = {
        {"127.0.0.1:5514", "127.0.0.1", 5514},
        {"localhost", "localhost", 514},
        {"[::1]:5514", "::1", 5514},
        {"[::1]", "::1", 514},
        {"::1", "::1", 514},
        {"collector.example:65535", "collector.example", 65535},
    };
    for (const auto& testCase : cases)
    {
        const auto collector = ParseCollector(testCase.text);
        EXPECT_EQ(collector.host, testCase.host) << testCase.text;
        EXPECT_EQ(collector.port, testCase.port) << testCase.text;
    }
}

TEST(DemoOptionsTest, RejectsMalformedCollectorAddresses)
{
    for (const char* text :
         {"", ":5514", "host:", "host:0", "host:65536", "host:55x", "[::1", "[]:514", "[::1]x"})
    {
        EXPECT_THROW(ParseCollector(text), std::invalid_argument) << text;
    }
}

TEST(DemoOptionsTest, ReadsFolderAndCollector)
{
    const char* const argv[] = {"demo", "--folder", "scratch", "--syslog", "127.0.0.1:5514"};
    const auto options = ParseDemoOptions(5, argv);
    EXPECT_EQ(options.folder, "scratch");
    ASSERT_TRUE(options.collector);
    EXPECT_EQ(options.collector->port, 5514);
    EXPECT_FALSE(options.showHelp);
}

TEST(DemoOptionsTest, RefusesSystemFoldersUnknownOptionsAndMissingValues)
{
    const std::vector<std::vector<const char*>> cases = {
        {"demo", "--folder", "/etc/ostrel"},
        {"demo", "--folder", "/var"},
        {"demo", "--folder", "/tmp/../var/x"},
        {"demo", "--verbose"},
        {"demo", "--folder"},
        {"demo", "--syslog"},
    };
    for (const auto& arguments : cases)
    {
        EXPECT_THROW(ParseDemoOptions(static_cast<int>(arguments.size()), arguments.data()),
                     std::invalid_argument)
            << arguments.back();
    }
}

TEST(DemoWorkspaceTest, PrepareCopiesSettingsAndRemovesOnlyTheZonesLogFiles)
{
    const TempDirectory shipped;
    const TempDirectory folder;
    WriteFile(shipped / "Gateway.Logging.ini", "[OZRLogging]\nLogLevel=Trace\n");
    WriteFile(shipped / "notes.txt", "not a settings file");
    const DemoWorkspace workspace(folder.Path());
    std::filesystem::create_directories(workspace.LogDirectory());
    for (const char* name :
         {"Gateway.00.txt", "Gateway.123.txt", "Gateway.txt", "Gateway.0.txt", "Other.00.txt"})
    {
        WriteFile(workspace.LogDirectory() / name, "line\n");
    }
    WriteFile(workspace.ConfigDirectory() / "Gateway.Logging.ini", "changed by an earlier run");

    workspace.Prepare(shipped.Path(), {"Gateway"});

    EXPECT_EQ(ReadFile(workspace.ZoneConfigFile("Gateway")), "[OZRLogging]\nLogLevel=Trace\n");
    EXPECT_FALSE(std::filesystem::exists(workspace.ConfigDirectory() / "notes.txt"));
    EXPECT_FALSE(std::filesystem::exists(workspace.LogDirectory() / "Gateway.00.txt"));
    EXPECT_FALSE(std::filesystem::exists(workspace.LogDirectory() / "Gateway.123.txt"));
    for (const char* kept : {"Gateway.txt", "Gateway.0.txt", "Other.00.txt"})
    {
        EXPECT_TRUE(std::filesystem::exists(workspace.LogDirectory() / kept)) << kept;
    }
}

TEST(DemoWorkspaceTest, ConfigureSyslogKeepsTheCommentsOfTheWorkingCopy)
{
    const TempDirectory folder;
    const DemoWorkspace workspace(folder.Path());
    std::filesystem::create_directories(workspace.ConfigDirectory());
    WriteFile(workspace.ConfigDirectory() / "syslog.ini", "; where to send\n[Syslog]\nAddress=\nPort=514\n");

    workspace.ConfigureSyslog("::1", 5514);

    const auto file = workspace.ConfigDirectory() / "syslog.ini";
    EXPECT_EQ(DemoWorkspace::FindSettingLine(file, "Address"), "Address=::1");
    EXPECT_EQ(DemoWorkspace::FindSettingLine(file, "port"), "Port=5514");
    EXPECT_EQ(ReadFile(file).rfind("; where to send\n", 0), 0u);
}

TEST(DemoWorkspaceTest, FindSettingLineSkipsCommentsAndOtherKeys)
{
    const TempDirectory folder;
    WriteFile(folder / "a.ini", "; LogLevel=Info\n# LogLevel=Error\nLogLevelX=1\n  LogLevel = Trace  \n");
    EXPECT_EQ(DemoWorkspace::FindSettingLine(folder / "a.ini", "LogLevel"), "LogLevel = Trace");
    EXPECT_EQ(DemoWorkspace::FindSettingLine(folder / "a.ini", "Missing"), "");
    EXPECT_EQ(DemoWorkspace::FindSettingLine(folder / "missing.ini", "LogLevel"), "");
}

TEST(DemoWorkspaceTest, ListFilesGivesNamesAndSizesInOrder)
{
    const TempDirectory folder;
    WriteFile(folder / "b.txt", "12345");
    WriteFile(folder / "a.txt", "");
    std::filesystem::create_directories(folder / "sub");
    std::ostringstream listing;
    DemoWorkspace::ListFiles(listing, folder.Path());
    EXPECT_EQ(listing.str(), "  a.txt  0 bytes\n  b.txt  5 bytes\n");
}

}  // namespace
}  // namespace ozr::demo
