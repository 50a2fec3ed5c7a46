// Messages through the entry points to the zone's files, standard output and a syslog collector.

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include <gmock/gmock.h>

#include "Scenario.h"
#include "UdpCollector.h"
#include "ozr/config/Ini.h"

// Name lookups of this host do not answer for a minute; every other lookup goes to the C library. This
// definition, visible outside the executable, replaces the C library's for the logging library too.
constexpr char g_hangingHost[] = "hangs.invalid";

extern "C" __attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service,
                                                                  const addrinfo* hints, addrinfo** result)
{
    if (node != nullptr && std::strcmp(node, g_hangingHost) == 0)
    {
        std::this_thread::sleep_for(std::chrono::minutes(1));
        return EAI_NONAME;
    }
    using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, result);
}

namespace
{

using namespace ozr::logging;
using ozr::testing::MaskTimes;
using ozr::testing::ReadLines;
using ozr::testing::StdoutCapture;
using ozr::testing::Texts;
using ozr::testing::UdpCollector;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using PipelineTest = ozr::testing::Scenario;

TEST_F(PipelineTest, WritesTheSameExactLinesToTheZoneFileAndStandardOutput)
{
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    ToLog("Net", Severity::Warning, "/src/net/Link.cpp", 17, 0xA7C, "link %s after %d tries", "up", 3);
    ToLog("Net", Severity::Info, "/src/net/Link.cpp", 18, 0xA7C, "rejected by the default verbosity");
    ToLog("Net", Severity::Error, "Link.cpp", 19, 0xFFFF8A2BF010UL, "%s", "");  // empty text: nothing
    const char* emptyFormat = "";
    ToLog("Net", Severity::Error, "Link.cpp", 20, 0xFFFF8A2BF010UL, emptyFormat);
    ToLog("Net", Severity::Error, "Link.cpp", 21, 0xFFFF8A2BF010UL, "trailing controls\r\n\n");
    ShutdownLogging("Net");

    const auto fileLines = MaskTimes(ReadLines(LogFile("Net")));
    EXPECT_THAT(fileLines,
                ElementsAre("Link.cpp(17): (TID 0x0000000000000A7C) <time> [Warning] - link up after 3 tries",
                            "Link.cpp(21): (TID 0x0000FFFF8A2BF010) <time> [Error] - trailing controls"));
    EXPECT_EQ(MaskTimes(capture.Lines()), fileLines);
}

// Every message is numbered per thread; across all rotated files each number appears exactly once and
// in order, read from the oldest file to the current one.
TEST_F(PipelineTest, RotatesWithoutLosingDuplicatingOrReorderingMessagesFromSeveralThreads)
{
    constexpr int ThreadCount = 4;
    constexpr int MessagesPerThread = 3000;
    WriteZoneSettings("Net", "[FileAppender]\nMaxFileSizeMB=1\nMaxFileCount=60\n");
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    const std::string padding(300, '.');
    std::vector<std::thread> threads;
    for (int thread = 0; thread < ThreadCount; ++thread)
    {
        threads.emplace_back(
            [thread, &padding]
            {
                for (int number = 0; number < MessagesPerThread; ++number)
                {
                    ToLog("Net", Severity::Error, __FILE__, __LINE__, thread, "t=%d n=%d %s", thread, number,
                          padding.c_str());
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    ShutdownLogging("Net");

    int files = 0;
    while (std::filesystem::exists(LogFile("Net", files)))
    {
        ++files;
    }
    EXPECT_GE(files, 4);  // more than 4 MiB were written with a limit of 1 MiB
    std::vector<int> next(ThreadCount, 0);
    for (int index = files - 1; index >= 0; --index)
    {
        for (const auto& text : Texts(ReadLines(LogFile("Net", index))))
        {
            int thread = -1;
            int number = -1;
            ASSERT_EQ(std::sscanf(text.c_str(), "t=%d n=%d", &thread, &number), 2) << text;
            ASSERT_EQ(number, next.at(thread)) << "thread " << thread << " in file " << index;
            ++next[thread];
        }
    }
    EXPECT_EQ(next, std::vector<int>(ThreadCount, MessagesPerThread));
    EXPECT_EQ(capture.Lines().size(), std::size_t{ThreadCount * MessagesPerThread});
}

TEST_F(PipelineTest, VerbosityChangesFilterLaterCallsAndAreWrittenBackAtOnce)
{
    struct Row
    {
        Severity verbosity;
        const char* storedText;
        std::string passing;  // first letters of the severities that pass, from Error to Trace
    };
    const std::vector<Row> rows{
        {Severity::Trace, "Trace", "EPWMIT"},
        {Severity::Error, "Error", "E"},
        {Severity::Warning, "Warning", "EPW"},
        {static_cast<Severity>(-1), "Unknown", ""},
        {static_cast<Severity>(6), "Unknown", "EPWMIT"},
    };
    const std::string settings = (config / "Net.Logging.ini").string();
    InitialiseLogging("Net");
    std::vector<std::string> expected;
    for (const auto& row : rows)
    {
        SetLoggingVerbosity(row.verbosity, "Net");
        EXPECT_EQ(ozr::config::ini::ReadString(std::string("OZRLogging"), "LogLevel", "", settings),
                  row.storedText);
        for (const char* name : {"Error", "Print", "Warning", "Message", "Info", "Trace"})
        {
            const Severity severity = SeverityFromString(name);
            ToLog("Net", severity, __FILE__, __LINE__, 1, "%s at %s", name, row.storedText);
            if (row.passing.find(name[0]) != std::string::npos)
            {
                expected.push_back(std::string(name) + " at " + row.storedText);
            }
        }
    }
    ShutdownLogging("Net");
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), expected);
}

TEST_F(PipelineTest, ANewConfigDirectoryAppliesToZonesMadeAfterwardsOnly)
{
    WriteZoneSettings("Net", "[OZRLogging]\nLogLevel=Trace\n");
    InitialiseLogging("Net");
    const auto later = root / "later";
    std::filesystem::create_directories(later);
    ozr::testing::WriteFile(later / "Net.Logging.ini", "[OZRLogging]\nLogLevel=Error\n");
    ozr::testing::WriteFile(later / "Disk.Logging.ini", "[OZRLogging]\nLogLevel=Info\n");
    SetLoggingConfigDirectoryPath(later.c_str());

    ToLog("Net", Severity::Trace, __FILE__, __LINE__, 1, "net keeps its verbosity");
    ToLog("Disk", Severity::Info, __FILE__, __LINE__, 1, "disk reads the new directory");
    ToLog("Disk", Severity::Trace, __FILE__, __LINE__, 1, "disk rejects this");
    SetLoggingVerbosity(Severity::Message, "Net");
    ShutdownLogging("Disk");
    ShutdownLogging("Net");

    EXPECT_THAT(Texts(ReadLines(LogFile("Net"))), ElementsAre("net keeps its verbosity"));
    EXPECT_THAT(Texts(ReadLines(LogFile("Disk"))), ElementsAre("disk reads the new directory"));
    const auto read = [](const std::filesystem::path& file)
    { return ozr::config::ini::ReadString(std::string("OZRLogging"), "LogLevel", "", file.string()); };
    EXPECT_EQ(read(config / "Net.Logging.ini"), "Message");
    EXPECT_EQ(read(later / "Net.Logging.ini"), "Error");
}

TEST_F(PipelineTest, SendsOneDatagramPerMessageToTheConfiguredCollector)
{
    UdpCollector collector;
    WriteSyslogSettings("127.0.0.1", collector.Port());
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    for (int number = 0; number < 5; ++number)
    {
        ToLog("Net", Severity::Error, "/src/Link.cpp", 7, 0x2A, "datagram %d", number);
    }
    ShutdownLogging("Net");

    // One logger's messages go out in the order logged, those that waited for the connection included.
    std::vector<std::string> texts;
    for (const auto& datagram : collector.ReceiveUpTo(5))
    {
        EXPECT_THAT(datagram, ::testing::StartsWith("<131>"));
        EXPECT_THAT(datagram, ::testing::HasSubstr(" Net: Link.cpp(7): (TID 0x000000000000002A) datagram "));
        texts.push_back(datagram.substr(datagram.rfind(' ') + 1));
    }
    EXPECT_THAT(texts, ElementsAre("0", "1", "2", "3", "4"));
    EXPECT_EQ(ReadLines(LogFile("Net")).size(), 5u);
    EXPECT_EQ(capture.Lines().size(), 5u);
}

// Messages that wait for a lookup that does not answer are dropped after the bounded wait, so neither
// FlushLogging, the last ShutdownLogging nor the exit waits for the lookup.
TEST_F(PipelineTest, AHangingNameLookupHoldsUpNeitherFlushNorShutdownNorExit)
{
    WriteSyslogSettings(g_hangingHost, 514);
    const pid_t child = fork();
    if (child == 0)
    {
        std::freopen("/dev/null", "w", stdout);
        InitialiseLogging("Exit");
        ToLog("Exit", Severity::Error, __FILE__, __LINE__, 1, "%s", "waits for the lookup at exit");
        std::exit(0);
    }
    EXPECT_TRUE(ozr::testing::ExitedNormally(ozr::testing::WaitForChild(child, std::chrono::seconds(10))));

    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    const LoggingStatistics before = GetLoggingStatistics();
    const auto secondsTaken = [](const std::function<void()>& call)
    {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };

    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "%s", "waits for the lookup");
    EXPECT_LT(secondsTaken(FlushLogging), 10.0) << "the lookup hangs for a minute";
    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "%s", "waits for the same lookup");
    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "%s", "and so does this");
    EXPECT_LT(secondsTaken([] { ShutdownLogging("Net"); }), 10.0);

