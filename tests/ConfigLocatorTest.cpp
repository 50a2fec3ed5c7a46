#include "ozr/logging/ConfigLocator.h"

#include <unistd.h>

#include <filesystem>
#include <forward_list>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "ConfigFileSearch.h"
#include "TempDirectory.h"

namespace
{

namespace fs = std::filesystem;
using ozr::logging::ConfigLocator;
using ozr::logging::FindConfigFile;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

class FakeApplicationInfo : public ozr::logging::IApplicationInfoProvider
{
public:
    std::string GetApplicationName() const override
    {
        ++nameRequests;
        if (onNameRequest)
        {
            onNameRequest();
        }
        return "collector.bin";
    }
    fs::path GetApplicationExecutableDirectoryPath() const override { return "/opt/tools/bin"; }

    mutable int nameRequests = 0;
    std::function<void()> onNameRequest;
};

// Restores the working directory when the test ends, also on failure.
class WorkingDirectoryGuard
{
public:
    explicit WorkingDirectoryGuard(const fs::path& directory) : saved(fs::current_path())
    {
        fs::current_path(directory);
    }
    ~WorkingDirectoryGuard() { fs::current_path(saved); }

private:
    fs::path saved;
};

TEST(ConfigLocatorTest, NamesZoneAndGlobalFilesInTheDefaultDirectory)
{
    struct Case
    {
        const char* zone;
        std::string expected;
    };
    const Case cases[] = {
        {"Net", "/etc/ostrel/config/Net.Logging.ini"},
        {"net.Sub", "/etc/ostrel/config/net.Sub.Logging.ini"},
        {nullptr, "/etc/ostrel/config/collector.bin.Logging.ini"},
        {"", "/etc/ostrel/config/collector.bin.Logging.ini"},
        {"../Net", ""},
        {"sub/Net", ""},
        {"/abs", ""},
    };
    FakeApplicationInfo applicationInfo;
    ConfigLocator locator(applicationInfo);
    for (const auto& testCase : cases)
    {
        EXPECT_EQ(locator.GetZoneConfigFilePath(testCase.zone), testCase.expected)
            << (testCase.zone ? testCase.zone : "(null)");
    }
    EXPECT_EQ(applicationInfo.nameRequests, 2) << "only the default zone needs the application name";
    EXPECT_EQ(locator.GetGlobalConfigFilePath("syslog"), "/etc/ostrel/config/syslog.ini");
}

TEST(ConfigLocatorTest, SetDirectoryReplacesTheDefaultWhetherOrNotTheFileExists)
{
    TempDirectory temp;
    const fs::path conf = temp / "conf";
    fs::create_directory(conf);
    FakeApplicationInfo applicationInfo;
    ConfigLocator locator(applicationInfo);
    const std::string expected = (conf / "Net.Logging.ini").string();

    locator.SetConfigDirectoryPath(conf);
    EXPECT_EQ(locator.GetZoneConfigFilePath("Net"), expected);
    WriteFile(conf / "Net.Logging.ini", "[OZRLogging]\n");
    EXPECT_EQ(locator.GetZoneConfigFilePath("Net"), expected);

    locator.SetConfigDirectoryPath(conf.string() + "/");
    EXPECT_EQ(locator.GetZoneConfigFilePath("Net"), expected) << "a trailing slash changes nothing";
    EXPECT_EQ(locator.GetGlobalConfigFilePath("syslog"), (conf / "syslog.ini").string());
}

TEST(ConfigLocatorTest, SearchTakesTheFirstDirectoryWhereTheCandidateExists)
{
    struct Case
    {
        const char* name;
        std::function<void(const fs::path& candidate)> make;
        bool foundInSecond;
    };
    const Case cases[] = {
        {"nothing", [](const fs::path&) {}, false},
        {"regular file", [](const fs::path& c) { WriteFile(c, ""); }, true},
        {"directory", [](const fs::path& c) { fs::create_directory(c); }, true},
        {"link to a file",
         [](const fs::path& c)
         {
             WriteFile(c.string() + ".target", "");
             fs::create_symlink(c.string() + ".target", c);
         },
         true},
        {"link to a missing file", [](const fs::path& c) { fs::create_symlink(c.string() + ".gone", c); },
         false},
        {"link loop", [](const fs::path& c) { fs::create_symlink(c, c); }, false},
    };
    for (const auto& testCase : cases)
    {
        TempDirectory temp;
        const fs::path first = temp / "first";
        const fs::path second = temp / "second";
        fs::create_directory(first);
        fs::create_directory(second);
        testCase.make(second / "Net.Logging.ini");

        const std::forward_list<fs::path> directories{first, second};
        const fs::path expected = (testCase.foundInSecond ? second : first) / "Net.Logging.ini";
        EXPECT_EQ(FindConfigFile(directories, "Net.Logging.ini"), expected.string()) << testCase.name;
        WriteFile(first / "Net.Logging.ini", "");
        EXPECT_EQ(FindConfigFile(directories, "Net.Logging.ini"), (first / "Net.Logging.ini").string())
            << testCase.name << " behind a file in the first directory";
    }
}

TEST(ConfigLocatorTest, RelativeDirectoryResolvesAgainstTheCurrentDirectoryOfEachSearch)
{
    TempDirectory withFile;
    TempDirectory withoutFile;
    fs::create_directory(withFile / "conf");
    WriteFile(withFile / "conf" / "Net.Logging.ini", "");
    const std::forward_list<fs::path> directories{"missing", "conf"};

    {
        WorkingDirectoryGuard guard(withFile.Path());
        EXPECT_EQ(FindConfigFile(directories, "Net.Logging.ini"), "conf/Net.Logging.ini");
        FakeApplicationInfo applicationInfo;
        ConfigLocator locator(applicationInfo);
        locator.SetConfigDirectoryPath("conf");
        EXPECT_EQ(locator.GetZoneConfigFilePath("Net"), "conf/Net.Logging.ini") << "not made absolute";
    }
    WorkingDirectoryGuard guard(withoutFile.Path());
    EXPECT_EQ(FindConfigFile(directories, "Net.Logging.ini"), "missing/Net.Logging.ini");
}

TEST(ConfigLocatorTest, CandidateThatCannotBeProbedCountsAsMissing)
{
    TempDirectory temp;
    FakeApplicationInfo applicationInfo;
    ConfigLocator locator(applicationInfo);
    locator.SetConfigDirectoryPath(temp.Path());
    const std::string overlongZone(300, 'z');  // longer than a file name may be: ENAMETOOLONG

    std::string path;
    EXPECT_NO_THROW(path = locator.GetZoneConfigFilePath(overlongZone.c_str()));
    EXPECT_EQ(path, (temp / (overlongZone + ".Logging.ini")).string());
}

TEST(ConfigLocatorTest, AsksTheApplicationNameBeforeTakingItsLock)
{
    TempDirectory temp;
    FakeApplicationInfo applicationInfo;
    ConfigLocator locator(applicationInfo);
    // Replacing the directory needs the lock exclusively: this would deadlock if the name were asked
    // with the lock held.
    applicationInfo.onNameRequest = [&] { locator.SetConfigDirectoryPath(temp.Path()); };
    EXPECT_EQ(locator.GetZoneConfigFilePath(nullptr), (temp / "collector.bin.Logging.ini").string());
}

}  // namespace
