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
using appender::syslog::MaxRfc5424DatagramSize;
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
    std::string appName;
    std::string messageId;
    std::string expected;
};

const std::string g_bom = "\xEF\xBB\xBF";
const std::string g_structuredData = R"([ozr@32473 file="Channel.src" line="214" tid="0x0000000000000A7C"])";

std::string Rfc5424(const Message& message, std::size_t maxSize = appender::syslog::MaxRfc5424DatagramSize)
{
    return FormatRfc5424Record(message, "gateway-2", "gatewayd", "4711", "Net", maxSize);
}

TEST(RecordFormatTest, LaysOutTheRfc5424HeaderFieldByField)
{
    const std::string time = "<134>1 2024-03-05T09:07:03.250000+01:00 ";
    const std::string tail = " 4711 Net " + g_structuredData + " " + g_bom + "Channel opened";
    const std::vector<Rfc5424Case> cases = {
        {"the worked example", [](Message&) {}, "gateway-2", "gatewayd", "Net",
         time + "gateway-2 gatewayd" + tail},
        {"west of UTC", [](Message& m) { m.universalTime = m.localTime + hours(5) + minutes(30); },
         "gateway-2", "gatewayd", "Net", "<134>1 2024-03-05T09:07:03.250000-05:30 gateway-2 gatewayd" + tail},
        {"UTC is marked Z", [](Message& m) { m.universalTime = m.localTime; }, "gateway-2", "gatewayd", "Net",
         "<134>1 2024-03-05T09:07:03.250000Z gateway-2 gatewayd" + tail},
        {"an offset beyond a day is no time zone: the UTC time",
         [](Message& m) { m.universalTime = m.localTime - hours(30); }, "gateway-2", "gatewayd", "Net",
         "<134>1 2024-03-04T03:07:03.250000Z gateway-2 gatewayd" + tail},
        {"microseconds with their leading zeros",
         [](Message& m)
         {
             m.localTime =
                 ptime(date(2024, 1, 2), time_duration(0, 0, 0) + boost::posix_time::microseconds(7));
             m.universalTime = m.localTime;
         },
         "gateway-2", "gatewayd", "Net", "<134>1 2024-01-02T00:00:00.000007Z gateway-2 gatewayd" + tail},
        {"empty host, application and message id are the nil value", [](Message&) {}, "", "", "",
         time + "- - 4711 - " + g_structuredData + " " + g_bom + "Channel opened"},
        {"bytes outside printable ASCII become underscores", [](Message&) {}, "gate way", "Zürich", "Z\tone",
         time + "gate_way Z__rich 4711 Z_one " + g_structuredData + " " + g_bom + "Channel opened"},
        {"the application name is cut to 48 bytes, the message id to 32", [](Message&) {}, "gateway-2",
         std::string(60, 'a'), std::string(40, 'z'),
         time + "gateway-2 " + std::string(48, 'a') + " 4711 " + std::string(32, 'z') + " " +
             g_structuredData + " " + g_bom + "Channel opened"},
        {"error", [](Message& m) { m.severity = Severity::Error; }, "gateway-2", "gatewayd", "Net",
         "<131>1 2024-03-05T09:07:03.250000+01:00 gateway-2 gatewayd" + tail},
        {"the structured data escapes '\"', '\\' and ']' in the file name, and carries line and thread",
         [](Message& m)
         {
             m.file = R"(a"b\c]d.src)";
             m.line = 4294967295u;
             m.threadId = 0xFEDCBA9876543210;
         },
         "gateway-2", "gatewayd", "Net",
         time + "gateway-2 gatewayd 4711 Net " +
             R"([ozr@32473 file="a\"b\\c\]d.src" line="4294967295" tid="0xFEDCBA9876543210"] )" + g_bom +
             "Channel opened"},
        {"an empty text: no MSG, not even its space", [](Message& m) { m.text.clear(); }, "gateway-2",
         "gatewayd", "Net", time + "gateway-2 gatewayd 4711 Net " + g_structuredData},
        {"UTF-8 is kept as it is", [](Message& m) { m.text = "Grüße – ✓ 東京 \xF0\x9F\x98\x80"; },
         "gateway-2", "gatewayd", "Net",
         time + "gateway-2 gatewayd 4711 Net " + g_structuredData + " " + g_bom +
             "Grüße – ✓ 東京 \xF0\x9F\x98\x80"},
        {"each ill-formed sequence becomes one U+FFFD: a stray byte, a truncated, an overlong and a "
         "surrogate sequence, in the text and in the file name",
         [](Message& m)
         {
             m.text = "a\x80z \xE2\x9C z \xC0\xAF z \xED\xA0\x80 z\xF0\x9F";
             m.file = "F\xFFile.src";
         },
         "gateway-2", "gatewayd", "Net",
         time + "gateway-2 gatewayd 4711 Net " +
             "[ozr@32473 file=\"F\xEF\xBF\xBDile.src\" line=\"214\" tid=\"0x0000000000000A7C\"] " + g_bom +
             "a\xEF\xBF\xBDz \xEF\xBF\xBD z \xEF\xBF\xBD\xEF\xBF\xBD z \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD "
             "z\xEF\xBF\xBD"},
    };
    for (const auto& testCase : cases)
    {
        Message message = ExampleMessage();
        testCase.change(message);
        EXPECT_EQ(FormatRfc5424Record(message, testCase.host, testCase.appName, "4711", testCase.messageId,
                                      appender::syslog::MaxRfc5424DatagramSize),
                  testCase.expected)
            << testCase.name;
    }
}