    EXPECT_EQ(GetLoggingStatistics().syslogMessagesDropped - before.syslogMessagesDropped, 3u);
    EXPECT_EQ(ReadLines(LogFile("Net")).size(), 3u);
}

// Standard output that refuses every write (a descriptor open for reading only) costs the console its
// lines, counted, and the file and syslog appenders nothing.
TEST_F(PipelineTest, AFailingStandardOutputCostsNoOtherAppenderAnything)
{
    UdpCollector collector;
    WriteSyslogSettings("127.0.0.1", collector.Port());
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int readOnly = open("/dev/null", O_RDONLY);
    dup2(readOnly, STDOUT_FILENO);
    close(readOnly);
    const LoggingStatistics before = GetLoggingStatistics();
    InitialiseLogging("Net");
    for (int number = 0; number < 20; ++number)
    {
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "message %d", number);
    }
    ShutdownLogging("Net");
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);

    const auto texts = Texts(ReadLines(LogFile("Net")));
    ASSERT_EQ(texts.size(), 20u);
    EXPECT_EQ(texts.back(), "message 19");
    EXPECT_EQ(collector.ReceiveUpTo(20).size(), 20u);
    EXPECT_EQ(GetLoggingStatistics().consoleLinesDropped - before.consoleLinesDropped, 20u);
}

