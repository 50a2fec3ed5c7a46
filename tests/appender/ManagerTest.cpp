#include "ozr/logging/appender/Manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "MessageFactory.h"
#include "TempDirectory.h"
#include "ozr/logging/appender/console/Appender.h"
#include "ozr/logging/appender/file/Appender.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

class FixedApplication : public IApplicationInfoProvider
{
public:
    std::string GetApplicationName() const override { return "demo"; }
    std::filesystem::path GetApplicationExecutableDirectoryPath() const override { return "/opt/demo"; }
};

// Settings files are looked up in one directory only.
class DirectoryLocator : public IConfigLocator
{
public:
    explicit DirectoryLocator(std::filesystem::path directory) : directory(std::move(directory)) {}
    std::string GetZoneConfigFilePath(const char* zone) const override
    {
        return (directory / (std::string(zone != nullptr ? zone : "demo") + ".Logging.ini")).string();
    }
    std::string GetGlobalConfigFilePath(const std::string& name) const override
    {
        return (directory / (name + ".ini")).string();
    }
    void SetConfigDirectoryPath(std::filesystem::path) override {}

private:
    std::filesystem::path directory;
};

// The kind of each appender of a list, in order: 'f'ile, 'c'onsole, 's'yslog.
std::string Kinds(const appender::AppenderList& appenders)
{
    std::string kinds;
    for (const auto& appender : appenders)
    {
        if (dynamic_cast<appender::file::Appender*>(appender.get()) != nullptr)
        {
            kinds += 'f';
        }
        else if (dynamic_cast<appender::console::Appender*>(appender.get()) != nullptr)
        {
            kinds += 'c';
        }
        else if (dynamic_cast<appender::syslog::Appender*>(appender.get()) != nullptr)
        {
            kinds += 's';
        }
    }
    return kinds;
}

std::vector<ILogAppender*> Pointers(const appender::AppenderList& appenders)
{
    std::vector<ILogAppender*> pointers;
    for (const auto& appender : appenders)
    {
        pointers.push_back(appender.get());
    }
    return pointers;
}

class ManagerTest : public ::testing::Test
{
protected:
    ManagerTest()
    {
        WriteFile(root / "Net.Logging.ini", "[FileAppender]\nLogDirectory=" + (root / "net").string() + "\n");
        WriteFile(root / "Disk.Logging.ini",
                  "[FileAppender]\nLogDirectory=" + (root / "disk").string() + "\n");
    }

    void ConfigureCollector() const
    {
        WriteFile(root / "syslog.ini", "[Syslog]\nAddress=127.0.0.1\nPort=5514\n");
    }

    TempDirectory root;
    boost::asio::io_context ioContext;
    FixedApplication application;
    DirectoryLocator locator{root.Path()};
    appender::Manager manager{ioContext, application, locator};
};

TEST_F(ManagerTest, ListsTheZoneFileAppenderThenConsoleThenSyslogWhenConfigured)
{
    struct Row
    {
        const char* syslogSettings;  // null: no syslog.ini
        bool load;
        const char* kinds;
    };
    const std::vector<Row> rows{
        {nullptr, false, "f"},
        {nullptr, true, "fc"},
        {"[Syslog]\nAddress=\nPort=5514\n", true, "fc"},
        {"[Syslog]\nAddress=127.0.0.1\n", true, "fcs"},
        {"[Syslog]\nAddress=127.0.0.1\n", false, "f"},
    };
    for (const auto& row : rows)
    {
        std::filesystem::remove(root / "syslog.ini");
        if (row.syslogSettings != nullptr)
        {
            WriteFile(root / "syslog.ini", row.syslogSettings);
        }
        manager.ShutdownGlobalAppenders();
        if (row.load)
        {
            manager.LoadGlobalAppenders();
        }
        EXPECT_EQ(Kinds(manager.GetAppenders("Net")), row.kinds)
            << (row.syslogSettings ? row.syslogSettings : "no syslog.ini") << " loaded " << row.load;
    }
}

TEST_F(ManagerTest, ZonesShareTheGlobalAppendersButEachGetsItsOwnFileAppender)
{
    ConfigureCollector();
    manager.LoadGlobalAppenders();
    const auto netList = manager.GetAppenders("Net");
    const auto diskList = manager.GetAppenders("Disk");
    const auto net = Pointers(netList);
    const auto disk = Pointers(diskList);
    ASSERT_EQ(net.size(), 3u);
    ASSERT_EQ(disk.size(), 3u);
    EXPECT_NE(net[0], disk[0]);
    EXPECT_EQ(net[1], disk[1]);
    EXPECT_EQ(net[2], disk[2]);
    EXPECT_TRUE(std::filesystem::is_directory(root / "net"));
    EXPECT_TRUE(std::filesystem::is_directory(root / "disk"));
}

TEST_F(ManagerTest, ReloadingReplacesTheGlobalAppendersAndKeepsOneConsole)
{
    manager.LoadGlobalAppenders();
    const auto first = manager.GetAppenders("Net");
    manager.LoadGlobalAppenders();
    const auto second = manager.GetAppenders("Net");
    ASSERT_EQ(Kinds(second), "fc");
    EXPECT_NE(Pointers(first)[1], Pointers(second)[1]);
}

TEST_F(ManagerTest, EachZoneWritesToTheFilesItsOwnSettingsName)
{
    WriteFile(root / "Off.Logging.ini",
              "[FileAppender]\nEnabled=0\nLogDirectory=" + (root / "off").string() + "\n");
    const auto net = manager.GetAppenders("Net");
    const auto off = manager.GetAppenders("Off");
    ASSERT_EQ(Kinds(off), "f");  // a disabled file appender is still in the list
    net.front()->Log(ozr::testing::MakeMessage("to net"));
    off.front()->Log(ozr::testing::MakeMessage("to nowhere"));
    ioContext.run();

    EXPECT_THAT(ozr::testing::ReadFile(root / "net" / "Net.00.txt"), ::testing::EndsWith("to net\n"));
    EXPECT_TRUE(std::filesystem::is_directory(root / "off"));
    EXPECT_TRUE(std::filesystem::is_empty(root / "off"));
}

}  // namespace
