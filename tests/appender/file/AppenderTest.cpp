#include "ozr/logging/appender/file/Appender.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "MessageFactory.h"
#include "SyscallFaults.h"
#include "TempDirectory.h"
#include "Unprivileged.h"
#include "ozr/logging/Logging.h"
#include "ozr/logging/appender/MessageFormatter.h"

namespace
{

namespace fs = std::filesystem;
using ozr::logging::Severity;
using ozr::logging::appender::MessageFormatter;
using ozr::logging::appender::file::Appender;
using ozr::logging::appender::file::Config;
using ozr::logging::appender::file::RotationInterval;
using ozr::testing::MakeMessage;
using ozr::testing::ReadFile;
using ozr::testing::WriteFile;

constexpr std::uint64_t Unlimited = std::numeric_limits<std::uint64_t>::max();

class FileAppenderTest : public ::testing::Test
{
protected:
    std::shared_ptr<Appender> MakeAppender(std::uint64_t maxFileSize, std::uint64_t maxFileCount,
                                           bool enabled = true,
                                           RotationInterval interval = RotationInterval::Never)
    {
        Config config{directory, "Net", maxFileSize, maxFileCount, enabled};
        config.rotationInterval = interval;
        return std::make_shared<Appender>(ioContext, formatter, std::move(config));
    }

    // Runs the queued write jobs on this thread.
    void Run()
    {
        ioContext.restart();
        ioContext.run();
    }

    void LogAndRun(Appender& appender, const std::string& text)
    {
        appender.Log(MakeMessage(text));
        Run();
    }

    std::string Line(const std::string& text, std::uint64_t threadId = 0xA7C) const
    {
        return formatter.PrintMessage(*MakeMessage(text, Severity::Info, "Test", threadId));
    }

    fs::path File(const std::string& index) const { return directory / ("Net." + index + ".txt"); }

    // File name -> content of everything in the log directory.
    std::map<std::string, std::string> Contents() const
    {
        std::map<std::string, std::string> contents;
        for (const auto& entry : fs::directory_iterator(directory))
        {
            contents[entry.path().filename().string()] = ReadFile(entry.path());
        }
        return contents;
    }

    ozr::testing::TempDirectory temporary;
    const fs::path directory = temporary / "logs";
    boost::asio::io_context ioContext;
    MessageFormatter formatter;
};

TEST_F(FileAppenderTest, NamesFilesWithAtLeastTwoIndexDigits)
{
    const auto appender = MakeAppender(Unlimited, 6);
    const std::vector<std::pair<std::uint64_t, std::string>> cases{
        {0, "Net.00.txt"},
        {5, "Net.05.txt"},
        {10, "Net.10.txt"},
        {99, "Net.99.txt"},
        {100, "Net.100.txt"},
        {123, "Net.123.txt"},
        {Unlimited, "Net.18446744073709551615.txt"}};
    for (const auto& [index, name] : cases)
    {
        EXPECT_EQ(appender->GetLogFileName(index), name);
        EXPECT_EQ(appender->GetLogFilePath(index), directory / name);
    }
}

TEST_F(FileAppenderTest, AppendsExactLinesAndContinuesAnExistingCurrentFile)
{
    fs::create_directories(directory);
    WriteFile(File("00"), "before restart\n");
    const auto appender = MakeAppender(Unlimited, 6);
    appender->Log(nullptr);
    appender->Log(MakeMessage("first"));
    appender->Log(MakeMessage("second\nwith a line feed"));
    Run();
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{
                  {"Net.00.txt", "before restart\n" + Line("first") + Line("second\nwith a line feed")}}));
}

TEST_F(FileAppenderTest, DisabledAppenderCreatesTheDirectoryButNoFile)
{
    const auto appender = MakeAppender(0, 6, false);
    ASSERT_TRUE(fs::is_directory(directory));
    LogAndRun(*appender, "ignored");
    EXPECT_TRUE(fs::is_empty(directory));
}

