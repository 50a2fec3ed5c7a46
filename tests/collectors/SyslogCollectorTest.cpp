// Real syslog collectors receive the library's datagrams: rsyslogd and syslog-ng, run from their unpacked
// Debian packages (tools/install-dependencies puts them under OZR_COLLECTOR_ROOT) as unprivileged processes,
// each write the fields they parsed from every message, and the test checks each field.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "CollectorProcess.h"
#include "Scenario.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/Logging.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

using namespace ozr::logging;
using ozr::testing::CollectorProcess;
using ozr::testing::ReadFile;
using ozr::testing::SplitLines;

namespace fs = std::filesystem;

constexpr std::uint64_t g_threadId = 0x1F;
constexpr char g_sourcePath[] = "src/gateway/net/Channel.cpp";  // the datagram carries only Channel.cpp

// One line of a collector's output: the fields it parsed from one datagram.
struct Parsed
{
    std::string host;
    std::string program;
    std::string facility;
    std::string severity;
    std::string date;  // "MM-DD hh:mm:ss"
    std::string message;
};

// The first `count` fields of a collector's line, then the rest: the message, which may hold '|'.
std::optional<std::vector<std::string>> SplitFields(const std::string& line, std::size_t count)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const auto bar = line.find('|', start);
        if (bar == std::string::npos)
        {
            return std::nullopt;
        }
        fields.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::optional<Parsed> ParseLine(const std::string& line)
{
    const auto fields = SplitFields(line, 5);
    if (!fields)
    {
        return std::nullopt;
    }
    const auto& f = *fields;
    return Parsed{f[0], f[1], f[2], f[3], f[4], f[5]};
}

// What the collector should have parsed from one logged message; an empty date is not checked.
struct Expected
{
    std::string program;
    std::string severity;
    std::string date;
    std::string message;
};

// How to run one collector from its unpacked package.
struct Collector
{
    std::string name;
    fs::path program;           // relative to the unpacked root
    fs::path libraryDirectory;  // relative to the unpacked root; LD_LIBRARY_PATH
    std::string configTemplate;
    std::string streamConfigTemplate;
    // What it writes for the nil MSGID ("-") of the default zone.
    std::string nilMessageId;
    std::vector<std::string> (*arguments)(const fs::path& root, const fs::path& work);
};

void PrintTo(const Collector& collector, std::ostream* out)
{
    *out << collector.name;
}

fs::path ModuleDirectory(const fs::path& root, const fs::path& libraryDirectory, const std::string& module)
{
    for (const auto& entry : fs::recursive_directory_iterator(root / libraryDirectory))
    {
        if (entry.path().filename() == module)
        {
            return entry.path().parent_path();
        }
    }
    return root / libraryDirectory;
}

std::vector<std::string> RsyslogArguments(const fs::path& root, const fs::path& work)
{
    return {(root / "usr/sbin/rsyslogd").string(),
            "-n",
            "-f",
            (work / "collector.conf").string(),
            "-i",
            (work / "collector.pid").string(),
            "-M",
            ModuleDirectory(root, "usr/lib/x86_64-linux-gnu/rsyslog", "imudp.so").string()};
}

std::vector<std::string> SyslogNgArguments(const fs::path& root, const fs::path& work)
{
    return {(root / "usr/sbin/syslog-ng").string(),
            "--foreground",
            "--no-caps",
            "--cfgfile=" + (work / "collector.conf").string(),
            "--module-path=" + ModuleDirectory(root, "usr/lib/syslog-ng", "libafsocket.so").string(),
            "--persist-file=" + (work / "collector.persist").string(),
            "--pidfile=" + (work / "collector.pid").string(),
            "--control=" + (work / "collector.ctl").string()};
}

