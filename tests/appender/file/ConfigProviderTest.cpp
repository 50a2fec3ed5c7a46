#include "ozr/logging/appender/file/ConfigProvider.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDirectory.h"

namespace
{

using ozr::logging::appender::LineFormat;
using ozr::logging::appender::file::Config;
using ozr::logging::appender::file::ConfigProvider;
using ozr::logging::appender::file::RotationInterval;

constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::uint64_t Largest = std::numeric_limits<std::uint64_t>::max();

class FixedApplicationInfo final : public ozr::logging::IApplicationInfoProvider
{
public:
    std::string GetApplicationName() const override { return "App"; }
    std::filesystem::path GetApplicationExecutableDirectoryPath() const override { return "/opt/app"; }
};

Config DefaultConfig()
{
    return Config{"/var/ostrel/logs", "Net", 15 * MiB, Config::DefaultMaxFileCount, true};
}

void ExpectConfig(const Config& actual, const Config& expected)
{
    EXPECT_EQ(actual.logDirectory, expected.logDirectory);
    EXPECT_EQ(actual.baseName, expected.baseName);
    EXPECT_EQ(actual.maxFileSize, expected.maxFileSize);
    EXPECT_EQ(actual.maxFileCount, expected.maxFileCount);
    EXPECT_EQ(actual.enabled, expected.enabled);
    EXPECT_EQ(actual.rotationInterval, expected.rotationInterval);
    EXPECT_EQ(actual.format, expected.format);
}

struct SettingsCase
{
    std::string settings;  // file content; empty: no file at all
    const char* zone;
    std::function<void(Config&)> change;  // applied to the defaults to give the expected record
};

TEST(FileConfigProviderTest, ReadsAndClampsEachKey)
{
    const auto unchanged = [](Config&) {};
    const std::vector<SettingsCase> cases{
        {"", "Net", unchanged},
        {"[Other]\nMaxFileCount=2\n", "Net", unchanged},
        {"[FileAppender]\n", nullptr, [](Config& c) { c.baseName = "App"; }},
        {"[FileAppender]\n", "", [](Config& c) { c.baseName = "App"; }},
        {"[FileAppender]\n", "../Net", [](Config& c) { c.baseName = ""; }},
        {"[FileAppender]\nLogDirectory=/srv/net logs\n", "Net",
         [](Config& c) { c.logDirectory = "/srv/net logs"; }},
        {"[FileAppender]\nLogDirectory=relative/dir\n", "Net",
         [](Config& c) { c.logDirectory = "relative/dir"; }},
        {"[FileAppender]\nLogDirectory=\n", "Net", unchanged},
        {"[FileAppender]\nMaxFileSizeMB=1\n", "Net", [](Config& c) { c.maxFileSize = MiB; }},
        {"[FileAppender]\nMaxFileSizeMB=0\n", "Net", [](Config& c) { c.maxFileSize = 0; }},
        {"[FileAppender]\nMaxFileSizeMB=12MB\n", "Net", [](Config& c) { c.maxFileSize = 12 * MiB; }},
        {"[FileAppender]\nMaxFileSizeMB=big\n", "Net", unchanged},
        {"[FileAppender]\nMaxFileSizeMB=17592186044415\n", "Net",
         [](Config& c) { c.maxFileSize = 17592186044415ULL * MiB; }},
        {"[FileAppender]\nMaxFileSizeMB=17592186044416\n", "Net", [](Config& c) { c.maxFileSize = Largest; }},
        {"[FileAppender]\nMaxFileSizeMB=-1\n", "Net", [](Config& c) { c.maxFileSize = Largest; }},
        {"[FileAppender]\nMaxFileCount=1\n", "Net", [](Config& c) { c.maxFileCount = 1; }},
        {"[FileAppender]\nMaxFileCount=0\n", "Net", [](Config& c) { c.maxFileCount = 1; }},
        {"[FileAppender]\nMaxFileCount=many\n", "Net", unchanged},
        {"[FileAppender]\nMaxFileCount=-1\n", "Net", [](Config& c) { c.maxFileCount = Largest; }},
        {"[FileAppender]\nEnabled=0\n", "Net", [](Config& c) { c.enabled = false; }},
        {"[FileAppender]\nEnabled=0 for now\n", "Net", [](Config& c) { c.enabled = false; }},
        {"[FileAppender]\nEnabled=1\n", "Net", unchanged},
        {"[FileAppender]\nEnabled=2\n", "Net", unchanged},
        {"[FileAppender]\nEnabled=false\n", "Net", unchanged},
        {"[FileAppender]\nEnabled=yes\n", "Net", unchanged},
        {"[FileAppender]\nEnabled=\n", "Net", unchanged},
        {"[FileAppender]\nRotationInterval=daily\n", "Net",
         [](Config& c) { c.rotationInterval = RotationInterval::Daily; }},
        {"[FileAppender]\nRotationInterval=Hourly\n", "Net",
         [](Config& c) { c.rotationInterval = RotationInterval::Hourly; }},
        {"[FileAppender]\nRotationInterval=never\n", "Net", unchanged},
        {"[FileAppender]\nRotationInterval=weekly\n", "Net", unchanged},
        {"[FileAppender]\nFormat=json\n", "Net", [](Config& c) { c.format = LineFormat::Json; }},
        {"[fileappender]\nformat=JSON\n", "Net", [](Config& c) { c.format = LineFormat::Json; }},
        {"[FileAppender]\nFormat=Text\n", "Net", unchanged},
        {"[FileAppender]\nFormat=jsonl\n", "Net", unchanged},
        {"[FileAppender]\nFormat=\n", "Net", unchanged},
    };
    const ozr::testing::TempDirectory temporary;
    const FixedApplicationInfo applicationInfo;
    for (const auto& settingsCase : cases)
    {
        SCOPED_TRACE(settingsCase.settings);
        const auto file = temporary / "Net.Logging.ini";
        std::filesystem::remove(file);
        if (!settingsCase.settings.empty())
        {
            ozr::testing::WriteFile(file, settingsCase.settings);
        }
        Config expected = DefaultConfig();
        settingsCase.change(expected);
        ExpectConfig(ConfigProvider(applicationInfo, settingsCase.zone, file.string()).GetConfig(), expected);
    }
}

TEST(FileConfigProviderTest, DefaultLogDirectoryAppliesToZonesThatNameNone)
{
    const ozr::testing::TempDirectory temporary;
    const FixedApplicationInfo applicationInfo;
    ozr::testing::WriteFile(temporary / "Own.Logging.ini", "[FileAppender]\nLogDirectory=/srv/own\n");

    ConfigProvider::SetDefaultLogDirectory("/tmp/logs");
    const Config unset =
        ConfigProvider(applicationInfo, "Net", (temporary / "Net.Logging.ini").string()).GetConfig();
    const Config own =
        ConfigProvider(applicationInfo, "Own", (temporary / "Own.Logging.ini").string()).GetConfig();
    ConfigProvider::SetDefaultLogDirectory("/var/ostrel/logs");

    EXPECT_EQ(unset.logDirectory, "/tmp/logs");
    EXPECT_EQ(own.logDirectory, "/srv/own");
}

}  // namespace
