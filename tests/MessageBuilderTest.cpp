#include "ozr/logging/MessageBuilder.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace ozr::logging
{
namespace
{

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;

// A clock that answers fixed, distinct times and records the order in which it was asked.
class FakeClock : public IDateTimeProvider
{
public:
    ptime GetLocalNow() const override
    {
        calls.push_back("local");
        return time_from_string("2024-03-05 14:07:09.123456");
    }
    ptime GetUniversalNow() const override
    {
        calls.push_back("universal");
        return time_from_string("2024-03-05 13:07:09.123457");
    }
    mutable std::vector<const char*> calls;
};

class MessageBuilderTest : public ::testing::Test
{
protected:
    template <typename... Args>
    std::shared_ptr<Message const> Build(const char* fmt, Args... args)
    {
        return builder.BuildMessage("Net", Severity::Info, "src/net/Socket.src", 7, 0xA7C, fmt, args...);
    }

    FakeClock clock;
    MessageBuilder builder{clock};
};

TEST_F(MessageBuilderTest, FillsEveryFieldOfTheRecord)
{
    static const char zone[] = "Net";
    const auto message = builder.BuildMessage(zone, Severity::Trace, "src/net/Socket.src", 214,
                                              0xFFFF8A2BF010ul, "%s %d", "opened", 3);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text, "opened 3");
    EXPECT_EQ(message->file, "Socket.src");
    EXPECT_EQ(message->severity, Severity::Trace);
    EXPECT_EQ(message->line, 214u);
    EXPECT_EQ(message->threadId, 0xFFFF8A2BF010ul);
    EXPECT_EQ(message->zone, zone);  // the caller's pointer, not a copy
    EXPECT_EQ(message->localTime, time_from_string("2024-03-05 14:07:09.123456"));
    EXPECT_EQ(message->universalTime, time_from_string("2024-03-05 13:07:09.123457"));
    EXPECT_EQ(clock.calls, (std::vector<const char*>{"local", "universal"}));
}

TEST_F(MessageBuilderTest, KeepsANullZone)
{
    const auto message = builder.BuildMessage(nullptr, Severity::Error, "a.src", 1, 0, "x");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->zone, nullptr);
}

TEST_F(MessageBuilderTest, ProducesNoRecordForAnEmptyText)
{
    EXPECT_FALSE(Build("%s", ""));
    EXPECT_FALSE(Build(""));
    EXPECT_FALSE(builder.BuildMessage("Net", Severity::Info, "a.src", 1, 0, nullptr));
    EXPECT_TRUE(clock.calls.empty()) << "no clock reading for a call that logs nothing";
}

TEST_F(MessageBuilderTest, TrimsTrailingControlCharactersButNeverTheFirstCharacter)
{
    struct Case
    {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"done\n", "done"},
        {"done\r\n", "done"},
        {"done\n\t\n\t", "done"},
        {"\n", "\n"},
        {"\n\n\n", "\n"},
        {"\nstarts with a newline", "\nstarts with a newline"},
        {"tab\tinside", "tab\tinside"},
        {"bell\a", "bell"},
        {"del\x7f", "del"},
    };
    for (const auto& c : cases)
    {
        const auto message = Build("%s", c.text);
        ASSERT_TRUE(message) << c.text;
        EXPECT_EQ(message->text, c.expected);
    }
}

TEST_F(MessageBuilderTest, KeepsOnlyTheFileNameOfTheSourcePath)
{
    struct Case
    {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {{"src/net/Socket.src", "Socket.src"},
                          {"/abs/path/main.src", "main.src"},
                          {"main.src", "main.src"},
                          {"src/net/", ""},
                          {"/", ""},
                          {"", ""},
                          {nullptr, ""}};
    for (const auto& c : cases)
    {
        const auto message = builder.BuildMessage("Net", Severity::Info, c.path, 1, 0, "x");
        ASSERT_TRUE(message);
        EXPECT_EQ(message->file, c.expected) << (c.path ? c.path : "(null)");
        if (c.path != nullptr)
        {
            EXPECT_EQ(message->file, std::filesystem::path(c.path).filename().string()) << c.path;
        }
    }
}

// Short texts are formatted on the stack, longer ones into the record: around that limit and far above
// it, every text arrives whole and trimmed.
TEST_F(MessageBuilderTest, FormatsTextsOfAnyLengthWhole)
{
    for (const std::size_t length : {507, 508, 509, 510, 100000})  // texts of 510 to 513 characters
    {
        const std::string text(length, 'x');
        const auto message = Build("%s|%d", text.c_str(), 42);
        ASSERT_TRUE(message) << length;
        EXPECT_EQ(message->text, text + "|42") << length;
        const auto trimmed = Build("%s|%d\r\n", text.substr(2).c_str(), 42);
        ASSERT_TRUE(trimmed) << length;
        EXPECT_EQ(trimmed->text, text.substr(2) + "|42") << length;
    }
}

TEST_F(MessageBuilderTest, GivesTwoCallsTheirOwnRecords)
{
    const auto first = Build("same");
    const auto second = Build("same");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first->text.data(), second->text.data());
}

// Calls the argument-list form, then formats the same list again, as an application's wrapper might.
std::string BuildThenReuse(const IMessageBuilder& builder, std::shared_ptr<Message const>& message,
                           const char* fmt, ...)
{
    std::va_list args;
    va_start(args, fmt);
    message = builder.BuildMessage("Net", Severity::Info, "a.src", 1, 0, fmt, args);
    char again[64];
    std::vsnprintf(again, sizeof(again), fmt, args);
    va_end(args);
    return again;
}

TEST_F(MessageBuilderTest, LeavesTheCallersArgumentListUsable)
{
    std::shared_ptr<Message const> message;
    const std::string again = BuildThenReuse(builder, message, "%d-%s", 7, "seven");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text, "7-seven");
    EXPECT_EQ(again, "7-seven");
}

}  // namespace
}  // namespace ozr::logging
