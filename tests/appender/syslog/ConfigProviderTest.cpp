#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TempDirectory.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace
{

using ozr::logging::appender::syslog::Config;
using ozr::logging::appender::syslog::ConfigProvider;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

TEST(SyslogConfigProviderTest, WithoutSyslogSectionThereIsNoCollector)
{
    TempDirectory directory;
    WriteFile(directory / "syslog.ini", "[Other]\nAddress=elsewhere\nPort=600\n");

    const Config config = ConfigProvider((directory / "syslog.ini").string()).GetConfig();

    EXPECT_EQ(config.host, "");
    EXPECT_EQ(config.port, 514);
    EXPECT_EQ(ConfigProvider((directory / "missing.ini").string()).GetConfig().port, 514);
    EXPECT_STREQ(Config::DefaultHost, "");
}

TEST(SyslogConfigProviderTest, ReadsTheCollectorAddressAsStored)
{
    TempDirectory directory;
    WriteFile(directory / "syslog.ini", "[Syslog]\nAddress=collector.example\n");

    EXPECT_EQ(ConfigProvider((directory / "syslog.ini").string()).GetConfig().host, "collector.example");
}

struct PortCase
{
    std::string text;
    std::uint16_t expected;
};

TEST(SyslogConfigProviderTest, ReadsThePortOrFallsBackTo514)
{
    const std::vector<PortCase> cases = {
        {"600", 600},  {"600x", 600}, {"0", 0},    {"65535", 65535}, {"65536", 514},
        {"abc", 514},  {"", 514},     {"-1", 514}, {"-65535", 514},  {"99999999999999999999", 514},
        {"+600", 600}, {"x600", 514},
    };
    TempDirectory directory;
    const auto path = directory / "syslog.ini";
    for (const auto& testCase : cases)
    {
        WriteFile(path, "[Syslog]\nAddress=127.0.0.1\nPort=" + testCase.text + "\n");

        EXPECT_EQ(ConfigProvider(path.string()).GetConfig().port, testCase.expected)
            << '"' << testCase.text << '"';
    }
}

TEST(SyslogConfigProviderTest, ReadsTheFileAgainOnEveryCall)
{
    TempDirectory directory;
    const auto path = directory / "syslog.ini";
    const ConfigProvider provider(path.string());
    WriteFile(path, "[Syslog]\nAddress=first\nPort=600\n");
    const Config first = provider.GetConfig();

    WriteFile(path, "[Syslog]\nAddress=second\nPort=700\n");
    const Config second = provider.GetConfig();

    EXPECT_EQ(first.host, "first");
    EXPECT_EQ(second.host, "second");
    EXPECT_EQ(second.port, 700);
}

}  // namespace
