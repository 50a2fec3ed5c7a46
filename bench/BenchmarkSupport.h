#pragma once

// Shared by the pipeline benchmarks: a scratch configuration and log directory that the library is
// pointed at, standard output redirection, line counting and percentiles.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TempDirectory.h"
#include "ozr/logging/Logging.h"

namespace ozr::bench
{

struct ZoneSettings
{
    std::string logLevel = "Info";
    // Large enough that nothing rotates away during a run: every line stays countable.
    std::uint64_t maxFileSizeMB = 4096;
    std::uint64_t maxFileCount = 100;
};

// A temporary directory with "config" and "logs", set as the library's directories for zones made
// afterwards. Every zone added is shut down before the directory is removed.
class LoggingWorkspace
{
public:
    LoggingWorkspace()
    {
        std::filesystem::create_directories(ConfigDirectory());
        std::filesystem::create_directories(LogDirectory());
        ozr::logging::SetLoggingConfigDirectoryPath(ConfigDirectory().c_str());
        ozr::logging::SetLoggingLogsDirectoryPath(LogDirectory().c_str());
    }
    ~LoggingWorkspace()
    {
        for (const char* zone : zones)
        {
            ozr::logging::ShutdownLogging(zone);
        }
    }
    LoggingWorkspace(const LoggingWorkspace&) = delete;
    LoggingWorkspace& operator=(const LoggingWorkspace&) = delete;

    // Writes the zone's settings file and initialises the zone; `zone` must outlive the workspace.
    void AddZone(const char* zone, const ZoneSettings& settings)
    {
        ozr::testing::WriteFile(
            ConfigDirectory() / (std::string(zone) + ".Logging.ini"),
            "[OZRLogging]\nLogLevel=" + settings.logLevel +
                "\n[FileAppender]\nMaxFileSizeMB=" + std::to_string(settings.maxFileSizeMB) +
                "\nMaxFileCount=" + std::to_string(settings.maxFileCount) + "\n");
        ozr::logging::InitialiseLogging(zone);
        zones.push_back(zone);
    }

    // Shuts every zone down now; returns when everything queued has been written.
    void Shutdown()
    {
        for (const char* zone : zones)
        {
            ozr::logging::ShutdownLogging(zone);
        }
        zones.clear();
    }

    std::filesystem::path ConfigDirectory() const { return directory / "config"; }
    std::filesystem::path LogDirectory() const { return directory / "logs"; }
    std::filesystem::path Path() const { return directory.Path(); }

private:
    ozr::testing::TempDirectory directory;
    std::vector<const char*> zones;
};

inline std::uint64_t CountLines(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    std::uint64_t lines = 0;
    while (stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || stream.gcount() > 0)
    {
        lines += static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + stream.gcount(), '\n'));
    }
    return lines;
}

// Lines across every file of the directory: the current log file and all rotated ones.
inline std::uint64_t CountLinesInDirectory(const std::filesystem::path& directory)
{
    std::uint64_t lines = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
    {
        lines += entry.is_regular_file() ? CountLines(entry.path()) : 0;
    }
    return lines;
}

// Points an output descriptor (standard output unless told otherwise) somewhere else until destroyed.
// The library's console appender writes through std::cout, which ends up on descriptor 1.
class OutputRedirection
{
public:
    explicit OutputRedirection(int target, int redirected = STDOUT_FILENO)
        : redirected(redirected), saved(dup(redirected))
    {
        Flush();
        if (saved < 0 || dup2(target, redirected) < 0)
        {
            throw std::runtime_error("cannot redirect descriptor " + std::to_string(redirected));
        }
    }
    ~OutputRedirection()
    {
        Flush();
        dup2(saved, redirected);
        close(saved);
    }
    OutputRedirection(const OutputRedirection&) = delete;
    OutputRedirection& operator=(const OutputRedirection&) = delete;

private:
    static void Flush()
    {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(nullptr);
    }

    int redirected;
    int saved;
};

// A file opened for writing, closed on destruction.
class OutputFile
{
public:
    explicit OutputFile(const std::filesystem::path& path)
        : descriptor(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644))
    {
        if (descriptor < 0)
        {
            throw std::runtime_error("cannot open " + path.string());
        }
    }
    ~OutputFile() { close(descriptor); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int Descriptor() const { return descriptor; }

private:
    int descriptor;
};

// The value below which `fraction` of the samples lie (nearest rank); sorts the samples.
inline double Percentile(std::vector<double>& samples, double fraction)
{
    if (samples.empty())
    {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples.at(rank);
}

}  // namespace ozr::bench
