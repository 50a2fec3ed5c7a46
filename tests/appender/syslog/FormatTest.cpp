#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/host_name.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;
using boost::gregorian::date;
using boost::posix_time::ptime;
using boost::posix_time::time_duration;

class FakeApplicationInfoProvider : public IApplicationInfoProvider
{
public:
    std::string GetApplicationName() const override
    {
        ++calls;
        return name;
    }
    std::filesystem::path GetApplicationExecutableDirectoryPath() const override { return {}; }

    std::string name = "demo";
    mutable int calls = 0;
};

std::string ExpectedHostName()
{
    std::string name = boost::asio::ip::host_name();
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

// The record of the worked example: Info, no zone, Channel.src:214, thread 0xA7C, 5 March 09:07:03.25.
Message ExampleMessage()
{
    const ptime time(date(2024, 3, 5), time_duration(9, 7, 3) + boost::posix_time::microseconds(250000));
    return Message{time, time, "Channel.src", "Channel opened", Severity::Info, 214, 0xA7C, nullptr};
}

class FormatTest : public ::testing::Test
{
protected:
    std::string Format(const Message& message) const { return appender.FormatLogMessage(message); }

    // The payload with "{host}" standing for this machine's host name.
    std::string WithHost(const std::string& pattern) const
    {
        const std::string placeholder = "{host}";
        std::string result = pattern;
        result.replace(result.find(placeholder), placeholder.size(), hostName);
        return result;
    }

    boost::asio::io_context ioContext;
    FakeApplicationInfoProvider applicationInfo;
    appender::syslog::Appender appender{ioContext, applicationInfo, {"collector.invalid", 514}};
    const std::string hostName = ExpectedHostName();
};

TEST_F(FormatTest, RendersTheWorkedExampleByteForByte)
{
    const std::string payload = Format(ExampleMessage());

    EXPECT_EQ(
        payload,
        WithHost(
            "<134>Mar  5 09:07:03 {host} demo: Channel.src(214): (TID 0x0000000000000A7C) Channel opened"));
    EXPECT_EQ(payload.size(), 94 - std::string("gateway-2").size() + hostName.size());
}

struct FormatCase
{
    const char* name;
    std::function<void(Message&)> change;
    std::string expected;
};

TEST_F(FormatTest, RendersEachFieldAsLaidOut)
{
    const char* const net = "net";
    const char* const empty = "";
    const std::string tail = "Channel.src(214): (TID 0x0000000000000A7C) Channel opened";
    const std::string head = "<134>Mar  5 09:07:03 {host} ";
    const std::vector<FormatCase> cases = {
        {"zone is the tag", [&](Message& m) { m.zone = net; }, head + "net: " + tail},
        {"an empty zone is the default zone", [&](Message& m) { m.zone = empty; }, head + "demo: " + tail},
        {"two-digit day", [](Message& m) { m.localTime = ptime(date(2024, 3, 15), time_duration(9, 7, 3)); },
         "<134>Mar 15 09:07:03 {host} demo: " + tail},
        {"midnight", [](Message& m) { m.localTime = ptime(date(2024, 1, 1)); },
         "<134>Jan  1 00:00:00 {host} demo: " + tail},
        {"fraction truncated, not rounded",
         [](Message& m)
         {
             m.localTime = ptime(date(2023, 12, 31),
                                 time_duration(23, 59, 59) + boost::posix_time::microseconds(999999));
         },
         "<134>Dec 31 23:59:59 {host} demo: " + tail},
        {"local time, not universal time",
         [](Message& m) { m.universalTime = ptime(date(2024, 3, 4), time_duration(22, 0, 0)); },
         head + "demo: " + tail},
        {"empty file", [](Message& m) { m.file.clear(); },
         head + "demo: (214): (TID 0x0000000000000A7C) Channel opened"},
        {"thread zero", [](Message& m) { m.threadId = 0; },
         head + "demo: Channel.src(214): (TID 0x0000000000000000) Channel opened"},
        {"largest thread", [](Message& m) { m.threadId = std::numeric_limits<std::uint64_t>::max(); },
         head + "demo: Channel.src(214): (TID 0xFFFFFFFFFFFFFFFF) Channel opened"},
        {"largest line", [](Message& m) { m.line = std::numeric_limits<std::uint32_t>::max(); },
         head + "demo: Channel.src(4294967295): (TID 0x0000000000000A7C) Channel opened"},
        {"control characters kept", [](Message& m) { m.text = "one\ntwo\tthree"; },
         head + "demo: Channel.src(214): (TID 0x0000000000000A7C) one\ntwo\tthree"},
        {"error", [](Message& m) { m.severity = Severity::Error; },
         "<131>" + head.substr(5) + "demo: " + tail},
        {"print", [](Message& m) { m.severity = Severity::Print; },
         "<133>" + head.substr(5) + "demo: " + tail},
        {"warning", [](Message& m) { m.severity = Severity::Warning; },
         "<132>" + head.substr(5) + "demo: " + tail},
        {"trace", [](Message& m) { m.severity = Severity::Trace; },
         "<135>" + head.substr(5) + "demo: " + tail},
        {"severity above the table", [](Message& m) { m.severity = static_cast<Severity>(6); },
         "<132>" + head.substr(5) + "demo: " + tail},
        {"negative severity", [](Message& m) { m.severity = static_cast<Severity>(-1); },
         "<132>" + head.substr(5) + "demo: " + tail},
    };
    for (const auto& testCase : cases)
    {
        Message message = ExampleMessage();
        testCase.change(message);
        EXPECT_EQ(Format(message), WithHost(testCase.expected)) << testCase.name;
    }
}

TEST_F(FormatTest, AsksForTheApplicationNameAfreshForEveryMessageWithoutZone)
{
    Format(ExampleMessage());
    applicationInfo.name = "renamed";
    const std::string payload = Format(ExampleMessage());

    EXPECT_NE(payload.find(" renamed: "), std::string::npos) << payload;
    EXPECT_EQ(applicationInfo.calls, 2);

    Message zoned = ExampleMessage();
    zoned.zone = "net";
    Format(zoned);
    EXPECT_EQ(applicationInfo.calls, 2);
}

TEST_F(FormatTest, CutsPayloadsLongerThan1024BytesTo1021BytesAndAnEllipsis)
{
    Message message = ExampleMessage();
    message.text.clear();
    const std::size_t headerSize = Format(message).size();

    for (const std::size_t size : {std::size_t{1023}, std::size_t{1024}})
    {
        message.text = std::string(size - headerSize, 'x');
        EXPECT_EQ(Format(message).size(), size) << "unchanged at " << size;
        EXPECT_EQ(Format(message).back(), 'x');
    }
    for (const std::size_t size : {std::size_t{1025}, std::size_t{100000}})
    {
        message.text = std::string(size - headerSize, 'x');
        const std::string payload = Format(message);
        EXPECT_EQ(payload.size(), 1024u) << "cut from " << size;
        EXPECT_EQ(payload.substr(0, 1021),
                  Format(ExampleMessage()).substr(0, headerSize) + std::string(1021 - headerSize, 'x'));
        EXPECT_EQ(payload.substr(1021), "...");
    }
}

TEST_F(FormatTest, CutsInsideTheHeaderWhenTheTagAloneIsTooLong)
{
    const std::string longZone(2000, 'z');
    Message message = ExampleMessage();
    message.zone = longZone.c_str();

    const std::string payload = Format(message);

    EXPECT_EQ(payload.size(), 1024u);
    EXPECT_EQ(payload.substr(1021), "...");
    EXPECT_EQ(payload[1020], 'z');
}

}  // namespace
