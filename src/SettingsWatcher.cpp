#include "SettingsWatcher.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>

#include "ozr/logging/LoggerConfigProvider.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging
{

namespace
{

// The settings file: closed after writing in place, renamed over, created (the first write of a new file,
// or a link made anew). Its directory: created or renamed into place. A watched directory: moved or
// deleted itself, after which the kernel drops its watch (IN_IGNORED, always reported).
constexpr std::uint32_t g_events =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;
constexpr std::uint32_t g_watchEnded = IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED;

// A settings file is a few lines; a larger one is not read, so that a mistaken file costs neither the
// worker's time nor memory.
constexpr std::size_t g_maxSettingsFileSize = 1 << 20;

// A name in a watched directory that concerns the settings file: the file itself, or a directory on its
// way.
struct WatchedName
{
    int watchDescriptor;
    std::string name;
};

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
        {
            ::close(fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd; }

private:
    int fd;
};

// Copies from `from`'s current offset up to `limit` bytes; the count copied, or nothing on an error.
std::optional<std::size_t> CopyAtMost(int from, int to, std::size_t limit)
{
    std::size_t copied = 0;
    while (copied < limit)
    {
        const ssize_t result = ::sendfile(to, from, nullptr, limit - copied);
        if (result < 0 && errno == EINTR)
        {
            continue;
        }
        if (result < 0)
        {
            return std::nullopt;
        }
        if (result == 0)
        {
            break;
        }
        copied += static_cast<std::size_t>(result);
    }
    return copied;
}

// The level the file names, read from a copy of at most g_maxSettingsFileSize bytes taken once, so that a
// file growing meanwhile cannot make the read longer; nothing for a larger file or one that is not a
// regular file. The copy is read through the settings library, which reads files by path.
std::optional<Severity> ReadLevelOfSmallFile(const std::string& path)
{
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat status = {};
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > g_maxSettingsFileSize)
    {
        return std::nullopt;
    }
    const FileDescriptor copy(::memfd_create("settings", MFD_CLOEXEC));
    if (copy.Get() < 0)
    {
        return std::nullopt;
    }
    const std::optional<std::size_t> copied = CopyAtMost(file.Get(), copy.Get(), g_maxSettingsFileSize + 1);
    if (!copied || *copied > g_maxSettingsFileSize)
    {
        return std::nullopt;
    }
    return LoggerConfigProvider("/proc/self/fd/" + std::to_string(copy.Get())).ReadLogLevel();
}

// Where the settings file appears: the file in its directory, and the directory in its parent, so that
// a directory replaced or made anew is found again. The same for the file a link leads to: the settings
// library replaces a linked file at its target.
std::vector<std::pair<std::filesystem::path, std::string>> NamesToWatch(const std::filesystem::path& file)
{
    std::vector<std::filesystem::path> files{file};
    std::error_code error;
    if (std::filesystem::is_symlink(file, error))
    {
        const auto target = std::filesystem::canonical(file, error);
        if (!error)
        {
            files.push_back(target);
        }
    }
    std::vector<std::pair<std::filesystem::path, std::string>> names;
    for (const auto& each : files)
    {
        const std::filesystem::path directory = each.parent_path();
        names.emplace_back(directory, each.filename().string());
        if (directory.has_relative_path())
        {
            names.emplace_back(directory.parent_path(), directory.filename().string());
        }
    }
    return names;
}

}  // namespace

// The state shared between the watcher and the read waiting on the context, which may outlive it.
// Lock order: `handlerMutex` is a leaf, held only around the call of `onLevel`, which takes no lock; no
// lock is held while the file is read, and the settings file's own lock is never taken.
class SettingsWatcher::Watch : public std::enable_shared_from_this<Watch>
{
public:
    Watch(boost::asio::io_context& ioContext, const std::string& configFilePath, LevelHandler handler)
        : executor(ioContext.get_executor()),
          descriptor(ioContext),
          settingsFile(std::filesystem::absolute(configFilePath).lexically_normal()),
          onLevel(std::move(handler))
    {
    }