TEST_F(FileAppenderTest, ADirectoryThatCannotBeCreatedFailsTheConstructor)
{
    const fs::path blocker = temporary / "plain";
    WriteFile(blocker, "a file, not a directory");
    EXPECT_THROW(
        std::make_shared<Appender>(ioContext, formatter, Config{blocker / "logs", "Net", Unlimited, 6, true}),
        fs::filesystem_error);
}

TEST_F(FileAppenderTest, RotatesOnlyAfterTheLineThatExceedsTheLimit)
{
    const auto appender = MakeAppender(2 * Line("m").size(), 6);
    LogAndRun(*appender, "m");
    LogAndRun(*appender, "m");
    EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"Net.00.txt", Line("m") + Line("m")}}));

    LogAndRun(*appender, "m");
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{{"Net.01.txt", Line("m") + Line("m") + Line("m")}}));

    LogAndRun(*appender, "next");
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{{"Net.00.txt", Line("next")},
                                                  {"Net.01.txt", Line("m") + Line("m") + Line("m")}}));
}

// A record stamped with the local time "YYYY-MM-DD hh:mm:ss".
std::shared_ptr<ozr::logging::Message const> MessageAt(const std::string& text, const std::string& localTime)
{
    ozr::logging::Message message = *MakeMessage(text);
    message.localTime = boost::posix_time::time_from_string(localTime);
    return std::make_shared<const ozr::logging::Message>(std::move(message));
}

// The time_t of a local time "YYYY-MM-DD hh:mm:ss" in the time zone in force.
std::time_t LocalTimeT(const std::string& localTime)
{
    const boost::posix_time::ptime time = boost::posix_time::time_from_string(localTime);
    std::tm local = boost::posix_time::to_tm(time);
    local.tm_isdst = -1;
    return std::mktime(&local);
}

struct TimedLine
{
    const char* time;
    const char* text;
};

struct TimeRotationCase
{
    const char* description;
    RotationInterval interval;
    std::uint64_t linesPerFile;  // the size limit, in lines of `texts`' length
    std::vector<TimedLine> lines;
    std::map<std::string, std::vector<const char*>> expected;  // file index -> texts
};

// Each case is handed over as one batch, so the rotations happen between the right two lines of it.
TEST_F(FileAppenderTest, RotatesByTimeBeforeTheFirstLineOfALaterHourOrDayWithinOneBatch)
{
    const std::vector<TimeRotationCase> cases{
        {"across midnight, and a clock set back rotates nothing",
         RotationInterval::Daily,
         100,
         {{"2024-03-05 23:59:58", "a"},
          {"2024-03-05 23:59:59", "b"},
          {"2024-03-06 00:00:00", "c"},
          {"2024-03-05 23:30:00", "d"},
          {"2024-03-05 23:59:00", "e"}},
         {{"01", {"a", "b"}}, {"00", {"c", "d", "e"}}}},
        {"across an hour, with a size rotation within it",
         RotationInterval::Hourly,
         2,
         {{"2024-03-05 14:01:00", "a"},
          {"2024-03-05 14:02:00", "b"},
          {"2024-03-05 14:03:00", "c"},
          {"2024-03-05 14:59:59", "d"},
          {"2024-03-05 15:00:00", "e"},
          {"2024-03-06 15:00:00", "f"}},
         {{"03", {"a", "b", "c"}}, {"02", {"d"}}, {"01", {"e"}}, {"00", {"f"}}}},
        {"never: only the size counts",
         RotationInterval::Never,
         100,
         {{"2024-03-05 23:59:59", "a"}, {"2024-03-06 00:00:00", "b"}},
         {{"00", {"a", "b"}}}},
    };
    const std::uint64_t lineSize = formatter.PrintMessage(*MessageAt("a", "2024-03-05 14:01:00")).size();
    for (const auto& rotation : cases)
    {
        SCOPED_TRACE(rotation.description);
        fs::remove_all(directory);
        const auto appender = MakeAppender(rotation.linesPerFile * lineSize, 6, true, rotation.interval);
        std::map<std::string, std::string> lineOf;
        for (const auto& [time, text] : rotation.lines)
        {
            const auto message = MessageAt(text, time);
            lineOf[text] = formatter.PrintMessage(*message);
            appender->Log(message);
        }
        Run();
        std::map<std::string, std::string> expected;
        for (const auto& [index, texts] : rotation.expected)
        {
            for (const char* text : texts)
            {
                expected[File(index).filename().string()] += lineOf[text];
            }
        }
        EXPECT_EQ(Contents(), expected);
    }
}

