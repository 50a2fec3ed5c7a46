#include "ozr/logging/Severity.h"

#include <gtest/gtest.h>

namespace ozr::logging
{
namespace
{

struct ParseCase
{
    const char* text;
    Severity expected;
};

TEST(SeverityFromString, AcceptsEverySpellingInAnyLetterCase)
{
    const ParseCase cases[] = {
        {"Error", Severity::Error},  {"error", Severity::Error},     {"ERROR", Severity::Error},
        {"eRrOr", Severity::Error},  {"Print", Severity::Print},     {"Warning", Severity::Warning},
        {"warn", Severity::Warning}, {"Message", Severity::Message}, {"msg", Severity::Message},
        {"Info", Severity::Info},    {"Trace", Severity::Trace},     {"all", Severity::Trace},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(SeverityFromString(c.text), c.expected) << c.text;
    }
}

TEST(SeverityFromString, GivesWarningForAnythingElse)
{
    const char* const texts[] = {nullptr, "",      "Unknown", "Debug",  "5",
                                 "0",     " Info", "Error ",  "Errors", "Err"};
    for (const char* text : texts)
    {
        EXPECT_EQ(SeverityFromString(text), Severity::Warning) << (text ? text : "(null)");
    }
}

TEST(SeverityToString, NamesEachSeverityCanonicallyAndReadsBack)
{
    const ParseCase names[] = {{"Error", Severity::Error},     {"Print", Severity::Print},
                               {"Warning", Severity::Warning}, {"Message", Severity::Message},
                               {"Info", Severity::Info},       {"Trace", Severity::Trace}};
    for (const auto& c : names)
    {
        EXPECT_STREQ(SeverityToString(c.expected), c.text);
        EXPECT_EQ(SeverityFromString(SeverityToString(c.expected)), c.expected);
    }
}

TEST(SeverityToString, NamesValuesOutsideTheRangeUnknown)
{
    for (int value : {6, 100, -1, -2147483647 - 1})
    {
        EXPECT_STREQ(SeverityToString(static_cast<Severity>(value)), "Unknown") << value;
    }
    EXPECT_EQ(SeverityFromString(SeverityToString(static_cast<Severity>(6))), Severity::Warning);
}

TEST(SeverityToSyslogCode, MapsTheTableAndFallsBackToWarning)
{
    const unsigned int expected[] = {3, 5, 4, 6, 6, 7};
    for (int value = 0; value < 6; ++value)
    {
        EXPECT_EQ(SeverityToSyslogCode(static_cast<Severity>(value)), expected[value]) << value;
    }
    for (int value : {6, 100, -1})
    {
        EXPECT_EQ(SeverityToSyslogCode(static_cast<Severity>(value)), 4u) << value;
    }
}

TEST(Severity, OrdersPrintBetweenErrorAndWarningAsAThreshold)
{
    const Severity verbosity = Severity::Message;
    EXPECT_TRUE(Severity::Error <= verbosity);
    EXPECT_TRUE(Severity::Print <= verbosity);
    EXPECT_TRUE(Severity::Warning <= verbosity);
    EXPECT_TRUE(Severity::Message <= verbosity);
    EXPECT_FALSE(Severity::Info <= verbosity);
    EXPECT_FALSE(Severity::Trace <= verbosity);
}

}  // namespace
}  // namespace ozr::logging