std::string Replace(std::string text, const std::string& placeholder, const std::string& value)
{
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
    {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

std::string ExpectedHost()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host = name;
    host.erase(std::remove(host.begin(), host.end(), ' '), host.end());
    return host;
}

class SyslogCollectorTest : public ozr::testing::Scenario, public ::testing::WithParamInterface<Collector>
{
protected:
    void SetUp() override
    {
        const char* rootVariable = std::getenv("OZR_COLLECTOR_ROOT");
        packageRoot = rootVariable != nullptr ? rootVariable : "";
        if (packageRoot.empty() || !fs::exists(packageRoot / GetParam().program))
        {
            GTEST_SKIP()
                << GetParam().name << " is not unpacked under \"" << packageRoot.string()
                << "\" (OZR_COLLECTOR_ROOT): tools/install-dependencies unpacks it there, or says why "
                   "the package could not be fetched";
        }
        fs::create_directories(work);
        if (geteuid() == 0)
        {
            RunAsNobody();
        }
        // The collector's certificate and key, readable by the daemon.
        for (const auto& entry : fs::directory_iterator(OZR_TLS_TEST_DIR))
        {
            fs::copy_file(entry.path(), work / entry.path().filename());
            fs::permissions(work / entry.path().filename(), fs::perms::owner_read | fs::perms::owner_write |
                                                                fs::perms::group_read |
                                                                fs::perms::others_read);
        }
    }

    // Starts the daemon with the configuration made from `configTemplate`: on a free UDP port, or on a
    // free TCP port and another for TLS.
    void StartCollector(const std::string& configTemplate, bool streams)
    {
        port = ozr::testing::FindFreeUdpPort();
        tcpPort = ozr::testing::FindFreeUdpPort(SOCK_STREAM);
        tlsPort = ozr::testing::FindFreeUdpPort(SOCK_STREAM);
        std::string config = ReadFile(fs::path(OZR_COLLECTOR_CONFIG_DIR) / configTemplate);
        config = Replace(config, "@PORT@", std::to_string(port));
        config = Replace(config, "@TCP_PORT@", std::to_string(tcpPort));
        config = Replace(config, "@TLS_PORT@", std::to_string(tlsPort));
        config = Replace(config, "@TLS_DIR@", work.string());
        config = Replace(config, "@WORK_DIR@", work.string());
        config = Replace(config, "@OUTPUT@", output.string());
        ozr::testing::WriteFile(work / "collector.conf", config);
        RunCollector(streams);
    }

    // Runs the daemon with the configuration written last, on the same ports; the log is the latest run's.
    void RunCollector(bool streams)
    {
        std::vector<std::string> arguments = command;
        const auto daemon = GetParam().arguments(packageRoot, work);
        arguments.insert(arguments.end(), daemon.begin(), daemon.end());
        collector = std::make_unique<CollectorProcess>(
            arguments,
            std::vector<std::string>{"LD_LIBRARY_PATH=" +
                                     (packageRoot / GetParam().libraryDirectory).string()},
            work / "collector.log");
        const auto listening = [&]
        {
            return streams ? ozr::testing::IsTcpPortListening(tcpPort) &&
                                 ozr::testing::IsTcpPortListening(tlsPort)
                           : ozr::testing::IsUdpPortBound(port);
        };
        ASSERT_TRUE(collector->WaitUntil(listening, std::chrono::seconds(20)))
            << GetParam().name << " does not listen on its ports:\n"
            << ReadFile(work / "collector.log");
    }

    // A test run as root still runs the daemon unprivileged, as nobody, from a copy of the packages that
    // nobody can read (the cache may lie in root's home), writing into a folder that nobody may write to.
    void RunAsNobody()
    {
        const fs::path copy = root / "packages";
        fs::copy(packageRoot, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        packageRoot = copy;
        fs::permissions(root.Path(), fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(work, fs::perms::all);
        command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }

    // Waits until the collector has written `count` lines (or ten seconds passed), then stops it.
    std::vector<std::string> CollectedLines(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (SplitLines(ReadFile(output)).size() < count && std::chrono::steady_clock::now() < deadline)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_GT(collector->UserId(), 0) << GetParam().name << " runs as root, or ended early";
        collector->Stop();
        return SplitLines(ReadFile(output));
    }

    // Through the entry points: the library's whole pipeline, wall-clock time stamps.
    void LogThroughEntryPoints(const char* zone, Severity severity, unsigned int line,
                               const std::string& text)
    {
        ToLog(zone, severity, g_sourcePath, line, g_threadId, "%s", text.c_str());
    }

    // Through the syslog appender alone, with a chosen time stamp: the header's day is deterministic.
    void LogWithTime(const boost::posix_time::ptime& time, const std::string& text)
    {
        boost::asio::io_context ioContext;
        const auto appender = std::make_shared<appender::syslog::Appender>(
            ioContext, applicationInfo, appender::syslog::Config{"127.0.0.1", port});
        appender->Log(std::make_shared<const Message>(
            Message{time, time, "Clock.cpp", text, Severity::Print, 9, g_threadId, "Clock"}));
        ioContext.run();
    }

    // Through the syslog appender alone, on a stream: returns once the collector has acknowledged the
    // records, or after ten seconds.
    void SendOnStream(const appender::syslog::Config& settings, const std::vector<Message>& messages)
    {
        boost::asio::io_context ioContext;
        const auto appender =
            std::make_shared<appender::syslog::Appender>(ioContext, applicationInfo, settings);
        bool flushed = false;
        for (const auto& message : messages)
        {
            appender->Log(std::make_shared<const Message>(message));
        }
        appender->Flush(std::shared_ptr<void>(nullptr, [&flushed](void*) { flushed = true; }));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!flushed && std::chrono::steady_clock::now() < deadline)
        {
            ioContext.run_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(flushed);
    }

    const fs::path work = root / "collector";
    const fs::path output = work / "fields.txt";
    fs::path packageRoot;              // the unpacked packages
    std::vector<std::string> command;  // what runs the daemon unprivileged, when the test runs as root
    std::uint16_t port = 0;
    std::uint16_t tcpPort = 0;
    std::uint16_t tlsPort = 0;
    std::unique_ptr<CollectorProcess> collector;
    ApplicationInfoProvider applicationInfo;
};

std::string Body(unsigned int line, const std::string& text)
{
    return "Channel.cpp(" + std::to_string(line) + "): (TID 0x000000000000001F) " + text;
}

TEST_P(SyslogCollectorTest, ParsesHostProgramFacilitySeverityAndMessageOfEveryKindOfMessage)
{
    ASSERT_NO_FATAL_FAILURE(StartCollector(GetParam().configTemplate, false));
    const std::string application = applicationInfo.GetApplicationName();
    const std::string host = ExpectedHost();
    WriteZoneSettings("Gateway", "[OZRLogging]\nLogLevel=Trace\n");
    WriteZoneSettings(application, "[OZRLogging]\nLogLevel=Trace\n");
    WriteSyslogSettings("127.0.0.1", port);

    std::vector<Expected> expected;
    InitialiseLogging("Gateway");
    InitialiseLogging(nullptr);
    const std::pair<Severity, const char*> severities[] = {
        {Severity::Error, "err"},    {Severity::Print, "notice"}, {Severity::Warning, "warning"},
        {Severity::Message, "info"}, {Severity::Info, "info"},    {Severity::Trace, "debug"}};
    unsigned int line = 100;
    for (const auto& [severity, syslogName] : severities)
    {
        const std::string text = std::string("severity ") + SeverityToString(severity);
        LogThroughEntryPoints("Gateway", severity, ++line, text);
        expected.push_back({"Gateway", syslogName, "", Body(line, text)});
    }
    LogThroughEntryPoints(nullptr, Severity::Warning, ++line, "default zone");
    expected.push_back({application, "warning", "", Body(line, "default zone")});
    LogThroughEntryPoints("", Severity::Warning, ++line, "empty zone name");
    expected.push_back({application, "warning", "", Body(line, "empty zone name")});  // the default zone too
    const std::string utf8 = "Grüße aus Zürich, 東京 ✓";
    LogThroughEntryPoints("Gateway", Severity::Error, ++line, utf8);
    expected.push_back({"Gateway", "err", "", Body(line, utf8)});
    // The datagram is cut to 1024 bytes: 1021 of them, then "...".
    const std::string longText = "long " + std::string(1500, 'x');
    LogThroughEntryPoints("Gateway", Severity::Error, ++line, longText);
    const std::size_t header = ("<131>Mar  5 09:07:03 " + host + " Gateway: ").size();
    expected.push_back({"Gateway", "err", "", Body(line, longText).substr(0, 1021 - header) + "..."});
    ShutdownLogging(nullptr);
    ShutdownLogging("Gateway");

    LogWithTime(boost::posix_time::time_from_string("2024-03-05 09:07:03.250"), "fifth of March");
    expected.push_back(
        {"Clock", "notice", "03-05 09:07:03", "Clock.cpp(9): (TID 0x000000000000001F) fifth of March"});
    LogWithTime(boost::posix_time::time_from_string("2024-03-15 23:59:59.999"), "fifteenth of March");
    expected.push_back(
        {"Clock", "notice", "03-15 23:59:59", "Clock.cpp(9): (TID 0x000000000000001F) fifteenth of March"});

    const auto lines = CollectedLines(expected.size());
    const std::string all = ReadFile(output);
    EXPECT_EQ(lines.size(), expected.size()) << all;
    for (const auto& wanted : expected)
    {
        const auto found =
            std::find_if(lines.begin(), lines.end(),
                         [&](const std::string& line)
                         { return ParseLine(line) && ParseLine(line)->message == wanted.message; });
        if (found == lines.end())
        {
            ADD_FAILURE() << "no line with the message \"" << wanted.message << "\" in:\n" << all;
            continue;
        }
        const Parsed parsed = *ParseLine(*found);
        SCOPED_TRACE(*found);
        EXPECT_EQ(parsed.host, host);
        EXPECT_EQ(parsed.program, wanted.program);
        EXPECT_EQ(parsed.facility, "local0");
        EXPECT_EQ(parsed.severity, wanted.severity);
        if (!wanted.date.empty())
        {
            EXPECT_EQ(parsed.date, wanted.date);
        }
    }
}

// RFC 5424 records on TCP and on TLS (the collector's certificate verified against the test authority
// and the name collector.test), octet counting: the collector parses every field of each, for every
// severity, a named zone (the MSGID) and the default one, UTF-8 and a text of several KiB.
TEST_P(SyslogCollectorTest, ParsesRecordsReceivedOverTcpAndOverTls)
{
    ASSERT_NO_FATAL_FAILURE(StartCollector(GetParam().streamConfigTemplate, true));
    const auto local = boost::posix_time::time_from_string("2024-03-05 09:07:03.250");
    const auto universal = local - boost::posix_time::hours(1);
    appender::syslog::Config tcp{"127.0.0.1", tcpPort};
    tcp.transport = appender::syslog::Transport::Tcp;
    tcp.format = appender::syslog::Format::Rfc5424;
    appender::syslog::Config tls{"127.0.0.1", tlsPort};
    tls.transport = appender::syslog::Transport::Tls;
    tls.format = appender::syslog::Format::Rfc5424;
    tls.caFile = (work / "ca.pem").string();
    tls.serverName = "collector.test";
    const std::pair<Severity, const char*> severities[] = {
        {Severity::Error, "err"},    {Severity::Print, "notice"}, {Severity::Warning, "warning"},
        {Severity::Message, "info"}, {Severity::Info, "info"},    {Severity::Trace, "debug"}};

    struct Sent
    {
        const char* zone;
        std::string severity;
        unsigned int line;
    };
    std::map<std::string, Sent> sent;  // by text, each unique
    unsigned int line = 100;
    for (const auto& [settings, name] : {std::make_pair(tcp, "TCP"), std::make_pair(tls, "TLS")})
    {
        std::vector<Message> messages;
        const auto add = [&](Severity severity, const char* syslogName, const char* zone, std::string text)
        {
            text += std::string(" over ") + name;
            messages.push_back(
                Message{local, universal, "Channel.cpp", text, severity, ++line, g_threadId, zone});
            sent[text] = {zone, syslogName, line};
        };
        for (const auto& [severity, syslogName] : severities)
        {
            add(severity, syslogName, "Gateway", std::string("severity ") + SeverityToString(severity));
        }
        add(Severity::Warning, "warning", nullptr, "default zone");
        add(Severity::Info, "info", "Gateway", "Grüße – ✓ aus Zürich, 東京");
        add(Severity::Error, "err", "Gateway", "long " + std::string(10000, 'x') + " end");
        SendOnStream(settings, messages);
    }

    const auto lines = CollectedLines(sent.size());
    EXPECT_EQ(lines.size(), sent.size()) << ReadFile(work / "collector.log");
    for (const auto& each : lines)
    {
        SCOPED_TRACE(each.substr(0, 300));
        const auto fields = SplitFields(each, 10);
        ASSERT_TRUE(fields);
        const auto found = sent.find(fields->at(10));
        ASSERT_NE(found, sent.end()) << "the message is not one sent, whole and without the byte-order mark";
        const Sent& wanted = found->second;
        EXPECT_EQ(*fields, (std::vector<std::string>{
                               ExpectedHost(), applicationInfo.GetApplicationName(), std::to_string(getpid()),
                               wanted.zone ? wanted.zone : GetParam().nilMessageId, "Channel.cpp",
                               std::to_string(wanted.line), "0x000000000000001F", "local0", wanted.severity,
                               "2024-03-05T09:07:03.250000+01:00", found->first}));
        sent.erase(found);
    }
}

// 100,000 numbered records through the entry points on TCP while the collector is stopped (SIGTERM) and
// started again twice: each arrives at least once, and the records written twice are no more than those
// counted as resent. What a collector's kernel acknowledged but the daemon had not read when it ended is
// written again on the next connection.
TEST_P(SyslogCollectorTest, RecordsOverTcpArriveAcrossTwoRestartsOfTheCollector)
{
    ASSERT_NO_FATAL_FAILURE(StartCollector(GetParam().streamConfigTemplate, true));
    WriteZoneSettings("Gateway", "[OZRLogging]\nLogLevel=Trace\n");
    WriteSyslogSettings("127.0.0.1", tcpPort, "Transport=TCP\nFormat=RFC5424\n");
    constexpr int records = 100000;
    // The console's copy of each message goes to a file.
    auto capture = std::make_unique<ozr::testing::StdoutCapture>(root / "stdout.txt");
    InitialiseLogging("Gateway");
    const LoggingStatistics before = GetLoggingStatistics();
    // Stopped and started again while records flow: once the collector has written a fifth of them, and
    // again at three fifths.
    std::thread restarts(
        [&]
        {
            for (const std::size_t written : {records / 5, 3 * records / 5})
            {
                collector->WaitUntil([&] { return SplitLines(ReadFile(output)).size() >= written; },
                                     std::chrono::seconds(30));
                collector->Stop();
                RunCollector(true);
            }
        });
    for (int number = 0; number < records; ++number)
    {
        LogThroughEntryPoints("Gateway", Severity::Info, 7, "record " + std::to_string(number));
        if (number % 1000 == 999)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    restarts.join();
    // A collector stopped after the last write may leave records its kernel acknowledged but it never
    // read. The sender finds that out at its next write or flush, so the test flushes once.
    FlushLogging();

    // How often each record arrived, and how many arrived in all, once all have or after a minute.
    std::vector<int> arrivals(records, 0);
    std::size_t arrived = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::count(arrivals.begin(), arrivals.end(), 0) != 0 &&
           std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::fill(arrivals.begin(), arrivals.end(), 0);
        arrived = 0;
        for (const auto& line : SplitLines(ReadFile(output)))
        {
            const auto fields = SplitFields(line, 10);
            if (fields && fields->at(10).rfind("record ", 0) == 0)
            {
                ++arrivals.at(static_cast<std::size_t>(std::stoi(fields->at(10).substr(7))));
                ++arrived;
            }
        }
    }
    ShutdownLogging("Gateway");
    capture.reset();
    const LoggingStatistics after = GetLoggingStatistics();

    const auto missing = std::count(arrivals.begin(), arrivals.end(), 0);
    EXPECT_EQ(missing, 0) << "the first: "
                          << std::find(arrivals.begin(), arrivals.end(), 0) - arrivals.begin();
    const std::size_t duplicates = arrived - static_cast<std::size_t>(records - missing);
    const std::uint64_t resent = after.syslogRecordsResent - before.syslogRecordsResent;
    EXPECT_LE(duplicates, resent) << "records arrived twice, and written again";
    EXPECT_EQ(after.syslogDatagramsSent - before.syslogDatagramsSent, static_cast<std::uint64_t>(records));
    EXPECT_EQ(after.syslogMessagesDropped - before.syslogMessagesDropped, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Collectors, SyslogCollectorTest,
    ::testing::Values(Collector{"rsyslog", "usr/sbin/rsyslogd", "usr/lib/x86_64-linux-gnu/rsyslog",
                                "rsyslog.conf.in", "rsyslog-stream.conf.in", "-", RsyslogArguments},
                      Collector{"syslog-ng", "usr/sbin/syslog-ng", "usr/lib/syslog-ng", "syslog-ng.conf.in",
                                "syslog-ng-stream.conf.in", "", SyslogNgArguments}),
    [](const ::testing::TestParamInfo<Collector>& info)
    { return info.param.name == "rsyslog" ? std::string("Rsyslog") : std::string("SyslogNg"); });

}  // namespace