// Standard output on a pipe, as under a service manager: a line arrives while the process keeps running,
// not at exit; and once the worker is idle, no log file is held open.
TEST_F(PipelineTest, ALineReachesAPipeAtOnceAndNoLogFileStaysOpenWhileIdle)
{
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    dup2(pipeEnds[1], STDOUT_FILENO);
    InitialiseLogging("Net");
    ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "%s", "through the pipe");

    std::string received;
    pollfd entry{pipeEnds[0], POLLIN, 0};
    while (received.find('\n') == std::string::npos && poll(&entry, 1, 5000) > 0)
    {
        char buffer[4096];
        const ssize_t size = read(pipeEnds[0], buffer, sizeof buffer);
        received.append(buffer, size > 0 ? static_cast<std::size_t>(size) : 0);
    }
    FlushLogging();
    std::vector<std::string> openLogFiles;
    for (const auto& descriptor : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(descriptor.path(), error).string();
        if (target.rfind(logs.string(), 0) == 0)
        {
            openLogFiles.push_back(target);
        }
    }
    ShutdownLogging("Net");
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    close(pipeEnds[0]);
    close(pipeEnds[1]);

    EXPECT_THAT(received, ::testing::HasSubstr("[Error] - through the pipe\n"));
    EXPECT_THAT(openLogFiles, IsEmpty());
    EXPECT_EQ(Texts(ReadLines(LogFile("Net"))), std::vector<std::string>{"through the pipe"});
}

// Standard output on a pipe that nobody reads for a while: the zone's file still gets every line, and
// FlushLogging returns once the console has given up on the stalled pipe; the console counts as dropped
// exactly the lines that never came out. Once the pipe is read again, later lines arrive.
TEST_F(PipelineTest, AStandardOutputPipeNobodyReadsHoldsUpNoFileAndCountsWhatItLoses)
{
    constexpr int Stalled = 6000;
    const std::string padding(1000, '.');  // some 6 MB: more than the pipe and the console's bound hold
    WriteZoneSettings("Net", "[FileAppender]\nMaxFileSizeMB=1024\n");
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    std::fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[1]);
    // Reads the pipe once told to, or after a minute when a worker stuck on the pipe holds the test up.
    std::atomic<bool> reading{false};
    std::atomic<bool> rescued{false};
    std::string received;
    std::thread reader(
        [&]
        {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
            while (!reading && std::chrono::steady_clock::now() < giveUp)
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            rescued = !reading;
            char buffer[65536];
            for (ssize_t size; (size = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
            {
                received.append(buffer, static_cast<std::size_t>(size));
            }
        });

    InitialiseLogging("Net");
    const LoggingStatistics before = GetLoggingStatistics();
    for (int number = 0; number < Stalled; ++number)
    {
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "stalled %d %s", number, padding.c_str());
    }
    FlushLogging();
    const LoggingStatistics stalled = GetLoggingStatistics();
    const auto fileTexts = Texts(ReadLines(LogFile("Net")));
    reading = true;
    for (int number = 0; number < 10; ++number)
    {
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "read %d", number);
    }
    ShutdownLogging("Net");
    const LoggingStatistics after = GetLoggingStatistics();
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    reader.join();
    close(pipeEnds[0]);

    EXPECT_FALSE(rescued) << "FlushLogging waited for the pipe";
    EXPECT_EQ(fileTexts.size(), static_cast<std::size_t>(Stalled));
    const auto written = stalled.consoleLinesWritten - before.consoleLinesWritten;
    const auto dropped = stalled.consoleLinesDropped - before.consoleLinesDropped;
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(written + dropped, static_cast<std::uint64_t>(Stalled));
    std::vector<std::string> expected;
    for (std::uint64_t number = 0; number < written; ++number)
    {
        expected.push_back("stalled " + std::to_string(number) + " " + padding);
    }
    for (int number = 0; number < 10; ++number)
    {
        expected.push_back("read " + std::to_string(number));
    }
    EXPECT_EQ(Texts(ozr::testing::SplitLines(received)), expected);
    EXPECT_EQ(after.consoleLinesWritten - stalled.consoleLinesWritten, 10u);
    EXPECT_EQ(after.consoleLinesDropped, stalled.consoleLinesDropped);
}

