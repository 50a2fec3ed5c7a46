#pragma once

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "ozr/logging/Export.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// Follows "LogLevel" in one zone's settings file while it lives: inotify on the file's directory and on
// that directory's parent (and the same for its target when the file is a symbolic link), read through a
// stream descriptor on the given context. Whenever the file is written in place, replaced by rename or
// created, the level it names is read again (without the settings-file lock) and handed to `onLevel`; a
// file that cannot be read, names no level (such as one caught half-written) or is larger than 1 MiB
// reports nothing. When a watched directory is moved or removed, a directory appears in its place or the
// link is retargeted, the watches are set up anew where the path leads now and the level is read again.
// The constructor reports the level once, so that a change made while the zone's logger was being made is
// not missed. Nothing is ever written back, and no failure leaves the watcher: it keeps the level in force.
//
// `onLevel` runs on the thread that runs the context (and once on the constructing thread); it must be
// quick and take no lock. It is never called once the destructor has returned. Any thread may construct
// and destroy the watcher; the descriptor itself is touched only by the constructor and, afterwards, by
// tasks on the context, and the destructor hands its closing to the context.
//
// A waiting watch does not count as work of the context: a run loop whose other work is done returns
// (a worker is drained and joined) although the watch still waits. The watch then resumes whenever the
// context runs again. When no watch can be set up (no inotify instance left, an unreadable directory),
// the watcher does nothing.
class OZR_LOGGING_API SettingsWatcher
{
public:
    using LevelHandler = std::function<void(Severity)>;

    SettingsWatcher(boost::asio::io_context& ioContext, std::string configFilePath, LevelHandler onLevel);
    ~SettingsWatcher();
    SettingsWatcher(const SettingsWatcher&) = delete;
    SettingsWatcher& operator=(const SettingsWatcher&) = delete;

    // Whether a watch was set up.
    bool IsWatching() const { return watch != nullptr; }

private:
    class Watch;
    std::shared_ptr<Watch> watch;
};

}  // namespace ozr::logging
