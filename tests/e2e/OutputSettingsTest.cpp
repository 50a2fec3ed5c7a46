// The shape of the output settings choose: JSON lines in a zone's files, and the console switched off,
// laid out as JSON or moved to standard error by console.ini. Python's json module reads the JSON lines
// back (CheckJsonLines.py).

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "RunProgram.h"
#include "Scenario.h"
#include "ozr/logging/ApplicationInfoProvider.h"

namespace
{

namespace fs = std::filesystem;
using namespace ozr::logging;
using ozr::testing::MaskTimes;
using ozr::testing::ReadFile;
using ozr::testing::ReadLines;
using ozr::testing::WriteFile;
using ::testing::Each;
using ::testing::ElementsAre;

std::string Hex(const std::string& bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char byte : bytes)
    {
        hex += digits[static_cast<unsigned char>(byte) >> 4];
        hex += digits[static_cast<unsigned char>(byte) & 0xF];
    }
    return hex;
}

// What a test logged, for CheckJsonLines.py to compare a set of JSON lines with, in order.
class JsonLineCheck
{
public:
    void Expect(const char* zone, Severity severity, const std::string& file, unsigned line,
                std::uint64_t threadId, const std::string& text)
    {
        expected += std::string(SeverityToString(severity)) + '\t' + (zone == nullptr ? "-" : Hex(zone)) +
                    '\t' + std::to_string(threadId) + '\t' + Hex(file) + '\t' + std::to_string(line) + '\t' +
                    Hex(text) + '\n';
    }

    // The checker's complaint about the lines of `logs`, read in this order; empty when they are exactly
    // the expected messages of process `pid`.
    std::string Run(const std::vector<fs::path>& logs, pid_t pid, const fs::path& scratch) const
    {
        const fs::path expectedFile = scratch / "expected.tsv";
        WriteFile(expectedFile, expected);
        std::vector<std::string> arguments{OZR_JSON_LINE_CHECKER,
                                           "--app",
                                           ApplicationInfoProvider().GetApplicationName(),
                                           "--pid",
                                           std::to_string(pid),
                                           expectedFile.string()};
        for (const auto& log : logs)
        {
            arguments.push_back(log.string());
        }
        const auto result = ozr::testing::RunProgram(OZR_PYTHON3, arguments, scratch);
        return result.exitCode == 0 ? std::string()
                                    : "status " + std::to_string(result.exitCode) + ": " + result.err;
    }

private:
    std::string expected;
};

using OutputSettingsTest = ozr::testing::Scenario;

// Texts that JSON must escape or repair, the default zone, a zone whose name needs escaping, and enough
// lines to rotate: every line of every file is a whole JSON object that gives back what was logged, with
// invalid UTF-8 replaced as Python's decoder replaces it, and the local time with its offset.
TEST_F(OutputSettingsTest, JsonFilesHoldOneWholeObjectPerMessageThatGivesBackEveryField)
{
    setenv("TZ", "OZR-05:45", 1);  // 5 h 45 min east of UTC: the offset is not a whole hour
    tzset();
    const std::string application = ApplicationInfoProvider().GetApplicationName();
    const std::string odd = "Odd \"zone\" \\ \xFF";
    const std::string settings = "[OZRLogging]\nLogLevel=Trace\n[FileAppender]\nFormat=json\n";
    WriteZoneSettings("Net", settings + "MaxFileSizeMB=1\nMaxFileCount=10\n");
    WriteZoneSettings(application, "[FileAppender]\nFormat=JSON\n[OZRLogging]\nLogLevel=Trace\n");
    WriteZoneSettings(odd, settings);
    std::optional<ozr::testing::StdoutCapture> capture(std::in_place, root / "stdout.txt");
    const LoggingStatistics before = GetLoggingStatistics();

    std::string controls;
    for (char control = 1; control < 0x20; ++control)
    {
        controls += control;
    }
    const std::vector<std::string> texts{
        "quotes \"q\" and backslashes \\ \\\\ /",
        "controls " + controls + " end",
        "UTF-8: gr\xC3\xBC\xC3\x9F"
        "e \xE2\x9C\x93 \xF0\x9D\x84\x9E \xE2\x82\xAC \x7F \xE2\x80\xA8",
        "ill-formed: "
        "\xFF|\xC0\xAF|\xE0\x80\x80|\xED\xA0\x80|\xF4\x90\x80\x80|\xE2\x82|\xF0\x9F\x98|\x80|\xC3",
    };
    std::map<std::string, JsonLineCheck> checks;
    const auto log = [&](const char* zone, Severity severity, const std::string& file, unsigned line,
                         std::uint64_t threadId, const std::string& text)
    {
        ToLog(zone, severity, file.c_str(), line, threadId, "%s", text.c_str());
        checks[zone == nullptr ? "" : zone].Expect(zone, severity, file, line, threadId, text);
    };
    for (const char* zone : {"Net", static_cast<const char*>(nullptr), odd.c_str()})
    {
        InitialiseLogging(zone);
        for (std::size_t index = 0; index < texts.size(); ++index)
        {
            log(zone, static_cast<Severity>(index), "Link.cpp", 17, 0xFFFF8A2BF010UL, texts[index]);
        }
        log(zone, Severity::Trace, "we\"ird\\name\x01\xFE.cpp", UINT_MAX, UINT64_MAX, "odd source");
        ToLog(zone, Severity::Error, "Link.cpp", 0, 0, "nul%cinside", 0);
        checks[zone == nullptr ? "" : zone].Expect(zone, Severity::Error, "Link.cpp", 0, 0,
                                                   std::string("nul\0inside", 10));
    }
    const std::string padding(400, 'x');
    for (int number = 0; number < 3000; ++number)
    {
        log("Net", Severity::Info, "Link.cpp", 18, 7, "rotating " + std::to_string(number) + ' ' + padding);
    }
    ShutdownLogging("Net");
    ShutdownLogging(odd.c_str());
    ShutdownLogging(nullptr);
    capture.reset();

    ASSERT_TRUE(fs::exists(LogFile("Net", 1))) << "more than 1 MiB went to a zone with a limit of 1 MiB";
    EXPECT_FALSE(fs::exists(LogFile("Net", 2)));
    EXPECT_EQ(GetLoggingStatistics().fileLinesDropped, before.fileLinesDropped);
    const pid_t pid = getpid();
    EXPECT_EQ(checks["Net"].Run({LogFile("Net", 1), LogFile("Net")}, pid, root.Path()), "");
    EXPECT_EQ(checks[""].Run({LogFile(application)}, pid, root.Path()), "");
    EXPECT_EQ(checks[odd].Run({LogFile(odd)}, pid, root.Path()), "");
}

