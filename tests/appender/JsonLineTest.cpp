#include "appender/JsonLine.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "MessageFactory.h"

namespace
{

using namespace boost::posix_time;
using boost::gregorian::date;
using ozr::logging::Message;
using ozr::logging::appender::AppendJsonLine;

// The full line of one message, then the zone and the time of others: the local time, with the offset
// from the universal time rounded to whole minutes (the two are read microseconds apart), "-00:00" where
// the difference is no offset, and null without a local time.
TEST(JsonLine, WritesTheFieldsInOrderAndTheLocalTimeWithItsOffset)
{
    Message message = *ozr::testing::MakeMessage("Service \"started\"", ozr::logging::Severity::Info, "Net");
    const ptime local = message.localTime;
    message.universalTime = local - hours(1) + microseconds(3);
    std::string line;
    AppendJsonLine(line, message, "demo");
    EXPECT_EQ(line,
              "{\"time\":\"2024-03-05T14:07:09.123456+01:00\",\"severity\":\"Info\",\"zone\":\"Net\","
              "\"app\":\"demo\",\"pid\":" +
                  std::to_string(getpid()) +
                  ",\"tid\":2684,\"file\":\"main.src\",\"line\":42,"
                  "\"message\":\"Service \\\"started\\\"\"}\n");

    struct Row
    {
        ptime local;
        ptime universal;
        const char* zone;
        std::string expected;  // the line's beginning, up to the severity
    };
    const ptime whole(date(2026, 12, 31), hours(23) + minutes(59) + seconds(59));
    const std::vector<Row> rows{
        {whole, whole + hours(5) + minutes(45) - microseconds(2), nullptr,
         "\"2026-12-31T23:59:59.000000-05:45\""},
        {whole, whole - minutes(30) - seconds(29), "", "\"2026-12-31T23:59:59.000000+00:30\""},
        {local, local - hours(23) - minutes(59), nullptr, "\"2024-03-05T14:07:09.123456+23:59\""},
        {local, local - hours(24), nullptr, "\"2024-03-05T14:07:09.123456-00:00\""},
        {local, ptime(not_a_date_time), nullptr, "\"2024-03-05T14:07:09.123456-00:00\""},
        {ptime(not_a_date_time), local, nullptr, "null"},
    };
    for (const auto& row : rows)
    {
        message.localTime = row.local;
        message.universalTime = row.universal;
        message.zone = row.zone;
        line.clear();
        AppendJsonLine(line, message, "demo");
        EXPECT_EQ(line.substr(0, line.find(",\"app\"")),
                  "{\"time\":" + row.expected + ",\"severity\":\"Info\",\"zone\":null");
    }
}

}  // namespace