    // Sets up the inotify watches; false when none could be.
    bool Open()
    {
        const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0)
        {
            return false;
        }
        boost::system::error_code error;
        descriptor.assign(fd, error);
        if (error)
        {
            ::close(fd);
            return false;
        }
        Rearm();
        if (watchedNames.empty())
        {
            descriptor.close(error);
            return false;
        }
        return true;
    }

    // Waits for the next events. The read counts as work of the context like any operation; that count is
    // given back at once, so that the watch never keeps a run loop alive. OnEvents takes it again.
    void Arm() noexcept
    {
        try
        {
            descriptor.async_read_some(
                boost::asio::buffer(buffer),
                [self = shared_from_this()](const boost::system::error_code& error, std::size_t size)
                { self->OnEvents(error, size); });
        }
        catch (...)
        {
            return;  // out of memory: the watch ends
        }
        executor.on_work_finished();
    }

    // A level that cannot be read, or a failure while reading it, leaves the level in force.
    void ReportLevel() noexcept
    {
        try
        {
            const std::optional<Severity> level = ReadLevelOfSmallFile(settingsFile.string());
            const LockGuard<Mutex> lock(handlerMutex);
            if (level && onLevel)
            {
                onLevel(*level);
            }
        }
        catch (...)
        {
        }
    }

    // Called by the watcher's destructor, on any thread.
    void Stop() noexcept
    {
        {
            const LockGuard<Mutex> lock(handlerMutex);
            onLevel = nullptr;
        }
        try
        {
            boost::asio::post(executor, [self = shared_from_this()] { self->Close(); });
        }
        catch (...)
        {
            // Out of memory: the descriptor stays open until the context is destroyed.
        }
    }

private:
    // Watches where the settings file is now, and drops the watches of places it has left (a directory
    // moved away, a link retargeted). A directory that cannot be watched is found again through its parent.
    void Rearm()
    {
        std::vector<WatchedName> wanted;
        for (const auto& [directory, name] : NamesToWatch(settingsFile))
        {
            const int watchDescriptor =
                ::inotify_add_watch(descriptor.native_handle(), directory.c_str(), g_events);
            if (watchDescriptor >= 0)
            {
                wanted.push_back({watchDescriptor, name});
            }
        }
        for (const auto& old : watchedNames)
        {
            if (!IsWatched(wanted, old.watchDescriptor))
            {
                ::inotify_rm_watch(descriptor.native_handle(), old.watchDescriptor);
            }
        }
        watchedNames = std::move(wanted);
    }

    static bool IsWatched(const std::vector<WatchedName>& names, int watchDescriptor)
    {
        return std::any_of(names.begin(), names.end(),
                           [watchDescriptor](const WatchedName& each)
                           { return each.watchDescriptor == watchDescriptor; });
    }

    // A failure here keeps the level in force and the watch going.
    void OnEvents(const boost::system::error_code& error, std::size_t size)
    {
        // This read's count of work ends when the handler returns: take it back, as Arm gave it up.
        executor.on_work_started();
        if (error)
        {
            return;  // closed by the watcher's destructor, or broken: the watch ends
        }
        try
        {
            if (ConcernsTheFile(size))
            {
                Rearm();
                ReportLevel();
            }
        }
        catch (...)
        {
            // Out of memory while watching anew: the watches stay as they were.
        }
        Arm();
    }

    // Whether any of the events read names the settings file or a directory on its way, ends a watch, or
    // tells that events were lost.
    bool ConcernsTheFile(std::size_t size) const
    {
        for (std::size_t offset = 0; offset + sizeof(inotify_event) <= size;)
        {
            inotify_event event;
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            const char* name = buffer.data() + offset + sizeof event;
            offset += sizeof event + event.len;
            if ((event.mask & IN_Q_OVERFLOW) != 0 ||
                ((event.mask & g_watchEnded) != 0 && IsWatched(watchedNames, event.wd)))
            {
                return true;
            }
            for (const auto& watched : watchedNames)
            {
                if (event.wd == watched.watchDescriptor && event.len > 0 && offset <= size &&
                    watched.name == name)
                {
                    return true;
                }
            }
        }
        return false;
    }

    void Close()
    {
        boost::system::error_code ignored;
        descriptor.close(ignored);
    }

    boost::asio::io_context::executor_type executor;
    boost::asio::posix::stream_descriptor descriptor;
    const std::filesystem::path settingsFile;
    std::vector<WatchedName> watchedNames;
    // Room for at least one event with the longest file name.
    alignas(inotify_event) std::array<char, 4096> buffer{};
    Mutex handlerMutex;
    LevelHandler onLevel OZR_GUARDED_BY(handlerMutex);
};

// A watcher that cannot be set up (out of memory, no inotify instance left) does nothing.
SettingsWatcher::SettingsWatcher(boost::asio::io_context& ioContext, std::string configFilePath,
                                 LevelHandler onLevel)
{
    try
    {
        auto candidate = std::make_shared<Watch>(ioContext, configFilePath, std::move(onLevel));
        if (!candidate->Open())
        {
            return;
        }
        // Events queue up from Open on, so a change made while the level is read here is not missed.
        candidate->ReportLevel();
        candidate->Arm();
        watch = std::move(candidate);
    }
    catch (...)
    {
    }
}

SettingsWatcher::~SettingsWatcher()
{
    if (watch)
    {
        watch->Stop();
    }
}

}  // namespace ozr::logging