// In a child process of its own with `consoleSettings` as console.ini (none when null) and descriptors 1
// and 2 sent to files in `directory`, logs one message to the zone Net. Returns the child's process id.
pid_t LogOneMessageInAChild(const fs::path& config, const char* consoleSettings, const fs::path& directory)
{
    fs::remove(config / "console.ini");
    if (consoleSettings != nullptr)
    {
        WriteFile(config / "console.ini", consoleSettings);
    }
    fs::create_directories(directory);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0)
    {
        for (const auto& [descriptor, name] :
             {std::pair{STDOUT_FILENO, "out"}, std::pair{STDERR_FILENO, "err"}})
        {
            const int file = open((directory / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(file, descriptor);
            close(file);
        }
        InitialiseLogging("Net");
        ToLog("Net", Severity::Error, "Link.cpp", 7, 0xA7C, "to the console, \"%s\"", "quoted");
        ShutdownLogging("Net");
        std::exit(0);
    }
    EXPECT_TRUE(ozr::testing::ExitedNormally(ozr::testing::WaitForChild(child)));
    return child;
}

// console.ini switches the console off, lays its lines out as JSON, or moves them to standard error; a
// missing file keeps today's text on standard output, and the zone's file keeps its text line each time.
TEST_F(OutputSettingsTest, ConsoleIniSwitchesTheConsoleOffShapesItsLinesOrMovesThemToStandardError)
{
    struct Row
    {
        const char* settings;  // null: no console.ini
        const char* out;       // what standard output holds: "", "text" or "json"
        const char* err;
    };
    const std::vector<Row> rows{
        {nullptr, "text", ""},
        {"[Console]\nEnabled=0\nFormat=json\n", "", ""},
        {"[Console]\nFormat=json\n", "json", ""},
        {"[Console]\nFormat=json\nStream=stderr\n", "", "json"},
        {"[console]\nstream=STDERR\nformat=xml\n", "", "text"},
        {"[Console]\nEnabled=yes\nStream=stdin\n", "text", ""},
    };
    const std::string textLine =
        "Link.cpp(7): (TID 0x0000000000000A7C) <time> [Error] - to the console, \"quoted\"";
    JsonLineCheck json;
    json.Expect("Net", Severity::Error, "Link.cpp", 7, 0xA7C, "to the console, \"quoted\"");
    for (std::size_t index = 0; index < rows.size(); ++index)
    {
        const Row& row = rows[index];
        SCOPED_TRACE(row.settings != nullptr ? row.settings : "no console.ini");
        const fs::path directory = root / std::to_string(index);
        const pid_t child = LogOneMessageInAChild(config, row.settings, directory);
        for (const auto& [stream, expected] : {std::pair{"out", row.out}, std::pair{"err", row.err}})
        {
            const std::string written = ReadFile(directory / stream);
            if (std::string(expected) == "json")
            {
                EXPECT_EQ(json.Run({directory / stream}, child, directory), "") << stream;
            }
            else if (std::string(expected) == "text")
            {
                EXPECT_THAT(MaskTimes(ReadLines(directory / stream)), ElementsAre(textLine)) << stream;
            }
            else
            {
                EXPECT_EQ(written, "") << stream;
            }
        }
    }
    const auto fileLines = MaskTimes(ReadLines(LogFile("Net")));
    EXPECT_EQ(fileLines.size(), rows.size());
    EXPECT_THAT(fileLines, Each(textLine));
}

}  // namespace
