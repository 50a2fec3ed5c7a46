#include "ozr/logging/LoggerConfigProvider.h"

#include <string>

#include <gtest/gtest.h>

#include "TempDirectory.h"

namespace
{

using ozr::logging::LoggerConfig;
using ozr::logging::LoggerConfigProvider;
using ozr::logging::Severity;
using ozr::testing::ReadFile;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

class LoggerConfigProviderTest : public ::testing::Test
{
protected:
    LoggerConfig ReadWith(const std::string& content)
    {
        WriteFile(path, content);
        return LoggerConfigProvider(path).GetConfig();
    }

    TempDirectory temp;
    std::string path = (temp / "Net.Logging.ini").string();
};

TEST_F(LoggerConfigProviderTest, MissingFileGivesWarningAndQueueOn)
{
    const LoggerConfig config = LoggerConfigProvider(path).GetConfig();
    EXPECT_EQ(config.verbosity, Severity::Warning);
    EXPECT_TRUE(config.logQueue);
}

TEST_F(LoggerConfigProviderTest, ReadsLogLevelByName)
{
    struct Case
    {
        std::string text;
        Severity expected;
    };
    const Case cases[] = {
        {"Trace", Severity::Trace},  {"tRaCe", Severity::Trace},   {"All", Severity::Trace},
        {"Warn", Severity::Warning}, {"Msg", Severity::Message},   {"error", Severity::Error},
        {"Print", Severity::Print},  {"Debug", Severity::Warning}, {"Unknown", Severity::Warning},
        {"", Severity::Warning},     {"4", Severity::Warning},
    };
    for (const auto& testCase : cases)
    {
        const std::string content = "[OZRLogging]\nLogLevel=" + testCase.text + "\n";
        EXPECT_EQ(ReadWith(content).verbosity, testCase.expected) << '"' << testCase.text << '"';
    }
    EXPECT_EQ(ReadWith("[Other]\nLogLevel=Trace\n").verbosity, Severity::Warning) << "other section";
}

TEST_F(LoggerConfigProviderTest, ReadsLogQueueAsALeadingNumberThatOnlyZeroTurnsOff)
{
    struct Case
    {
        std::string text;
        bool expected;
    };
    const Case cases[] = {
        {"0", false}, {"00", false},  {" 0", false},   {"0 apples", false}, {"1", true}, {"2", true},
        {"-1", true}, {"true", true}, {"false", true}, {"no", true},        {"", true},
    };
    for (const auto& testCase : cases)
    {
        const std::string content = "[OZRLogging]\nLogQueue=" + testCase.text + "\n";
        EXPECT_EQ(ReadWith(content).logQueue, testCase.expected) << '"' << testCase.text << '"';
    }
}

TEST_F(LoggerConfigProviderTest, SetConfigRewritesOnlyLogLevel)
{
    const std::string before =
        "; zone settings\n[OZRLogging]\nLogLevel=Trace\nLogQueue=0\n\n[FileAppender]\nMaxFileCount=3\n";
    WriteFile(path, before);
    const LoggerConfigProvider provider(path);

    provider.SetConfig(LoggerConfig{Severity::Info, true});

    const std::string expected =
        "; zone settings\n[OZRLogging]\nLogLevel=Info\nLogQueue=0\n\n[FileAppender]\nMaxFileCount=3\n";
    EXPECT_EQ(ReadFile(path), expected);
    const LoggerConfig config = provider.GetConfig();
    EXPECT_EQ(config.verbosity, Severity::Info);
    EXPECT_FALSE(config.logQueue);
}

TEST_F(LoggerConfigProviderTest, OutOfRangeVerbosityIsWrittenAsUnknownAndLogQueueNotAtAll)
{
    const LoggerConfigProvider provider(path);
    provider.SetConfig(LoggerConfig{static_cast<Severity>(9), false});

    const std::string content = ReadFile(path);
    EXPECT_NE(content.find("LogLevel=Unknown"), std::string::npos);
    EXPECT_EQ(content.find("LogQueue"), std::string::npos);
    const LoggerConfig config = provider.GetConfig();
    EXPECT_EQ(config.verbosity, Severity::Warning);
    EXPECT_TRUE(config.logQueue);
}

}  // namespace
