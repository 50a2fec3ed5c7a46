#include "ozr/logging/appender/console/Appender.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "MessageFactory.h"
#include "TempDirectory.h"
#include "ozr/logging/Logging.h"

namespace ozr::logging::appender::console
{
namespace
{

// Sends `descriptor` to `target` for the lifetime of the object.
class Redirected
{
public:
    Redirected(int descriptor, int target) : descriptor(descriptor), saved(dup(descriptor))
    {
        std::fflush(stdout);
        dup2(target, descriptor);
    }
    ~Redirected()
    {
        dup2(saved, descriptor);
        close(saved);
    }
    Redirected(const Redirected&) = delete;
    Redirected& operator=(const Redirected&) = delete;

private:
    int descriptor;
    int saved;
};

// Sends file descriptors 1 and 2 to files for the lifetime of the object.
class CapturedStandardStreams
{
public:
    CapturedStandardStreams() = default;
    ~CapturedStandardStreams()
    {
        close(outFile);
        close(errFile);
    }
    CapturedStandardStreams(const CapturedStandardStreams&) = delete;
    CapturedStandardStreams& operator=(const CapturedStandardStreams&) = delete;

    std::string Out() const { return ozr::testing::ReadFile(directory / "out"); }
    std::string Err() const { return ozr::testing::ReadFile(directory / "err"); }

private:
    static int Create(const std::filesystem::path& path)
    {
        return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }

    ozr::testing::TempDirectory directory;
    const int outFile = Create(directory / "out");
    const int errFile = Create(directory / "err");
    const Redirected out{STDOUT_FILENO, outFile};
    const Redirected err{STDERR_FILENO, errFile};
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
    EXPECT_EQ(captured.Out(), "") << "nothing is written before the context runs";
    ioContext.run();

    EXPECT_EQ(captured.Out(), expected);
    EXPECT_EQ(captured.Err(), "") << "errors go to standard output too";
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
    EXPECT_EQ(captured.Out(), "only the text\n");
}

// The lines logged while the worker is busy go out together in one write(2) of their own, past stdio's
// buffer: a pipe in packet mode returns each write as one read.
TEST(ConsoleAppender, WritesTheLinesOfABurstInOneWritePastTheStdioBuffer)
{
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    const auto appender = std::make_shared<Appender>(ioContext, formatter);
    int packets[2];
    ASSERT_EQ(pipe2(packets, O_DIRECT | O_CLOEXEC), 0);

    std::string expected;
    {
        const Redirected out(STDOUT_FILENO, packets[1]);
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
    }
    close(packets[1]);
    char packet[4096];
    const ssize_t size = read(packets[0], packet, sizeof packet);
    close(packets[0]);
    EXPECT_EQ(std::string(packet, size > 0 ? static_cast<std::size_t>(size) : 0), expected);
}

// A write that fails costs its lines, counted as dropped; later lines are written.
TEST(ConsoleAppender, KeepsWorkingWhenStandardOutputFails)
{
    boost::asio::io_context ioContext;
    const MessageFormatter formatter;
    const auto appender = std::make_shared<Appender>(ioContext, formatter);
    CapturedStandardStreams captured;
    const auto droppedBefore = GetLoggingStatistics().consoleLinesDropped;

    {
        const int readOnly = open("/dev/null", O_RDONLY | O_CLOEXEC);
        const Redirected unwritable(STDOUT_FILENO, readOnly);
        close(readOnly);
        appender->Log(ozr::testing::MakeMessage("lost"));
        ioContext.run();
    }
    ioContext.restart();
    appender->Log(ozr::testing::MakeMessage("kept"));
    ioContext.run();

    EXPECT_EQ(captured.Out().find("lost"), std::string::npos);
    EXPECT_NE(captured.Out().find("kept"), std::string::npos);
    EXPECT_EQ(GetLoggingStatistics().consoleLinesDropped - droppedBefore, 1u);
}

}  // namespace
}  // namespace ozr::logging::appender::console
