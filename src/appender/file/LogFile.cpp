#include "appender/file/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "SystemError.h"  // the settings library's RetryOnInterrupt

namespace ozr::logging::appender::file
{
namespace
{

using ozr::config::ini::detail::RetryOnInterrupt;

// New files get 0666 narrowed by the umask, as a file stream would create them.
int OpenForAppend(const std::filesystem::path& file)
{
    return RetryOnInterrupt(
        [&] { return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666); });
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

std::optional<std::uint64_t> MeasureSize(int descriptor)
{
    struct stat status
    {
    };
    if (RetryOnInterrupt([&] { return ::fstat(descriptor, &status); }) != 0)
    {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace

std::optional<LogFile> LogFile::Open(const std::filesystem::path& path)
{
    const int descriptor = OpenOrRecreateDirectory(path);
    if (descriptor < 0)
    {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> size = MeasureSize(descriptor);
    if (!size)
    {
        ::close(descriptor);
        return std::nullopt;
    }
    return LogFile(descriptor, *size);
}

LogFile::LogFile(int descriptor, std::uint64_t size) : descriptor(descriptor), size(size) {}

LogFile::LogFile(LogFile&& other) noexcept
    : descriptor(other.descriptor), size(other.size), usable(other.usable)
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
    Outcome outcome;
    const char* const text = batch.Text().data();
    const std::size_t end = batch.Begin(last);
    std::size_t line = first;
    std::size_t offset = batch.Begin(first);  // next byte to write
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
            continue;
        }
        // The write stopped (disk full, a size limit, an I/O error): the line under way is removed again
        // and dropped, and the next line gets a write of its own.
        if (offset > batch.Begin(line) && !TruncateTo(size))
        {
            usable = false;
            break;
        }
        ++outcome.linesDropped;
        ++line;
        offset = batch.Begin(line);
    }
    outcome.linesDropped += last - line;
    return outcome;
}

bool LogFile::TruncateTo(std::uint64_t length) const
{
    return RetryOnInterrupt([&] { return ::ftruncate(descriptor, static_cast<off_t>(length)); }) == 0;
}

}  // namespace ozr::logging::appender::file
