#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ozr/logging/Severity.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging
{

// A zone's logger settings, from section "OZRLogging" of its settings file.
struct LoggerConfig
{
    Severity verbosity;  // "LogLevel"
    bool logQueue;       // "LogQueue": read, kept, acted on by nothing
    // "WatchSettings": on (1) applies later changes of "LogLevel" in the file while the logger lives. On
    // when the text starts with a number other than 0; off when absent, 0 or not a number.
    bool watchSettings = false;
};

// Reads and writes one zone's logger settings. Reads may overlap each other; a write excludes them.
// Nothing is cached: every call goes to the file.
//
// Lock order: the registry lock (a logger's first read happens under it), then this store's lock, then
// the settings library's own locks. A logger's lock is never held while this store's lock is wanted: a
// write may wait, bounded, for another process's lock on the file.
class OZR_LOGGING_API LoggerConfigProvider
{
public:
    explicit LoggerConfigProvider(std::string configFilePath);

    LoggerConfig GetConfig() const;
    // Rewrites "LogLevel" only; every other line of the file stays as it was.
    void SetConfig(const LoggerConfig& config) const;
    // The same for the record that `current` gives once this store's lock is held.
    void SetConfig(const std::function<LoggerConfig()>& current) const;
    // Rewrites "LogLevel" with the level that `current` gives once this store's lock is held: a writer
    // that changed the value in memory first writes whatever is in force when its turn comes, so that
    // overlapping changes never leave the file behind memory.
    void SetLogLevel(const std::function<Severity()>& current) const;

    // The level "LogLevel" names in the file now; nothing when the file cannot be read, lacks the key or
    // names no level (a file caught half-written). Takes no lock, so it never waits behind a writer.
    std::optional<Severity> ReadLogLevel() const;

    const std::string& GetConfigFilePath() const { return configFilePath; }

private:
    mutable SharedMutex mutex;  // guards the file: readers share it, writers take it alone
    std::string configFilePath;
};

}  // namespace ozr::logging
