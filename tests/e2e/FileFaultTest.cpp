// Log files that cannot be written as usual: a file-size limit below the rotation size, a FIFO in place of
// the current file. The process goes on, and what cannot be written is dropped whole and counted.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "Scenario.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::ReadFile;
using ozr::testing::ReadLines;
using ozr::testing::RunChild;
using ozr::testing::Texts;

using FileFaultTest = ozr::testing::Scenario;

void LogNumbered(const char* zone, int from, int to)
{
    for (int number = from; number < to; ++number)
    {
        ToLog(zone, Severity::Error, __FILE__, __LINE__, 1, "line %d", number);
    }
}

std::vector<std::string> Numbered(int count)
{
    std::vector<std::string> texts;
    for (int number = 0; number < count; ++number)
    {
        texts.push_back("line " + std::to_string(number));
    }
    return texts;
}

// "<written> <dropped>": the file lines counted between two readings.
std::string FileCounts(const LoggingStatistics& before, const LoggingStatistics& after)
{
    return std::to_string(after.fileLinesWritten - before.fileLinesWritten) + " " +
           std::to_string(after.fileLinesDropped - before.fileLinesDropped);
}

// A write past RLIMIT_FSIZE raises SIGXFSZ, whose default action ends the process. Here the limit is hit by
// the worker, writing the zone's file and a standard output sent to a file, then by the exit drain on the
// exiting thread. The process ends normally, and the log file holds the lines that fitted, each whole.
TEST_F(FileFaultTest, AFileSizeLimitDropsWholeLinesAndTheProcessGoesOn)
{
    constexpr rlim_t Limit = 20000;  // far below the rotation size; about 200 lines
    constexpr int LoggedByTheWorker = 400;
    constexpr int LoggedAtExit = 50;
    const std::filesystem::path counts = root / "counts.txt";
    EXPECT_TRUE(RunChild(
        [&]
        {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = Limit;
            setrlimit(RLIMIT_FSIZE, &limit);
            std::freopen((root / "stdout.txt").c_str(), "w", stdout);
            InitialiseLogging("Net");
            const LoggingStatistics before = GetLoggingStatistics();
            LogNumbered("Net", 0, LoggedByTheWorker);
            FlushLogging();
            ozr::testing::WriteFile(counts, FileCounts(before, GetLoggingStatistics()));
            ShutdownLogging("Net");
            std::freopen("/dev/null", "w", stdout);
            LogNumbered("Net", LoggedByTheWorker, LoggedByTheWorker + LoggedAtExit);  // written at exit
        }));

    const std::string content = ReadFile(LogFile("Net"));
    EXPECT_LE(content.size(), Limit);
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(content.back(), '\n') << "a fragment at the end";
    const std::vector<std::string> texts = Texts(ReadLines(LogFile("Net")));
    const std::vector<std::string> all = Numbered(LoggedByTheWorker + LoggedAtExit);
    ASSERT_LT(texts.size(), static_cast<std::size_t>(LoggedByTheWorker));
    EXPECT_EQ(texts, std::vector<std::string>(all.begin(), all.begin() + texts.size()));
    EXPECT_EQ(ReadFile(counts),
              std::to_string(texts.size()) + " " + std::to_string(LoggedByTheWorker - texts.size()));
}

// A FIFO put where a zone's current file belongs, read by nobody or by a reader, is refused: its lines are
// dropped and counted, nothing reaches the reader, and neither the other zones nor the shutdown wait.
TEST_F(FileFaultTest, AFifoInPlaceOfTheCurrentFileIsRefusedWithoutWaiting)
{
    std::filesystem::create_directories(logs);
    ASSERT_EQ(mkfifo(LogFile("Unread").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(LogFile("Read").c_str(), 0600), 0);
    const int reader = open(LogFile("Read").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::filesystem::path counts = root / "counts.txt";
    EXPECT_TRUE(RunChild(
        [&]
        {
            std::freopen("/dev/null", "w", stdout);
            for (const char* zone : {"Unread", "Read", "Ok"})
            {
                InitialiseLogging(zone);
            }
            const LoggingStatistics before = GetLoggingStatistics();
            LogNumbered("Unread", 0, 5);
            LogNumbered("Read", 0, 5);
            LogNumbered("Ok", 0, 1);
            FlushLogging();
            ozr::testing::WriteFile(counts, FileCounts(before, GetLoggingStatistics()));
            for (const char* zone : {"Unread", "Read", "Ok"})
            {
                ShutdownLogging(zone);
            }
        }));

    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0) << "a line reached the FIFO's reader";
    close(reader);
    EXPECT_EQ(ReadFile(counts), "1 10");
    EXPECT_EQ(Texts(ReadLines(LogFile("Ok"))), Numbered(1));
}

}  // namespace
