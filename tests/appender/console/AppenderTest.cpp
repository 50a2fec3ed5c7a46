#include "ozr/logging/appender/console/Appender.h"

#include <iostream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "MessageFactory.h"

namespace ozr::logging::appender::console
{
namespace
{

// Redirects std::cout and std::cerr into strings for the lifetime of the object.
class CapturedStandardStreams
{
public:
    CapturedStandardStreams() : out(std::cout.rdbuf(outText.rdbuf())), err(std::cerr.rdbuf(errText.rdbuf()))
    {
    }
    ~CapturedStandardStreams()
    {
        std::cout.rdbuf(out);
        std::cerr.rdbuf(err);
    }
    std::ostringstream outText;
    std::ostringstream errText;

private:
    std::streambuf* out;
    std::streambuf* err;
};

TEST(ConsoleAppender, WritesEveryMessageAsOneLineInOrderOnTheContext)
{
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    auto appender = std::make_shared<Appender>(ioContext, formatter);
    CapturedStandardStreams captured;

    std::string expected;
    for (int value = 0; value < 6; ++value)
    {
        const auto message =
            ozr::testing::MakeMessage("line " + std::to_string(value), static_cast<Severity>(value));
        expected += formatter.PrintMessage(*message);
        appender->Log(message);
    }
    EXPECT_EQ(captured.outText.str(), "") << "nothing is written before the context runs";
    ioContext.run();

    EXPECT_EQ(captured.outText.str(), expected);
    EXPECT_EQ(captured.errText.str(), "") << "errors go to standard output too";
}

// An application's own formatter, given to the appender instead of the library's.
class TextOnlyFormatter final : public IMessageFormatter
{
public:
    void PrintMessage(std::ostream& stream, const Message& message) const override
    {
        stream << PrintMessage(message);
    }
    std::string PrintMessage(const Message& message) const override { return message.text + "\n"; }
};

TEST(ConsoleAppender, WritesWhatTheFormatterItWasGivenMakes)
{
    boost::asio::io_context ioContext;
    const TextOnlyFormatter formatter;
    auto appender = std::make_shared<Appender>(ioContext, formatter);
    CapturedStandardStreams captured;
    appender->Log(ozr::testing::MakeMessage("only the text"));
    ioContext.run();
    EXPECT_EQ(captured.outText.str(), "only the text\n");
}

// Counts the writes that reach it and the flushes.
struct CountingBuffer : std::stringbuf
{
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        ++writes;
        return std::stringbuf::xsputn(text, count);
    }
    int sync() override
    {
        ++flushes;
        return 0;
    }
    int writes = 0;
    int flushes = 0;
};

// The lines logged while the worker is busy go out together in one write, and the stream is flushed after
// it, so nothing waits in a buffer.
TEST(ConsoleAppender, WritesTheLinesOfABurstInOneWriteAndFlushes)
{
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    const auto appender = std::make_shared<Appender>(ioContext, formatter);
    CountingBuffer buffer;
    std::streambuf* const standardOutput = std::cout.rdbuf(&buffer);

    std::string expected;
    boost::asio::post(ioContext,
                      [&]
                      {
                          for (const char* text : {"first", "second", "third"})
                          {
                              const auto message = ozr::testing::MakeMessage(text);
                              expected += formatter.PrintMessage(*message);
                              appender->Log(message);
                          }
                      });
    ioContext.run();
    std::cout.rdbuf(standardOutput);
    EXPECT_EQ(buffer.str(), expected);
    EXPECT_EQ(buffer.writes, 1);
    EXPECT_GE(buffer.flushes, 1);
}

TEST(ConsoleAppender, KeepsWorkingWhenStandardOutputFails)
{
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    const auto appender = std::make_shared<Appender>(ioContext, formatter);
    CapturedStandardStreams captured;

    std::cout.setstate(std::ios::badbit);
    appender->Log(ozr::testing::MakeMessage("lost"));
    ioContext.run();
    std::cout.clear();
    ioContext.restart();

    appender->Log(ozr::testing::MakeMessage("kept"));
    ioContext.run();
    EXPECT_EQ(captured.outText.str().find("lost"), std::string::npos);
    EXPECT_NE(captured.outText.str().find("kept"), std::string::npos);
}

}  // namespace
}  // namespace ozr::logging::appender::console