// After a restart the current file's last line is taken to be as old as the file's modification time. A
// rotation that fails is not retried before every line of the batch.
TEST_F(FileAppenderTest, AfterARestartTheCurrentFileIsJudgedByItsModificationTime)
{
    const auto startWith = [this](const std::string& modified)
    {
        fs::remove_all(directory);
        fs::create_directories(directory);
        WriteFile(File("00"), "old\n");
        const std::time_t time = LocalTimeT(modified);
        const utimbuf times{time, time};
        ASSERT_EQ(utime(File("00").c_str(), &times), 0);
    };
    const auto logAt = [this](const std::string& time)
    {
        const auto appender = MakeAppender(Unlimited, 3, true, RotationInterval::Daily);
        const auto message = MessageAt("new", time);
        appender->Log(message);
        Run();
        return formatter.PrintMessage(*message);
    };

    startWith("2024-03-05 22:00:00");
    const std::string sameDay = logAt("2024-03-05 23:59:59");
    EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"Net.00.txt", "old\n" + sameDay}}));

    startWith("2024-03-05 22:00:00");
    const std::string nextMorning = logAt("2024-03-06 08:00:00");
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{{"Net.01.txt", "old\n"}, {"Net.00.txt", nextMorning}}));

    startWith("2024-03-07 10:00:00");  // the clock was set back while the process did not run
    const std::string setBack = logAt("2024-03-06 08:00:00");
    EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"Net.00.txt", "old\n" + setBack}}));

    startWith("2024-03-05 22:00:00");
    fs::create_directories(File("02") / "blocker");  // cannot be removed: every rotation fails
    const auto appender = MakeAppender(Unlimited, 3, true, RotationInterval::Daily);
    for (const char* time : {"2024-03-06 08:00:00", "2024-03-06 09:00:00", "2024-03-07 08:00:00"})
    {
        appender->Log(MessageAt("kept", time));
    }
    EXPECT_NO_THROW(Run());
    const std::string text = ReadFile(File("00"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
}

// Each existing file holds its own index name; after one rotating message, `expected` maps the file
// names that must exist to the file whose content they now hold ("00" also holds the new line).
struct RotationCase
{
    const char* description;
    std::uint64_t maxFileCount;
    std::vector<std::string> existing;
    std::map<std::string, std::string> expected;
};

// A burst handed over while the context is busy is written as one batch, yet rotates after exactly the
// lines that take the file past the limit: the rest of the batch goes on in the new current file, and a
// file exactly at the limit is not rotated.
TEST_F(FileAppenderTest, ABurstRotatesInsideItsBatchAfterTheSameLinesAsSingleWrites)
{
    const std::uint64_t lineSize = Line("0").size();
    const auto appender = MakeAppender(2 * lineSize, 10);
    for (const char* text : {"1", "2", "3", "4", "5", "6", "7", "8"})
    {
        appender->Log(MakeMessage(text));
    }
    Run();
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{{"Net.02.txt", Line("1") + Line("2") + Line("3")},
                                                  {"Net.01.txt", Line("4") + Line("5") + Line("6")},
                                                  {"Net.00.txt", Line("7") + Line("8")}}));
}

