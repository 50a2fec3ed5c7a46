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

TEST(ConsoleAppender, WritesAtOnceOnTheThreadRunningTheContext)
{
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    const auto appender = std::make_shared<Appender>(ioContext, formatter);
    CapturedStandardStreams captured;

    bool writtenInsideLog = false;
    boost::asio::post(ioContext,
                      [&]
                      {
                          appender->Log(ozr::testing::MakeMessage("first"));
                          writtenInsideLog = captured.outText.str().find("first") != std::string::npos;
                      });
    ioContext.run();
    EXPECT_TRUE(writtenInsideLog);
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
