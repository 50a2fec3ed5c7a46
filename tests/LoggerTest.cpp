#include "ozr/logging/Logger.h"

#include <atomic>
#include <forward_list>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "MessageFactory.h"
#include "RecordingAppender.h"
#include "TempDirectory.h"
#include "ozr/config/Ini.h"

namespace
{

using ozr::logging::ILogAppender;
using ozr::logging::Logger;
using ozr::logging::Message;
using ozr::logging::Severity;
using ozr::testing::MakeMessage;
using ozr::testing::ReadFile;
using ozr::testing::RecordingAppender;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;
using AppenderList = std::forward_list<std::shared_ptr<ILogAppender>>;

// Calls back for every message it is given, before recording it in the journal.
class CallbackAppender : public ILogAppender
{
public:
    explicit CallbackAppender(std::vector<std::string>* journal) : journal(journal) {}
    void Log(std::shared_ptr<Message const> message) override
    {
        journal->push_back("callback:" + message->text);
        if (onMessage)
        {
            onMessage(*message);
        }
    }
    std::function<void(const Message&)> onMessage;

private:
    std::vector<std::string>* journal;
};

class LoggerTest : public ::testing::Test
{
protected:
    std::shared_ptr<Logger> MakeLogger(AppenderList appenders)
    {
        return std::make_shared<Logger>(context, path, std::move(appenders));
    }

    std::string LogLevelInFile() const
    {
        return ozr::config::ini::ReadString(std::string("OZRLogging"), "LogLevel", "(absent)", path);
    }

    // Runs the context until it has no work left, going on after each exception an appender throws, as
    // the worker does.
    int RunDiscardingExceptions()
    {
        int exceptions = 0;
        for (;;)
        {
            try
            {
                context.run();
                return exceptions;
            }
            catch (const std::runtime_error&)
            {
                ++exceptions;
            }
        }
    }

