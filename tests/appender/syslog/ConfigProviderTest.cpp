#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TempDirectory.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace
{

using ozr::logging::appender::syslog::Config;
using ozr::logging::appender::syslog::ConfigProvider;
using ozr::logging::appender::syslog::Format;
using ozr::logging::appender::syslog::Framing;
using ozr::logging::appender::syslog::Transport;
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

TEST(SyslogConfigProviderTest, WithoutTheNewKeysItIsUdpInTheBsdLayout)
{
    TempDirectory directory;
    WriteFile(directory / "syslog.ini", "[Syslog]\nAddress=127.0.0.1\n");

    const Config config = ConfigProvider((directory / "syslog.ini").string()).GetConfig();

    EXPECT_EQ(config.transport, Transport::Udp);
    EXPECT_EQ(config.format, Format::Bsd);
    EXPECT_EQ(config.framing, Framing::OctetCounting);
    EXPECT_EQ(config.bufferMessages, Config::DefaultBufferMessages);
    EXPECT_TRUE(config.forwarding);
    EXPECT_EQ(config.caFile + config.certFile + config.keyFile + config.serverName, "");
}

struct KeysCase
{
    std::string keys;
    std::function<bool(const Config&)> holds;
};

TEST(SyslogConfigProviderTest, ReadsTransportFormatFramingBufferAndTlsFiles)
{
    const std::vector<KeysCase> cases = {
        {"Transport=TCP", [](const Config& c) { return c.transport == Transport::Tcp && c.port == 514; }},
        {"Transport=tcp", [](const Config& c) { return c.transport == Transport::Tcp; }},
        {"Transport=UDP", [](const Config& c) { return c.transport == Transport::Udp && c.forwarding; }},
        {"Transport=TLS", [](const Config& c) { return c.transport == Transport::Tls && c.port == 6514; }},
        {"Transport=TLS\nPort=7000", [](const Config& c) { return c.port == 7000; }},
        {"Transport=TLS\nPort=abc", [](const Config& c) { return c.port == 6514; }},
        {"Transport=TSL", [](const Config& c) { return !c.forwarding; }},
        {"Format=RFC5424", [](const Config& c) { return c.format == Format::Rfc5424; }},
        {"Format=rfc5424", [](const Config& c) { return c.format == Format::Rfc5424; }},
        {"Format=JSON", [](const Config& c) { return c.format == Format::Bsd && c.forwarding; }},
        {"Framing=NonTransparent", [](const Config& c) { return c.framing == Framing::NonTransparent; }},
        {"Framing=OctetCounting", [](const Config& c) { return c.framing == Framing::OctetCounting; }},
        {"Framing=newline", [](const Config& c) { return c.framing == Framing::NonTransparent; }},
        {"Framing=octet-counting", [](const Config& c) { return c.framing == Framing::OctetCounting; }},
        {"BufferMessages=50", [](const Config& c) { return c.bufferMessages == 50; }},
        {"BufferMessages=0", [](const Config& c) { return c.bufferMessages == 0; }},
        {"BufferMessages=99999999",
         [](const Config& c) { return c.bufferMessages == Config::MaxBufferMessages; }},
        {"BufferMessages=-3",
         [](const Config& c) { return c.bufferMessages == Config::DefaultBufferMessages; }},
        {"BufferMessages=many",
         [](const Config& c) { return c.bufferMessages == Config::DefaultBufferMessages; }},
        {"CaFile=/etc/ca.pem\nCertFile=/etc/me.pem\nKeyFile=/etc/me.key\nServerName=logs.example",
         [](const Config& c)
         {
             return c.caFile == "/etc/ca.pem" && c.certFile == "/etc/me.pem" && c.keyFile == "/etc/me.key" &&
                    c.serverName == "logs.example";
         }},
    };
    TempDirectory directory;
    const auto path = directory / "syslog.ini";
    for (const auto& testCase : cases)
    {
        WriteFile(path, "[Syslog]\nAddress=127.0.0.1\n" + testCase.keys + "\n");

        EXPECT_TRUE(testCase.holds(ConfigProvider(path.string()).GetConfig())) << testCase.keys;
    }
}

}  // namespace