// A burst delivered on the worker is cut into bounded batches, so the file is closed again every few
// hundred lines however long the burst.
TEST_F(FileAppenderTest, ALongBurstIsWrittenInBoundedBatches)
{
    ozr::testing::SyscallFaults calls(temporary.Path());
    const auto appender = MakeAppender(Unlimited, 6);
    boost::asio::post(ioContext,
                      [&appender]
                      {
                          for (int number = 0; number < 1000; ++number)
                          {
                              appender->Log(MakeMessage("line " + std::to_string(number)));
                          }
                      });
    Run();
    EXPECT_GE(calls.Calls(ozr::testing::Syscall::Open), 4);
    const std::string text = ReadFile(File("00"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1000);
}

// The same random sequence of messages (sizes, limits 0 and exactly at the limit, a current file larger
// than the limit from an earlier run) written in batches and written one line at a time gives the same
// files, byte for byte.
TEST_F(FileAppenderTest, BatchesWriteTheSameFilesAsOneLineAtATime)
{
    std::mt19937 random(20241208);
    const std::uint64_t shortLine = Line("").size();
    for (const std::uint64_t limit : {std::uint64_t{0}, 3 * (shortLine + 5), shortLine * 7 + 123, Unlimited})
    {
        SCOPED_TRACE("limit " + std::to_string(limit));
        std::vector<std::string> texts;
        for (int number = 0; number < 700; ++number)
        {
            texts.push_back(
                std::string(random() % 3 != 0 ? 5 : random() % 400, static_cast<char>('a' + number % 26)));
        }
        std::map<std::string, std::string> results[2];
        for (const bool batched : {true, false})
        {
            fs::remove_all(directory);
            const auto appender = MakeAppender(limit, 5);
            WriteFile(File("00"), std::string(limit == Unlimited ? 10 : limit + 1, 'x') + "\n");
            for (const auto& text : texts)
            {
                appender->Log(MakeMessage(text));
                if (!batched)
                {
                    Run();
                }
            }
            Run();
            results[batched] = Contents();
        }
        EXPECT_EQ(results[true], results[false]);
        EXPECT_GE(results[true].size(), limit == Unlimited ? 1u : 4u);
        if (limit == 3 * (shortLine + 5))
        {
            // A file that held whole lines of exactly `limit` bytes was kept until the next line.
            EXPECT_TRUE(std::any_of(results[true].begin(), results[true].end(),
                                    [limit](const auto& file)
                                    { return file.second.size() > limit && file.second[limit - 1] == '\n'; }))
                << "no file was ever exactly at the limit";
        }
    }
}

// Three batches (two rotating) with one system call of the first two made to fail: every call in turn,
// with EINTR, ENOSPC, EIO, and a short count followed by a full disk. No log file may then hold a
// fragment or a line out of order; an interrupted call loses nothing; the third batch is written whole.
TEST_F(FileAppenderTest, AFailingSystemCallLeavesNoFragmentAndSparesLaterLines)
{
    const std::uint64_t lineSize = Line("batch 0 line 0").size();
    std::vector<std::vector<std::string>> batches;
    std::vector<std::string> expected;
    for (int batch = 0; batch < 3; ++batch)
    {
        batches.emplace_back();
        for (int line = 0; line < (batch == 2 ? 3 : 6); ++line)
        {
            batches.back().push_back("batch " + std::to_string(batch) + " line " + std::to_string(line));
            expected.push_back(Line(batches.back().back()));
        }
    }
    // The log files from the oldest to the current one, as lines.
    const auto writtenLines = [this]
    {
        std::vector<std::string> lines;
        for (const char* index : {"02", "01", "00"})
        {
            std::istringstream text(fs::exists(File(index)) ? ReadFile(File(index)) : "");
            for (std::string line; std::getline(text, line);)
            {
                lines.push_back(line + "\n");
            }
        }
        return lines;
    };
    const auto run = [&](bool countOnly)
    {
        const auto appender = MakeAppender(4 * lineSize, 3);
        for (std::size_t batch = 0; batch < batches.size(); ++batch)
        {
            if (batch == 2 && countOnly)
            {
                return;
            }
            for (const auto& text : batches[batch])
            {
                appender->Log(MakeMessage(text));
            }
            Run();
        }
    };

    using ozr::testing::Fault;
    using ozr::testing::Syscall;
    ozr::testing::SyscallFaults faults(temporary.Path());
    run(false);
    const std::vector<std::string> cleanRun = writtenLines();
    for (const Syscall call :
         {Syscall::Open, Syscall::Write, Syscall::Fstat, Syscall::Close, Syscall::Ftruncate, Syscall::Rename})
    {
        fs::remove_all(directory);
        faults.Reset();
        run(true);
        const int calls = std::max(faults.Calls(call), 1);
        for (int nth = 1; nth <= calls; ++nth)
        {
            for (const int error : {EINTR, ENOSPC, EIO, 0})
            {
                SCOPED_TRACE(std::string(ozr::testing::NameOf(call)) + " call " + std::to_string(nth) +
                             " error " + std::to_string(error));
                fs::remove_all(directory);
                faults.Reset();
                if (error != 0)
                {
                    faults.Add(Fault::Failing(call, nth, error));
                }
                else if (call == Syscall::Write)
                {
                    faults.Add(Fault::ShortWrite(nth, lineSize + 7))
                        .Add(Fault::Failing(call, nth + 1, ENOSPC));
                }
                const auto before = ozr::logging::GetLoggingStatistics();
                run(false);
                faults.Reset();
                const auto after = ozr::logging::GetLoggingStatistics();
                const std::uint64_t dropped = after.fileLinesDropped - before.fileLinesDropped;
                EXPECT_EQ(after.fileLinesWritten - before.fileLinesWritten + dropped, expected.size());
                const auto lines = writtenLines();
                auto next = expected.begin();
                for (const auto& line : lines)
                {
                    next = std::find(next, expected.end(), line);
                    ASSERT_NE(next, expected.end()) << "a fragment or a line out of order: " << line;
                }
                const std::vector<std::string> lastBatch(expected.end() - 3, expected.end());
                ASSERT_GE(lines.size(), 3u);
                EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), lastBatch);
                if (error == EINTR)  // a rotation interrupted in its directory listing retains more
                {
                    EXPECT_THAT(lines, ::testing::IsSupersetOf(cleanRun));
                    EXPECT_EQ(dropped, 0u);
                }
                else if (call == Syscall::Write)
                {
                    EXPECT_EQ(dropped, 1u) << "only the line whose write failed is lost";
                }
            }
        }
    }
}

