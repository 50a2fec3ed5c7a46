#include "SettingsWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>

#include "ozr/logging/LoggerConfigProvider.h"

namespace ozr::logging
{

namespace
{

// In place: closed after writing. Replaced: renamed over. Created: the first write of a new file, or a
// link made anew.
constexpr std::uint32_t g_events = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;

struct WatchedName
{
    int watchDescriptor;
    std::string fileName;
};

}  // namespace

// The state shared between the watcher and the read waiting on the context, which may outlive it.
// Lock order: `handlerMutex` is a leaf, held only around the call of `onLevel`, which takes no lock; no
// lock is held while the file is read, and the settings file's own lock is never taken.
class SettingsWatcher::Watch : public std::enable_shared_from_this<Watch>
{
public:
    Watch(boost::asio::io_context& ioContext, std::string configFilePath, LevelHandler handler)
        : executor(ioContext.get_executor()),
          descriptor(ioContext),
          settings(std::move(configFilePath)),
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
        for (const auto& file : FilesToWatch(settings.GetConfigFilePath()))
        {
            AddWatch(file);
        }
        if (watchedNames.empty())
        {
            descriptor.close(error);
            return false;
        }
        return true;
    }

    // Waits for the next events. The read counts as work of the context like any operation; that count is
    // given back at once, so that the watch never keeps a run loop alive. OnEvents takes it again.
    void Arm()
    {
        descriptor.async_read_some(
            boost::asio::buffer(buffer),
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t size)
            { self->OnEvents(error, size); });
        executor.on_work_finished();
    }

    void ReportLevel()
    {
        const std::optional<Severity> level = settings.ReadLogLevel();
        std::lock_guard<std::mutex> lock(handlerMutex);
        if (level && onLevel)
        {
            onLevel(*level);
        }
    }

    // Called by the watcher's destructor, on any thread.
    void Stop() noexcept
    {
        {
            std::lock_guard<std::mutex> lock(handlerMutex);
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
    // The settings file, and the file it links to when it is a symbolic link: the settings library
    // replaces a linked file at its target.
    static std::vector<std::filesystem::path> FilesToWatch(const std::filesystem::path& file)
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
        return files;
    }

    void AddWatch(const std::filesystem::path& file)
    {
        const std::filesystem::path directory = file.has_parent_path() ? file.parent_path() : ".";
        const int watchDescriptor =
            ::inotify_add_watch(descriptor.native_handle(), directory.c_str(), g_events | IN_ONLYDIR);
        if (watchDescriptor >= 0)
        {
            watchedNames.push_back({watchDescriptor, file.filename().string()});
        }
    }

    void OnEvents(const boost::system::error_code& error, std::size_t size)
    {
        // This read's count of work ends when the handler returns: take it back, as Arm gave it up.
        executor.on_work_started();
        if (error)
        {
            return;  // closed by the watcher's destructor, or broken: the watch ends
        }
        if (ConcernsTheFile(size))
        {
            try
            {
                ReportLevel();
            }
            catch (...)
            {
                // Out of memory while reading: the level stays, the watch goes on.
            }
        }
        Arm();
    }

    // Whether any of the events read names the settings file, or events were lost.
    bool ConcernsTheFile(std::size_t size) const
    {
        for (std::size_t offset = 0; offset + sizeof(inotify_event) <= size;)
        {
            inotify_event event;
            std::memcpy(&event, buffer.data() + offset, sizeof event);
            const char* name = buffer.data() + offset + sizeof event;
            offset += sizeof event + event.len;
            if ((event.mask & IN_Q_OVERFLOW) != 0)
            {
                return true;
            }
            for (const auto& watched : watchedNames)
            {
                if (event.wd == watched.watchDescriptor && event.len > 0 && offset <= size &&
                    watched.fileName == name)
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
    const LoggerConfigProvider settings;
    std::vector<WatchedName> watchedNames;
    // Room for at least one event with the longest file name.
    alignas(inotify_event) std::array<char, 4096> buffer{};
    std::mutex handlerMutex;
    LevelHandler onLevel;
};

SettingsWatcher::SettingsWatcher(boost::asio::io_context& ioContext, std::string configFilePath,
                                 LevelHandler onLevel)
{
    auto candidate = std::make_shared<Watch>(ioContext, std::move(configFilePath), std::move(onLevel));
    if (!candidate->Open())
    {
        return;
    }
    // Events queue up from Open on, so a change made while the level is read here is not missed.
    candidate->ReportLevel();
    candidate->Arm();
    watch = std::move(candidate);
}

SettingsWatcher::~SettingsWatcher()
{
    if (watch)
    {
        watch->Stop();
    }
}

}  // namespace ozr::logging