// Four threads flush while two others keep logging: when a thread's FlushLogging returns, every line it
// logged before is in the file.
TEST_F(PipelineTest, FlushLoggingFromSeveralThreadsFindsEveryEarlierLineInTheFile)
{
    constexpr int Rounds = 10;
    constexpr int LinesPerRound = 25;
    WriteZoneSettings("Net", "[FileAppender]\nMaxFileSizeMB=1024\n");  // nothing rotates away
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    std::atomic<bool> flushing{true};
    std::vector<std::thread> others;
    for (int thread = 0; thread < 2; ++thread)
    {
        others.emplace_back(
            [&flushing]
            {
                // At most a few thousand lines each, so that a slow machine's flushers do not read an
                // ever longer file.
                for (int line = 0; flushing && line < 3000; ++line)
                {
                    ToLog("Net", Severity::Error, __FILE__, __LINE__, 9, "%s", "background");
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
    }
    std::vector<std::thread> flushers;
    std::atomic<int> missing{0};
    for (int thread = 0; thread < 4; ++thread)
    {
        flushers.emplace_back(
            [&, thread]
            {
                const std::string tag = "flusher " + std::to_string(thread);
                for (int round = 1; round <= Rounds; ++round)
                {
                    for (int line = 0; line < LinesPerRound; ++line)
                    {
                        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "%s", tag.c_str());
                    }
                    FlushLogging();
                    const auto texts = Texts(ReadLines(LogFile("Net")));
                    const auto found = std::count(texts.begin(), texts.end(), tag);
                    missing += found == round * LinesPerRound ? 0 : 1;
                }
            });
    }
    for (auto& flusher : flushers)
    {
        flusher.join();
    }
    flushing = false;
    for (auto& other : others)
    {
        other.join();
    }
    ShutdownLogging("Net");
    EXPECT_EQ(missing, 0);
}

// The counters tell what the library does not print: lines of a zone whose current log file cannot be
// opened are dropped, and so is every message to a collector whose name cannot be resolved.
TEST_F(PipelineTest, StatisticsCountDroppedFileLinesAndSyslogMessages)
{
    // An empty label makes the system's resolver refuse the name without asking any name server.
    WriteSyslogSettings("collector..invalid", 514);
    std::filesystem::create_directories(LogFile("Net"));  // a directory where the current file should be
    StdoutCapture capture(root / "stdout.txt");
    InitialiseLogging("Net");
    InitialiseLogging("Ok");
    const LoggingStatistics before = GetLoggingStatistics();
    for (int number = 0; number < 5; ++number)
    {
        ToLog("Net", Severity::Error, __FILE__, __LINE__, 1, "dropped from the file %d", number);
        ToLog("Net", Severity::Trace, __FILE__, __LINE__, 1, "%s", "rejected");
    }
    ToLog("Ok", Severity::Error, __FILE__, __LINE__, 1, "%s", "written");
    FlushLogging();
    const LoggingStatistics after = GetLoggingStatistics();
    ShutdownLogging("Net");
    ShutdownLogging("Ok");

    EXPECT_EQ(after.accepted - before.accepted, 6u);
    EXPECT_EQ(after.fileLinesDropped - before.fileLinesDropped, 5u);
    EXPECT_EQ(after.fileLinesWritten - before.fileLinesWritten, 1u);
    EXPECT_EQ(after.rotations - before.rotations, 0u);
    EXPECT_EQ(after.consoleLinesWritten - before.consoleLinesWritten, 6u);
    EXPECT_EQ(after.syslogMessagesDropped - before.syslogMessagesDropped, 6u);
    EXPECT_EQ(after.syslogDatagramsSent - before.syslogDatagramsSent, 0u);
}

}  // namespace