// A write that stops inside the second of three lines, then a full disk for that line: the cut-back
// removes that line's fragment and nothing else, from where the line began in the file as it was at that
// moment, while other writers append to it or a tool truncates it.
TEST_F(FileAppenderTest, TheCutAfterAPartialWriteRemovesOnlyItsOwnFragment)
{
    using ozr::testing::Fault;
    using ozr::testing::Syscall;
    const std::string other = "another process's line\n";
    const auto appendOther = [&other](const std::string& path) { WriteFile(path, ReadFile(path) + other); };
    const auto truncate = [](const std::string& path) { WriteFile(path, ""); };
    const std::string first = Line("first");
    const std::string fragment = Line("second").substr(0, 7);
    const std::string third = Line("third");
    struct Case
    {
        const char* description;
        int nthWrite;  // the call that the other writer comes before: 1 the short write, 2 the failing one
        std::function<void(const std::string&)> otherWriter;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"another process appends before the write", 1, appendOther, "before\n" + other + first + third},
        {"a tool truncates the file before the write", 1, truncate, first + third},
        // Cutting the fragment now would remove the other line: it stays.
        {"another process appends after the fragment", 2, appendOther,
         "before\n" + first + fragment + other + third},
    };
    ozr::testing::SyscallFaults faults(temporary.Path());
    for (const auto& cut : cases)
    {
        SCOPED_TRACE(cut.description);
        fs::remove_all(directory);
        const auto appender = MakeAppender(Unlimited, 6);
        WriteFile(File("00"), "before\n");
        faults.Reset();
        faults.Add(Fault::Observing(Syscall::Write, cut.nthWrite, cut.otherWriter))
            .Add(Fault::ShortWrite(1, first.size() + fragment.size()))
            .Add(Fault::Failing(Syscall::Write, 2, ENOSPC));
        const auto before = ozr::logging::GetLoggingStatistics();
        for (const char* text : {"first", "second", "third"})
        {
            appender->Log(MakeMessage(text));
        }
        Run();
        const auto after = ozr::logging::GetLoggingStatistics();
        EXPECT_EQ(ReadFile(File("00")), cut.expected);
        EXPECT_EQ(after.fileLinesWritten - before.fileLinesWritten, 2u);
        EXPECT_EQ(after.fileLinesDropped - before.fileLinesDropped, 1u);
    }
}

