#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "appender/syslog/RecordFormat.h"

namespace
{

using namespace ozr::logging;
using appender::syslog::FormatRfc5424Record;
using appender::syslog::FrameRecord;
using appender::syslog::Framing;
using boost::gregorian::date;
using boost::posix_time::hours;
using boost::posix_time::minutes;
using boost::posix_time::ptime;
using boost::posix_time::time_duration;

// Built at 09:07:03.25 local time in a zone one hour east of UTC, a few microseconds after its UTC time
// was read.
Message ExampleMessage()
{
    const ptime local(date(2024, 3, 5), time_duration(9, 7, 3) + boost::posix_time::microseconds(250000));
    const ptime universal = local - hours(1) - boost::posix_time::microseconds(3);
    return Message{local, universal, "Channel.src", "Channel opened", Severity::Info, 214, 0xA7C, nullptr};
}

struct Rfc5424Case
{
    const char* name;
    std::function<void(Message&)> change;
    std::string host;
    std::string tag;
    std::string expected;
};

TEST(RecordFormatTest, LaysOutTheRfc5424HeaderFieldByField)
{
    const std::string tail = " 4711 - - Channel.src(214): (TID 0x0000000000000A7C) Channel opened";
    const std::vector<Rfc5424Case> cases = {
        {"the worked example", [](Message&) {}, "gateway-2", "Net",
         "<134>1 2024-03-05T09:07:03.250000+01:00 gateway-2 Net" + tail},
        {"west of UTC", [](Message& m) { m.universalTime = m.localTime + hours(5) + minutes(30); },
         "gateway-2", "Net", "<134>1 2024-03-05T09:07:03.250000-05:30 gateway-2 Net" + tail},
        {"UTC is marked Z", [](Message& m) { m.universalTime = m.localTime; }, "gateway-2", "Net",
         "<134>1 2024-03-05T09:07:03.250000Z gateway-2 Net" + tail},
        {"an offset beyond a day is no time zone: the UTC time",
         [](Message& m) { m.universalTime = m.localTime - hours(30); }, "gateway-2", "Net",
         "<134>1 2024-03-04T03:07:03.250000Z gateway-2 Net" + tail},
        {"microseconds with their leading zeros",
         [](Message& m)
         {
             m.localTime =
                 ptime(date(2024, 1, 2), time_duration(0, 0, 0) + boost::posix_time::microseconds(7));
             m.universalTime = m.localTime;
         },
         "gateway-2", "Net", "<134>1 2024-01-02T00:00:00.000007Z gateway-2 Net" + tail},
        {"empty host and tag are the nil value", [](Message&) {}, "", "",
         "<134>1 2024-03-05T09:07:03.250000+01:00 - -" + tail},
        {"bytes outside printable ASCII become underscores", [](Message&) {}, "gate way", "Zürich",
         "<134>1 2024-03-05T09:07:03.250000+01:00 gate_way Z__rich" + tail},
        {"the tag is cut to 48 bytes", [](Message&) {}, "gateway-2", std::string(60, 'z'),
         "<134>1 2024-03-05T09:07:03.250000+01:00 gateway-2 " + std::string(48, 'z') + tail},
        {"error", [](Message& m) { m.severity = Severity::Error; }, "gateway-2", "Net",
         "<131>1 2024-03-05T09:07:03.250000+01:00 gateway-2 Net" + tail},
    };
    for (const auto& testCase : cases)
    {
        Message message = ExampleMessage();
        testCase.change(message);
        EXPECT_EQ(FormatRfc5424Record(message, testCase.host, testCase.tag, "4711"), testCase.expected)
            << testCase.name;
    }
}

TEST(RecordFormatTest, CutsRfc5424RecordsLongerThan2048BytesWithAnEllipsis)
{
    Message message = ExampleMessage();
    message.text.clear();
    const std::size_t headerSize = FormatRfc5424Record(message, "gateway-2", "Net", "4711").size();

    message.text = std::string(2048 - headerSize, 'x');
    EXPECT_EQ(FormatRfc5424Record(message, "gateway-2", "Net", "4711").size(), 2048u);
    message.text += 'x';
    const std::string record = FormatRfc5424Record(message, "gateway-2", "Net", "4711");
    EXPECT_EQ(record.size(), 2048u);
    EXPECT_EQ(record.substr(2045), "...");
}

TEST(RecordFormatTest, FramesARecordByItsLengthOrByALineFeed)
{
    EXPECT_EQ(FrameRecord("<134>abc", Framing::OctetCounting), "8 <134>abc");
    EXPECT_EQ(FrameRecord("", Framing::OctetCounting), "0 ");
    EXPECT_EQ(FrameRecord(std::string(1024, 'x'), Framing::OctetCounting), "1024 " + std::string(1024, 'x'));
    EXPECT_EQ(FrameRecord("<134>abc", Framing::NonTransparent), "<134>abc\n");
}

}  // namespace