// In a datagram at most 1024 bytes, on a stream 64 KiB: a longer record ends in "..." and is cut before
// a character that would not fit whole, never inside it.
TEST(RecordFormatTest, CutsRfc5424RecordsAtACharacterBoundaryWithAnEllipsis)
{
    for (const std::size_t bound :
         {appender::syslog::MaxRfc5424DatagramSize, appender::syslog::MaxRfc5424StreamRecordSize})
    {
        SCOPED_TRACE(bound);
        Message message = ExampleMessage();
        message.text = "x";
        const std::size_t headerSize = Rfc5424(message, bound).size() - 1;

        message.text = std::string(bound - headerSize, 'x');
        EXPECT_EQ(Rfc5424(message, bound), Rfc5424(message, bound + 100)) << "fits exactly: not cut";
        message.text += 'x';
        std::string record = Rfc5424(message, bound);
        EXPECT_EQ(record.size(), bound);
        EXPECT_EQ(record.substr(bound - 3), "...");

        // "✓" (three bytes) would straddle the place of the mark: it is left out whole.
        message.text = std::string(bound - headerSize - 4, 'x') + "✓✓";
        record = Rfc5424(message, bound);
        EXPECT_EQ(record, Rfc5424(message, bound + 100).substr(0, bound - 4) + "...");
        EXPECT_EQ(record.size(), bound - 1);
    }
    Message message = ExampleMessage();
    message.file = std::string(200, '"');
    message.text = std::string(2000, 'x');
    const std::string record = Rfc5424(message);
    EXPECT_EQ(record.size(), 1024u);
    std::string escapedQuotes;
    for (int count = 0; count < 62; ++count)
    {
        escapedQuotes += R"(\")";
    }
    EXPECT_NE(record.find(R"( file=")" + escapedQuotes + R"(..." line="214")"), std::string::npos)
        << "the file name is cut to 128 bytes between escapes: " << record;
}

TEST(RecordFormatTest, FramesARecordByItsLengthOrByALineFeed)
{
    EXPECT_EQ(FrameRecord("<134>abc", Framing::OctetCounting), "8 <134>abc");
    EXPECT_EQ(FrameRecord("", Framing::OctetCounting), "0 ");
    EXPECT_EQ(FrameRecord(std::string(1024, 'x'), Framing::OctetCounting), "1024 " + std::string(1024, 'x'));
    EXPECT_EQ(FrameRecord("<134>abc", Framing::NonTransparent), "<134>abc\n");
}

}  // namespace
