// A tour of the logging library: two zones with their own settings files, messages of every severity
// from several threads, a verbosity change written back to its file, a level changed on disk by a
// second process and applied live, rotation, and optional syslog forwarding. Everything is written below
// one folder of the demo's own (./ostrel-demo by default).

#include <chrono>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "DemoOptions.h"
#include "DemoWorkspace.h"
#include "SecondProcess.h"
#include "ozr/logging/Log.h"
#include "ozr/logging/LoggerManager.h"

namespace
{

using ozr::demo::DemoWorkspace;
using ozr::logging::Severity;

// Zone names are kept by pointer in every record: string literals live long enough.
constexpr const char* Gateway = "Gateway";
constexpr const char* Storage = "Storage";
constexpr int WorkerThreadCount = 3;
constexpr int StoredBlockCount = 8;

// Output runs on the library's worker thread; a short pause lets it print the previous step's lines
// before the next heading.
void Say(const std::string& text)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::cout << "\n== " << text << std::endl;
}

void LogEverySeverity(int worker)
{
    for (const Severity severity : {Severity::Error, Severity::Print, Severity::Warning, Severity::Message,
                                    Severity::Info, Severity::Trace})
    {
        // OZR_LOG fills in the source position and the calling thread's kernel thread id.
        OZR_LOG(Gateway, severity, "Worker %d: message of severity %s", worker,
                ozr::logging::SeverityToString(severity));
        OZR_LOG(Storage, severity, "Worker %d: message of severity %s", worker,
                ozr::logging::SeverityToString(severity));
    }
}

void LogFromSeveralThreads()
{
    Say("Three threads log one message of every severity into both zones.\n"
        "   Gateway lets everything through (LogLevel=Trace); Storage drops Trace (LogLevel=Info).");
    std::vector<std::thread> workers;
    for (int worker = 1; worker <= WorkerThreadCount; ++worker)
    {
        workers.emplace_back(LogEverySeverity, worker);
    }
    for (auto& worker : workers)
    {
        worker.join();
    }
}

void ChangeVerbosity(const DemoWorkspace& workspace)
{
    const auto file = workspace.ZoneConfigFile(Gateway);
    Say("SetLoggingVerbosity(Severity::Warning, \"Gateway\") writes the new level to " + file.string());
    std::cout << "   before: " << DemoWorkspace::FindSettingLine(file, "LogLevel") << '\n';
    ozr::logging::SetLoggingVerbosity(Severity::Warning, Gateway);
    std::cout << "   after:  " << DemoWorkspace::FindSettingLine(file, "LogLevel") << '\n';
    std::cout << "   Now only the Warning of the next two calls appears; the Info is dropped." << std::endl;
    OZR_LOG_INFO(Gateway, "This Info message is filtered out");
    OZR_LOG_WARNING(Gateway, "Disk usage at %d%%", 91);
}

