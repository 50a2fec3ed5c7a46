#include "ozr/logging/appender/MessageFormatter.h"

#include <sstream>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace ozr::logging::appender
{
namespace
{

using boost::posix_time::time_from_string;

Message MakeMessage(const char* time, Severity severity = Severity::Info,
                    std::uint64_t threadId = 0xFFFF8A2BF010, std::string file = "main.src",
                    std::uint32_t line = 42)
{
    const auto localTime = time_from_string(time);
    return Message{localTime,       localTime - boost::posix_time::hours(1),
                   std::move(file), "Service started",
                   severity,        line,
                   threadId,        "Net"};
}

TEST(MessageFormatter, WritesTheWorkedExampleByteForByte)
{
    const MessageFormatter formatter;
    EXPECT_EQ(
        formatter.PrintMessage(MakeMessage("2024-03-05 14:07:09.123456")),
        "main.src(42): (TID 0x0000FFFF8A2BF010) 2024-Mar-05 14:07:09.123456 [Info] - Service started\n");
}

TEST(MessageFormatter, WritesTheLocalTimeInBoostSimpleForm)
{
    const MessageFormatter formatter;
    struct Case
    {
        const char* time;
        const char* expected;
    };
    // In this order: the calendar text is reused within a second and must change with every other one.
    const Case cases[] = {
        {"2024-03-05 14:07:09", "2024-Mar-05 14:07:09 ["},
        {"2024-03-05 14:07:09.000001", "2024-Mar-05 14:07:09.000001 ["},
        {"2024-03-05 14:07:10", "2024-Mar-05 14:07:10 ["},
        {"2024-02-29 23:59:59.75", "2024-Feb-29 23:59:59.750000 ["},
        {"2024-03-01 00:00:00.000001", "2024-Mar-01 00:00:00.000001 ["},
        {"1999-12-31 23:59:59.999999", "1999-Dec-31 23:59:59.999999 ["},
        {"2000-01-01 00:00:00", "2000-Jan-01 00:00:00 ["},
        {"2030-01-01 00:00:00.5", "2030-Jan-01 00:00:00.500000 ["},
        {"1969-12-31 23:59:59.25", "1969-Dec-31 23:59:59.250000 ["},
        {"1970-01-01 00:00:00", "1970-Jan-01 00:00:00 ["},
    };
    for (const auto& c : cases)
    {
        const std::string line = formatter.PrintMessage(MakeMessage(c.time));
        EXPECT_NE(line.find(c.expected), std::string::npos) << line;
        // The same text Boost itself gives.
        EXPECT_NE(line.find(boost::posix_time::to_simple_string(time_from_string(c.time))),
                  std::string::npos);
    }
    using boost::posix_time::ptime;
    for (const ptime special : {ptime(boost::date_time::not_a_date_time), ptime(boost::date_time::pos_infin)})
    {
        Message message = MakeMessage("2024-03-05 14:07:09");
        message.localTime = special;
        EXPECT_EQ(formatter.PrintMessage(message), "main.src(42): (TID 0x0000FFFF8A2BF010) " +
                                                       boost::posix_time::to_simple_string(special) +
                                                       " [Info] - Service started\n");
    }
}

TEST(MessageFormatter, HandlesExtremeFields)
{
    const MessageFormatter formatter;
    EXPECT_EQ(formatter.PrintMessage(MakeMessage("2024-03-05 14:07:09", static_cast<Severity>(6), 0, "", 0)),
              "(0): (TID 0x0000000000000000) 2024-Mar-05 14:07:09 [Unknown] - Service started\n");
    EXPECT_NE(formatter.PrintMessage(MakeMessage("2024-03-05 14:07:09", static_cast<Severity>(-1), ~0ull))
                  .find("(TID 0xFFFFFFFFFFFFFFFF) 2024-Mar-05 14:07:09 [Unknown] - "),
              std::string::npos);
}

TEST(MessageFormatter, StreamAndStringFormsAgreeAndLeaveTheStreamDecimal)
{
    const MessageFormatter formatter;
    const Message message = MakeMessage("2024-03-05 14:07:09.123456", Severity::Trace, 0xABC);
    std::ostringstream stream;
    formatter.PrintMessage(stream, message);
    EXPECT_EQ(stream.str(), formatter.PrintMessage(message));
    stream << 255;
    EXPECT_EQ(stream.str().substr(stream.str().size() - 3), "255");
}

TEST(MessageFormatter, KeepsEmbeddedLineFeeds)
{
    const MessageFormatter formatter;
    Message message = MakeMessage("2024-03-05 14:07:09");
    message.text = "two\nlines";
    EXPECT_NE(formatter.PrintMessage(message).find("] - two\nlines\n"), std::string::npos);
}

}  // namespace
}  // namespace ozr::logging::appender