TEST_F(FileAppenderTest, RotationDeletesTheOldestAndShiftsTheRestUp)
{
    const std::vector<RotationCase> cases{
        {"six files with leftovers above and a separated one",
         6,
         {"00", "01", "02", "03", "04", "05", "06", "07", "09"},
         {{"01", "00"}, {"02", "01"}, {"03", "02"}, {"04", "03"}, {"05", "04"}, {"09", "09"}}},
        {"three files with leftovers from a larger count",
         3,
         {"00", "01", "02", "03", "04", "05"},
         {{"01", "00"}, {"02", "01"}}},
        {"a gap stays a gap", 6, {"00", "01", "03"}, {{"01", "00"}, {"02", "01"}, {"04", "03"}}},
        {"one file deletes the current one and its consecutive leftovers",
         1,
         {"00", "01", "02", "04"},
         {{"04", "04"}}},
        {"zero files counts as one", 0, {"00", "01", "03"}, {{"03", "03"}}},
        {"the largest count rotates only what exists",
         Unlimited,
         {"00", "01", "02", "100"},
         {{"01", "00"}, {"02", "01"}, {"03", "02"}, {"101", "100"}}},
        {"other spellings and other zones' files stay",
         6,
         {"00", "5", "005", "01.03", "x"},
         {{"01", "00"}, {"5", "5"}, {"005", "005"}, {"01.03", "01.03"}, {"x", "x"}}},
    };
    for (const auto& rotation : cases)
    {
        SCOPED_TRACE(rotation.description);
        fs::remove_all(directory);
        const auto appender = MakeAppender(0, rotation.maxFileCount);
        for (const auto& index : rotation.existing)
        {
            WriteFile(File(index), "old " + index + "\n");
        }
        LogAndRun(*appender, "new");

        std::map<std::string, std::string> expected;
        for (const auto& [index, origin] : rotation.expected)
        {
            expected[File(index).filename().string()] =
                "old " + origin + "\n" + (origin == "00" ? Line("new") : "");
        }
        EXPECT_EQ(Contents(), expected);
    }
}

TEST_F(FileAppenderTest, RotateLogFilesOnItsOwnReplacesTheOldestAndMovesNothingPastIt)
{
    const auto appender = MakeAppender(0, 3);
    for (const std::string index : {"00", "01", "02"})
    {
        WriteFile(File(index), index);
    }
    appender->RotateLogFiles();
    EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"Net.01.txt", "00"}, {"Net.02.txt", "01"}}));
}

TEST_F(FileAppenderTest, ZeroSizeLimitLeavesOneLinePerFile)
{
    const auto appender = MakeAppender(0, 3);
    for (const char* text : {"1", "2", "3", "4", "5"})
    {
        LogAndRun(*appender, text);
    }
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{{"Net.01.txt", Line("5")}, {"Net.02.txt", Line("4")}}));

    const auto single = MakeAppender(0, 1);
    LogAndRun(*single, "gone");
    EXPECT_EQ(Contents().count("Net.00.txt"), 0u);
}