    TempDirectory temp;
    std::string path = (temp / "Net.Logging.ini").string();
    boost::asio::io_context context;
};

TEST_F(LoggerTest, DeliversEachMessageToEveryAppenderInListOrder)
{
    std::vector<std::string> journal;
    auto logger = MakeLogger({std::make_shared<RecordingAppender>(&journal, "file"),
                              std::make_shared<RecordingAppender>(&journal, "console"),
                              std::make_shared<RecordingAppender>(&journal, "syslog")});
    logger->Log(MakeMessage("one"));
    logger->Log(MakeMessage("two"));
    context.run();

    const std::vector<std::string> expected{"file:one", "console:one", "syslog:one",
                                            "file:two", "console:two", "syslog:two"};
    EXPECT_EQ(journal, expected);
}

TEST_F(LoggerTest, ManyMessagesFromOneThreadArriveInOrderOnTheRunningContext)
{
    auto appender = std::make_shared<RecordingAppender>();
    auto logger = MakeLogger({appender});
    auto guard = boost::asio::make_work_guard(context);
    std::thread worker([this] { context.run(); });

    constexpr int count = 20000;
    for (int i = 0; i < count; ++i)
    {
        logger->Log(MakeMessage(std::to_string(i)));
    }
    guard.reset();
    worker.join();

    const auto texts = appender->Texts();
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
    {
        ASSERT_EQ(texts[i], std::to_string(i));
    }
}

TEST_F(LoggerTest, QueuesWhileNoOneRunsTheContextWhateverLogQueueSays)
{
    WriteFile(path, "[OZRLogging]\nLogQueue=0\n");
    auto appender = std::make_shared<RecordingAppender>();
    auto logger = MakeLogger({appender});
    auto silent = MakeLogger({});

    logger->Log(MakeMessage("queued"));
    silent->Log(MakeMessage("nobody listens"));
    EXPECT_EQ(appender->Count(), 0u);

    context.run();
    EXPECT_EQ(appender->Texts(), std::vector<std::string>{"queued"});
}

TEST_F(LoggerTest, LogFromInsideItsOwnDeliveryRunsInlineBeforeTheNextAppender)
{
    std::vector<std::string> journal;
    auto reentrant = std::make_shared<CallbackAppender>(&journal);
    auto logger = MakeLogger({reentrant, std::make_shared<RecordingAppender>(&journal, "recorder")});
    Logger* raw = logger.get();  // a plain pointer: the appender must not keep its logger alive
    reentrant->onMessage = [raw](const Message& message)
    {
        if (message.text == "outer")
        {
            raw->Log(MakeMessage("inner"));
        }
    };

    logger->Log(MakeMessage("outer"));
    context.run();

    const std::vector<std::string> expected{"callback:outer", "callback:inner", "recorder:inner",
                                            "recorder:outer"};
    EXPECT_EQ(journal, expected);
}

TEST_F(LoggerTest, QueuedTaskKeepsItsLoggerAliveAfterTheLastOutsideReferenceIsGone)
{
    auto appender = std::make_shared<RecordingAppender>();
    auto logger = MakeLogger({appender});
    std::weak_ptr<Logger> watcher = logger;
    logger->Log(MakeMessage("late"));
    logger.reset();

    EXPECT_FALSE(watcher.expired());
    context.run();
    EXPECT_EQ(appender->Texts(), std::vector<std::string>{"late"});
    EXPECT_TRUE(watcher.expired());
}

TEST_F(LoggerTest, TaskLeftOnAContextThatNeverRunsAgainIsDestroyedSafely)
{
    auto appender = std::make_shared<RecordingAppender>();
    std::weak_ptr<Logger> watcher;
    {
        boost::asio::io_context abandoned;
        auto logger = std::make_shared<Logger>(abandoned, path, AppenderList{appender});
        watcher = logger;
        logger->Log(MakeMessage("never delivered"));
        logger.reset();
        EXPECT_FALSE(watcher.expired());
    }  // destroying the context destroys the task, and with it the last reference to the logger
    EXPECT_TRUE(watcher.expired());
    EXPECT_EQ(appender->Count(), 0u);
    EXPECT_EQ(appender.use_count(), 1);
}

TEST_F(LoggerTest, AppenderThatThrowsEndsOnlyThatMessage)
{
    auto first = std::make_shared<RecordingAppender>();
    auto second = std::make_shared<RecordingAppender>();
    first->throwOn = 2;
    auto logger = MakeLogger({first, second});
    for (const char* text : {"m1", "m2", "m3", "m4"})
    {
        logger->Log(MakeMessage(text));
    }

    EXPECT_EQ(RunDiscardingExceptions(), 1);
    const std::vector<std::string> expected{"m1", "m3", "m4"};
    EXPECT_EQ(first->Texts(), expected);
    EXPECT_EQ(second->Texts(), expected) << "the appender after the thrower does not get m2";

    logger->Log(MakeMessage("m5"));
    context.restart();
    context.run();
    EXPECT_EQ(second->Texts().back(), "m5");
}

TEST_F(LoggerTest, ReadsVerbosityWhenMadeAndWritesItBackAlsoWhenUnchangedOrOutOfRange)
{
    WriteFile(path, "[OZRLogging]\nLogLevel=info\n");
    auto logger = MakeLogger({});
    ASSERT_EQ(logger->GetVerbosity(), Severity::Info);

    logger->SetVerbosity(Severity::Info);
    EXPECT_EQ(LogLevelInFile(), "Info") << "rewritten in canonical form although unchanged";

    const auto outOfRange = static_cast<Severity>(42);
    logger->SetVerbosity(outOfRange);
    EXPECT_EQ(logger->GetVerbosity(), outOfRange);
    EXPECT_EQ(LogLevelInFile(), "Unknown");
    EXPECT_EQ(MakeLogger({})->GetVerbosity(), Severity::Warning) << "the next logger reads Unknown";
}

TEST_F(LoggerTest, SetVerbosityKeepsTheNewValueWhenTheWriteFails)
{
    WriteFile(temp / "blocker", "");  // a regular file where the settings directory would have to be
    auto logger =
        std::make_shared<Logger>(context, (temp / "blocker" / "Net.Logging.ini").string(), AppenderList{});

    EXPECT_ANY_THROW(logger->SetVerbosity(Severity::Trace));
    EXPECT_EQ(logger->GetVerbosity(), Severity::Trace);
    EXPECT_ANY_THROW(logger->SetVerbosity(Severity::Error)) << "the lock was released after the throw";
    EXPECT_EQ(logger->GetVerbosity(), Severity::Error);
}

TEST_F(LoggerTest, ShutDownLoggerStillDeliversAndWritesItsVerbosity)
{
    auto appender = std::make_shared<RecordingAppender>();
    auto logger = MakeLogger({appender});
    EXPECT_FALSE(logger->IsShutdown());

    logger->Shutdown();
    EXPECT_TRUE(logger->IsShutdown());
    logger->Log(MakeMessage("after shutdown"));
    logger->SetVerbosity(Severity::Trace);
    context.run();

    EXPECT_EQ(appender->Texts(), std::vector<std::string>{"after shutdown"});
    EXPECT_EQ(LogLevelInFile(), "Trace");
    EXPECT_TRUE(logger->IsShutdown());
}

TEST_F(LoggerTest, ReadersSeeOnlyWrittenVerbositiesWhileAWriterChangesIt)
{
    auto appender = std::make_shared<RecordingAppender>();
    auto logger = MakeLogger({appender});
    logger->SetVerbosity(Severity::Info);
    auto guard = boost::asio::make_work_guard(context);
    std::thread worker([this] { context.run(); });

    std::atomic<bool> writing{true};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
    {
        readers.emplace_back(
            [&]
            {
                while (writing)
                {
                    const Severity seen = logger->GetVerbosity();
                    if (seen != Severity::Info && seen != Severity::Trace)
                    {
                        ++unexpected;
                    }
                    logger->IsShutdown();
                    logger->Log(MakeMessage("concurrent"));
                }
            });
    }
    for (int i = 0; i < 100; ++i)
    {
        logger->SetVerbosity(i % 2 == 0 ? Severity::Trace : Severity::Info);
    }
    logger->Shutdown();
    writing = false;
    for (auto& reader : readers)
    {
        reader.join();
    }
    guard.reset();
    worker.join();

    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(logger->GetVerbosity(), Severity::Info);
    EXPECT_EQ(LogLevelInFile(), "Info");
    EXPECT_TRUE(logger->IsShutdown());
}

}  // namespace
