#include "appender/file/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "FileSizeSignal.h"
#include "SystemError.h"  // the settings library's RetryOnInterrupt

namespace ozr::logging::appender::file
{
namespace
{

using ozr::config::ini::detail::RetryOnInterrupt;

// Non-blocking, so that a FIFO or device put at the path cannot hold up the worker, and never taken as a
// controlling terminal. New files get 0666 narrowed by the umask, as a file stream would create them.
int OpenForAppend(const std::filesystem::path& file)
{
    return RetryOnInterrupt(
        [&] {
            return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                          0666);
        });
}

// If the directory was removed while the process runs, makes it again once instead of dropping every
// later line until a restart.
int OpenOrRecreateDirectory(const std::filesystem::path& file)
{
    int descriptor = OpenForAppend(file);
    if (descriptor < 0 && errno == ENOENT)
    {
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        descriptor = OpenForAppend(file);
    }
    return descriptor;
}

std::optional<struct stat> Status(int descriptor)
{
    struct stat status
    {
    };
    if (RetryOnInterrupt([&] { return ::fstat(descriptor, &status); }) != 0)
    {
        return std::nullopt;
    }
    return status;
}

}  // namespace

std::optional<LogFile> LogFile::Open(const std::filesystem::path& path)
{
    const int descriptor = OpenOrRecreateDirectory(path);
    if (descriptor < 0)
    {
        return std::nullopt;
    }
    const std::optional<struct stat> status = Status(descriptor);
    if (!status || !S_ISREG(status->st_mode))
    {
        ::close(descriptor);
        return std::nullopt;
    }
    return LogFile(descriptor, static_cast<std::uint64_t>(status->st_size), status->st_mtime);
}

LogFile::LogFile(int descriptor, std::uint64_t size, std::time_t modified)
    : descriptor(descriptor), size(size), modified(modified)
{
}

LogFile::LogFile(LogFile&& other) noexcept
    : descriptor(other.descriptor), size(other.size), modified(other.modified), usable(other.usable)
{
    other.descriptor = -1;
}

// A failing close is not retried: on Linux the descriptor is released whatever close reports.
LogFile::~LogFile()
{
    if (descriptor >= 0)
    {
        ::close(descriptor);
    }
}

LogFile::Outcome LogFile::Append(const LineBatch& batch, std::size_t first, std::size_t last)
{
    FileSizeSignalBlock sizeSignal;
    Outcome outcome;
    const char* const text = batch.Text().data();
    const std::size_t end = batch.Begin(last);
    std::size_t line = first;
    std::size_t offset = batch.Begin(first);  // next byte to write
    Fragment fragment;                        // of line `line`, while part of it is written
    while (line < last && usable)
    {
        const ssize_t written =
            RetryOnInterrupt([&] { return ::write(descriptor, text + offset, end - offset); });
        if (written > 0)
        {
            offset += static_cast<std::size_t>(written);
            for (; line < last && batch.End(line) <= offset; ++line)
            {
                size += batch.Length(line);
                ++outcome.linesWritten;
            }
            if (offset > batch.Begin(line))
            {
                fragment = Locate(fragment, static_cast<std::size_t>(written), offset - batch.Begin(line));
            }
            continue;
        }
        // The write stopped (disk full, a size limit, an I/O error): the line under way is removed again
        // and dropped, and the next line gets a write of its own.
        if (written < 0 && errno == EFBIG)
        {
            sizeSignal.NoteLimitReached();
        }
        if (offset > batch.Begin(line) && !Cut(fragment))
        {
            usable = false;
            break;
        }
        ++outcome.linesDropped;
        ++line;
        offset = batch.Begin(line);
        fragment = Fragment{};
    }
    outcome.linesDropped += last - line;
    return outcome;
}

// With O_APPEND each write goes to the end of the file as it is then, so where a line began is known only
// from the offset after the write, not from the size at opening: other processes may have appended since,
// or a tool truncated the file.
LogFile::Fragment LogFile::Locate(const Fragment& earlier, std::size_t written, std::size_t lineBytes) const
{
    const off_t after = ::lseek(descriptor, 0, SEEK_CUR);
    if (after < 0)
    {
        return Fragment{};
    }
    if (lineBytes <= written)  // the line began in this write
    {
        return Fragment{after - static_cast<off_t>(lineBytes), after, true};
    }
    // Earlier writes of the same line must end where this one began, or something came in between.
    const bool contiguous = earlier.located && earlier.end == after - static_cast<off_t>(written);
    return Fragment{earlier.begin, after, contiguous};
}

// A file that no longer ends where the fragment ends was written to or truncated by someone else since:
// cutting it back would remove their lines, so the fragment stays.
bool LogFile::Cut(const Fragment& fragment) const
{
    if (!fragment.located)
    {
        return true;
    }
    const std::optional<struct stat> status = Status(descriptor);
    if (!status)
    {
        return false;
    }
    if (status->st_size != fragment.end)
    {
        return true;
    }
    return RetryOnInterrupt([&] { return ::ftruncate(descriptor, fragment.begin); }) == 0;
}

}  // namespace ozr::logging::appender::file