// Gateway's settings file holds WatchSettings=1, so the running demo follows changes of its level on
// disk. How long the change took to arrive is measured by asking the zone's logger.
void ChangeLevelFromASecondProcess(const DemoWorkspace& workspace)
{
    const std::vector<std::string> command{OZR_LOGLEVEL_TOOL, "--config-dir",
                                           workspace.ConfigDirectory().string(), Gateway, "Info"};
    Say("A second process sets Gateway's level on disk; Gateway.Logging.ini holds WatchSettings=1, so the\n"
        "   running demo applies it without a restart (and without writing anything back):");
    std::cout << "   $ " << ozr::demo::ShowCommand(command) << std::endl;
    const auto start = std::chrono::steady_clock::now();
    if (ozr::demo::RunSecondProcess(command) != 0)
    {
        std::cout << "   the tool failed; Gateway keeps its level" << std::endl;
        return;
    }
    const auto logger = ozr::logging::GetLoggerManager().GetLogger(Gateway);
    while (logger->GetVerbosity() != Severity::Info &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::cout << "   " << DemoWorkspace::FindSettingLine(workspace.ZoneConfigFile(Gateway), "LogLevel")
              << " applied by the running demo " << elapsed.count() << " ms after the tool started"
              << std::endl;
    OZR_LOG_INFO(Gateway, "Info messages pass again after the live change");
}

void Rotate()
{
    Say("Storage rotates after every line (MaxFileSizeMB=0) and keeps 4 files (MaxFileCount=4).");
    for (int block = 1; block <= StoredBlockCount; ++block)
    {
        OZR_LOG_INFO(Storage, "Stored block %d of %d", block, StoredBlockCount);
    }
}

void ShowStorageFiles(const DemoWorkspace& workspace)
{
    std::cout << "   Storage's files, newest first: each holds one line, the oldest lines are gone.\n";
    for (int index = 0; index < 4; ++index)
    {
        const auto path = workspace.LogDirectory() / ("Storage.0" + std::to_string(index) + ".txt");
        std::ifstream stream(path);
        std::string line;
        if (std::getline(stream, line))
        {
            std::cout << "   " << path.filename().string() << ": " << line << '\n';
        }
    }
}

// What the library did, counted since the demo started: how an application learns that lines were
// dropped, since the library itself prints nothing about its failures.
void ShowCounters()
{
    const ozr::logging::LoggingStatistics counters = ozr::logging::GetLoggingStatistics();
    std::cout << "\n== Counters (GetLoggingStatistics):\n"
              << "   accepted log calls     " << counters.accepted << '\n'
              << "   file lines written     " << counters.fileLinesWritten << ", dropped "
              << counters.fileLinesDropped << '\n'
              << "   rotations              " << counters.rotations << '\n'
              << "   console lines written  " << counters.consoleLinesWritten << ", dropped "
              << counters.consoleLinesDropped << '\n'
              << "   syslog datagrams sent  " << counters.syslogDatagramsSent << ", messages dropped "
              << counters.syslogMessagesDropped << '\n'
              << "   worker exceptions      " << counters.workerExceptions << '\n';
}

void ShowResults(const DemoWorkspace& workspace)
{
    Say("Done. Settings files in " + workspace.ConfigDirectory().string() + ":");
    DemoWorkspace::ListFiles(std::cout, workspace.ConfigDirectory());
    std::cout << "\n== Log files in " << workspace.LogDirectory().string() << ":\n";
    DemoWorkspace::ListFiles(std::cout, workspace.LogDirectory());
    std::cout << '\n';
    ShowStorageFiles(workspace);
}

void RunDemo(const ozr::demo::DemoOptions& options)
{
    const DemoWorkspace workspace(std::filesystem::absolute(options.folder));
    workspace.Prepare(ozr::demo::ShippedConfigDirectory(), {Gateway, Storage});
    std::cout << "== Settings copied to " << workspace.ConfigDirectory().string() << '\n';
    if (options.collector)
    {
        workspace.ConfigureSyslog(options.collector->host, options.collector->port);
        std::cout << "== Every message also goes to the syslog collector at " << options.collector->host
                  << ':' << options.collector->port << " (written into syslog.ini)\n";
    }

    ozr::logging::SetLoggingConfigDirectoryPath(workspace.ConfigDirectory().c_str());
    ozr::logging::SetLoggingLogsDirectoryPath(workspace.LogDirectory().c_str());
    ozr::logging::InitialiseLogging(Gateway);
    ozr::logging::InitialiseLogging(Storage);

    LogFromSeveralThreads();
    ChangeVerbosity(workspace);
    ChangeLevelFromASecondProcess(workspace);
    Rotate();

    // The last ShutdownLogging returns once every queued line has been written (and sent).
    ozr::logging::ShutdownLogging(Storage);
    ozr::logging::ShutdownLogging(Gateway);
    ShowResults(workspace);
    ShowCounters();
}

}  // namespace

int main(int argc, char* argv[])
{
    try
    {
        const auto options = ozr::demo::ParseDemoOptions(argc, argv);
        if (options.showHelp)
        {
            std::cout << ozr::demo::DemoUsage();
            return 0;
        }
        if (!std::filesystem::is_directory(ozr::demo::ShippedConfigDirectory()))
        {
            std::cerr << "The shipped settings files are missing: expected them in "
                      << ozr::demo::ShippedConfigDirectory().string() << '\n';
            return 1;
        }
        RunDemo(options);
        return 0;
    }
    catch (const std::invalid_argument& error)
    {
        std::cerr << "ostrel-logging-demo: " << error.what() << '\n' << ozr::demo::DemoUsage();
        return 2;
    }
    catch (const std::exception& error)
    {
        std::cerr << "ostrel-logging-demo: " << error.what() << '\n';
        return 1;
    }
}
