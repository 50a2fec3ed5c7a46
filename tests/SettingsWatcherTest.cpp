#include "SettingsWatcher.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "TempDirectory.h"
#include "ozr/config/Ini.h"

namespace
{

using ozr::logging::SettingsWatcher;
using ozr::logging::Severity;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

// Inotify instances this process holds open.
int OpenInotifyInstances()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        std::error_code error;
        count += std::filesystem::read_symlink(entry.path(), error) == "anon_inode:inotify" ? 1 : 0;
    }
    return count;
}

// The context runs on the test thread, held by a work guard as the library's worker is.
class SettingsWatcherTest : public ::testing::Test
{
protected:
    std::unique_ptr<SettingsWatcher> MakeWatcher(const std::filesystem::path& watched)
    {
        return std::make_unique<SettingsWatcher>(context, watched.string(),
                                                 [this](Severity level) { reported.push_back(level); });
    }
    std::unique_ptr<SettingsWatcher> MakeWatcher() { return MakeWatcher(file); }

    // Runs the context until `count` levels have been reported; generous, since the machine may be busy.
    void RunUntilReported(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (reported.size() < count && std::chrono::steady_clock::now() < deadline)
        {
            context.run_for(std::chrono::milliseconds(20));
        }
    }

    // Lets the watcher handle whatever events are pending.
    void RunAWhile() { context.run_for(std::chrono::milliseconds(300)); }

    void WriteLevel(const std::string& level) const
    {
        ozr::config::ini::WriteString(std::string("OZRLogging"), "LogLevel", level, file.string());
    }

    TempDirectory directory;
    const std::filesystem::path file = directory / "Net.Logging.ini";
    boost::asio::io_context context;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard{
        context.get_executor()};
    std::vector<Severity> reported;
};

TEST_F(SettingsWatcherTest, ReportsEachLevelWrittenInPlaceOrByRenameAndNothingUnreadable)
{
    WriteFile(file, "[OZRLogging]\nWatchSettings=1\nLogLevel=Warning\n");
    const auto watcher = MakeWatcher();
    ASSERT_TRUE(watcher->IsWatching());
    EXPECT_EQ(reported, std::vector<Severity>{Severity::Warning}) << "the level when the watch begins";

    WriteLevel("Info");  // replaced by rename
    RunUntilReported(2);

    // Caught half-written, a word that names no level, another file of the directory, a huge file: nothing
    // to report.
    WriteFile(file, "[OZRLogging]\nWatchSettings=1\nLogLev");
    RunAWhile();
    WriteFile(file, "[OZRLogging]\nWatchSettings=1\nLogLevel=Debug\n");
    RunAWhile();
    WriteFile(directory / "Other.Logging.ini", "[OZRLogging]\nLogLevel=Error\n");
    RunAWhile();
    // Larger than any settings file, as a file written there by mistake: not read at all.
    WriteFile(file, "[OZRLogging]\nLogLevel=Error\n" + std::string(1 << 20, ';') + "\n");
    RunAWhile();

    WriteFile(file, "[OZRLogging]\nWatchSettings=1\nLogLevel=Trace\n");  // in place
    RunUntilReported(3);
    RunAWhile();
    EXPECT_EQ(reported, (std::vector<Severity>{Severity::Warning, Severity::Info, Severity::Trace}));
}

// The watch follows the file to where its path leads now: into a directory made anew after the old one
// was moved away, and to a link's new target.
TEST_F(SettingsWatcherTest, FollowsTheFileIntoAReplacedDirectoryAndAlongARetargetedLink)
{
    const auto settingsDirectory = directory / "config";
    const auto settings = settingsDirectory / "Net.Logging.ini";
    std::filesystem::create_directory(settingsDirectory);
    WriteFile(settings, "[OZRLogging]\nLogLevel=Warning\n");
    const auto watcher = MakeWatcher(settings);
    ASSERT_TRUE(watcher->IsWatching());

    std::filesystem::rename(settingsDirectory, directory / "config.old");
    RunAWhile();
    std::filesystem::create_directory(settingsDirectory);
    WriteFile(settings, "[OZRLogging]\nLogLevel=Info\n");
    RunUntilReported(2);

    // Links are replaced by rename, as a tool retargets them.
    const auto linkTo = [&](const std::string& target)
    {
        std::filesystem::create_directory(directory / target);
        WriteFile(directory / target / "Net.ini", "[OZRLogging]\nLogLevel=Error\n");
        std::filesystem::create_symlink(std::filesystem::path("..") / target / "Net.ini",
                                        settingsDirectory / "new-link");
        std::filesystem::rename(settingsDirectory / "new-link", settings);
    };
    linkTo("first");
    RunUntilReported(3);
    linkTo("second");
    RunUntilReported(4);
    ozr::config::ini::WriteString(std::string("OZRLogging"), "LogLevel", "Trace", settings.string());
    RunUntilReported(5);
    EXPECT_EQ(reported, (std::vector<Severity>{Severity::Warning, Severity::Info, Severity::Error,
                                               Severity::Error, Severity::Trace}));
}

TEST_F(SettingsWatcherTest, AWaitingWatchKeepsNoRunLoopAliveAndEndsWithTheWatcher)
{
    WriteFile(file, "[OZRLogging]\nLogLevel=Info\n");
    auto watcher = MakeWatcher();
    ASSERT_TRUE(watcher->IsWatching());
    EXPECT_EQ(OpenInotifyInstances(), 1);

    guard.reset();
    context.restart();
    context.run();  // returns: only the watch waits

    guard.emplace(context.get_executor());
    context.restart();
    watcher.reset();
    WriteLevel("Error");
    RunAWhile();
    EXPECT_EQ(reported, std::vector<Severity>{Severity::Info}) << "nothing after the watcher is gone";
    EXPECT_EQ(OpenInotifyInstances(), 0);
}

}  // namespace