TEST_F(FileAppenderTest, RecreatesARemovedFileOrDirectory)
{
    const auto appender = MakeAppender(Unlimited, 6);
    LogAndRun(*appender, "first");
    fs::remove(File("00"));
    LogAndRun(*appender, "after file removal");
    EXPECT_EQ(ReadFile(File("00")), Line("after file removal"));

    fs::remove_all(directory);
    LogAndRun(*appender, "after directory removal");
    EXPECT_EQ(ReadFile(File("00")), Line("after directory removal"));
}

TEST_F(FileAppenderTest, FailedRotationKeepsTheLineAndRetriesWithTheNextMessage)
{
    const auto appender = MakeAppender(0, 3);
    // A non-empty directory at the oldest index cannot be removed, whatever the privileges.
    fs::create_directories(File("02") / "blocker");
    EXPECT_NO_THROW(LogAndRun(*appender, "kept"));
    EXPECT_EQ(ReadFile(File("00")), Line("kept"));

    fs::remove_all(File("02"));
    EXPECT_NO_THROW(LogAndRun(*appender, "rotated"));
    EXPECT_EQ(Contents(),
              (std::map<std::string, std::string>{{"Net.01.txt", Line("kept") + Line("rotated")}}));
}

TEST_F(FileAppenderTest, UnwritableDirectoryDropsMessagesUntilWritableAgain)
{
    ozr::testing::GiveToUnprivilegedUser(temporary.Path());
    ozr::testing::RunUnprivileged(
        [this]
        {
            const auto appender = MakeAppender(Unlimited, 6);
            fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
            EXPECT_NO_THROW(LogAndRun(*appender, "dropped"));
            fs::permissions(directory, fs::perms::owner_all);
            EXPECT_TRUE(fs::is_empty(directory));

            LogAndRun(*appender, "written");
            EXPECT_EQ(ReadFile(File("00")), Line("written"));
        });
}

// Two threads log numbered messages while the test's worker runs the context; every line must appear
// exactly once, intact, in each thread's order, across the rotated files read from oldest to newest.
TEST_F(FileAppenderTest, LosesNoLineAcrossManyRotations)
{
    constexpr int MessagesPerThread = 1500;
    const std::uint64_t limit = 20 * Line("0 0000").size();
    const auto appender = MakeAppender(limit, 1000);
    auto guard = boost::asio::make_work_guard(ioContext);
    std::thread worker([this] { ioContext.run(); });
    std::vector<std::thread> producers;
    for (std::uint64_t thread = 0; thread < 2; ++thread)
    {
        producers.emplace_back(
            [&appender, thread]
            {
                for (int number = 0; number < MessagesPerThread; ++number)
                {
                    appender->Log(MakeMessage(std::to_string(thread) + " " + std::to_string(1000 + number),
                                              Severity::Info, "Test", thread));
                }
            });
    }
    for (auto& producer : producers)
    {
        producer.join();
    }
    guard.reset();
    worker.join();

    std::vector<int> nextNumber(2, 1000);
    const std::string marker = "] - ";
    for (std::uint64_t index = 999; index != Unlimited; --index)
    {
        if (!fs::exists(appender->GetLogFilePath(index)))
        {
            continue;
        }
        const std::string content = ReadFile(appender->GetLogFilePath(index));
        EXPECT_LE(content.size(), limit + Line("0 0000").size());
        std::istringstream lines(content);
        for (std::string line; std::getline(lines, line);)
        {
            const std::string text = line.substr(line.find(marker) + marker.size());
            const std::uint64_t thread = std::stoull(text.substr(0, 1));
            ASSERT_LT(thread, 2u) << line;
            ASSERT_EQ(text, std::to_string(thread) + " " + std::to_string(nextNumber[thread]));
            ASSERT_EQ(line + "\n", Line(text, thread));
            ++nextNumber[thread];
        }
    }
    EXPECT_EQ(nextNumber, (std::vector<int>{1000 + MessagesPerThread, 1000 + MessagesPerThread}));
}

}  // namespace
