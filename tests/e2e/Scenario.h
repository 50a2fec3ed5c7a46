#pragma once

// Helpers of the end-to-end scenarios: a fresh configuration and log directory per test, standard output
// captured in a file, and child processes that must end on their own.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TempDirectory.h"
#include "WaitUntil.h"
#include "ozr/logging/Logging.h"

namespace ozr::testing
{

inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
    {
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path)
{
    return SplitLines(ReadFile(path));
}

// The time stamp is the only part of a line a test cannot predict.
inline std::string MaskTime(const std::string& line)
{
    static const std::regex time(R"(\d{4}-[A-Z][a-z]{2}-\d{2} \d{2}:\d{2}:\d{2}(\.\d{6})?)");
    return std::regex_replace(line, time, "<time>");
}

inline std::vector<std::string> MaskTimes(std::vector<std::string> lines)
{
    for (auto& line : lines)
    {
        line = MaskTime(line);
    }
    return lines;
}

// Number of threads of this process.
inline std::size_t ThreadCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    {
        ++count;
    }
    return count;
}

// A joined thread stays listed for a moment after the join returns, until the kernel has reaped it.
// This waits up to ten seconds for the number of threads to become `expected` and returns the last count.
inline std::size_t ThreadCountOnceSettledAt(std::size_t expected)
{
    WaitUntil([expected] { return ThreadCount() == expected; }, std::chrono::seconds(10));
    return ThreadCount();
}

// Runs a thread that does nothing and waits until the kernel has reaped it. A sanitizer starts its
// helper thread with the process's first thread, so a count taken afterwards is a stable baseline.
inline std::size_t ThreadCountAfterAThreadCameAndWent()
{
    pid_t id = 0;
    std::thread([&id] { id = gettid(); }).join();
    const std::filesystem::path task = "/proc/self/task/" + std::to_string(id);
    WaitUntil([&task] { return !std::filesystem::exists(task); }, std::chrono::seconds(10));
    return ThreadCount();
}

// Sends file descriptor 1 to a file while it lives.
class StdoutCapture
{
public:
    explicit StdoutCapture(std::filesystem::path file) : path(std::move(file))
    {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        const int target = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(target, STDOUT_FILENO);
        close(target);
    }
    ~StdoutCapture() { Restore(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::vector<std::string> Lines()
    {
        Restore();
        return ReadLines(path);
    }

private:
    void Restore()
    {
        if (saved < 0)
        {
            return;
        }
        std::cout.flush();
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
    }

    std::filesystem::path path;
    int saved = -1;
};

// A fresh configuration directory and log directory, given to the library before anything else.
class Scenario : public ::testing::Test
{
protected:
    Scenario()
    {
        std::filesystem::create_directories(config);
        ozr::logging::SetLoggingConfigDirectoryPath(config.c_str());
        ozr::logging::SetLoggingLogsDirectoryPath(logs.c_str());
    }

    void WriteZoneSettings(const std::string& zone, const std::string& content) const
    {
        WriteFile(config / (zone + ".Logging.ini"), content);
    }

    // syslog.ini naming the collector, with further lines of its [Syslog] section ("Transport=TCP\n").
    void WriteSyslogSettings(const std::string& address, std::uint16_t port,
                             const std::string& more = "") const
    {
        WriteFile(config / "syslog.ini",
                  "[Syslog]\nAddress=" + address + "\nPort=" + std::to_string(port) + "\n" + more);
    }

    std::filesystem::path LogFile(const std::string& zone, int index = 0) const
    {
        char name[16];
        std::snprintf(name, sizeof name, ".%02d.txt", index);
        return logs / (zone + name);
    }

    TempDirectory root;
    const std::filesystem::path config = root / "config";
    const std::filesystem::path logs = root / "logs";
};

// The message texts of a log file's lines ("... [Severity] - text").
inline std::vector<std::string> Texts(const std::vector<std::string>& lines)
{
    std::vector<std::string> texts;
    for (const auto& line : lines)
    {
        const auto separator = line.find("] - ");
        texts.push_back(separator == std::string::npos ? line : line.substr(separator + 4));
    }
    return texts;
}

// Waits for a child to end by itself; a child still running after the timeout is killed and reported as
// hanging. Returns the wait status.
inline int WaitForChild(pid_t child, std::chrono::seconds timeout = std::chrono::seconds(60))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "child process " << child << " hangs";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

inline bool ExitedNormally(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `body` in a child process that ends with `exit(0)` unless the body ends it otherwise; returns
// whether the child ended normally on its own.
template <typename Body>
bool RunChild(Body body, std::chrono::seconds timeout = std::chrono::seconds(60))
{
    const pid_t child = fork();
    if (child == 0)
    {
        body();
        std::exit(0);
    }
    return ExitedNormally(WaitForChild(child, timeout));
}

}  // namespace ozr::testing
