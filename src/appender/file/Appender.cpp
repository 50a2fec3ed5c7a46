#include "ozr/logging/appender/file/Appender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <functional>
#include <iomanip>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include <boost/asio/dispatch.hpp>

namespace ozr::logging::appender::file
{
namespace
{

constexpr std::uint64_t LargestIndex = std::numeric_limits<std::uint64_t>::max();
constexpr std::string_view Extension = ".txt";

// Config is a public record that applications may fill themselves; a count of 0 would make the top
// index wrap around, so the current file always counts as one retained file.
Config WithAtLeastOneFile(Config config)
{
    config.maxFileCount = std::max<std::uint64_t>(config.maxFileCount, 1);
    return config;
}

// New files get 0666 narrowed by the umask, as a file stream would create them.
int OpenForAppend(const std::filesystem::path& file)
{
    int descriptor = -1;
    do
    {
        descriptor = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// Opens the file for appending. If its directory was removed while the process runs, recreates it once
// instead of dropping every later message until a restart.
int OpenCurrentFile(const std::filesystem::path& file)
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

// Writes the whole text, resuming after partial and interrupted writes; gives up at the first error.
void WriteAll(int descriptor, std::string_view text)
{
    while (!text.empty())
    {
        const ssize_t written = ::write(descriptor, text.data(), text.size());
        if (written < 0 && errno == EINTR)
        {
            continue;
        }
        if (written <= 0)
        {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Appends the line and returns the file's size afterwards: open, write, fstat, close, nothing more.
// Empty when the file cannot be opened or measured; the line is then dropped.
std::optional<std::uint64_t> AppendLine(const std::filesystem::path& file, std::string_view line)
{
    const int descriptor = OpenCurrentFile(file);
    if (descriptor < 0)
    {
        return std::nullopt;
    }
    WriteAll(descriptor, line);
    struct stat status
    {
    };
    const bool measured = ::fstat(descriptor, &status) == 0;
    ::close(descriptor);
    if (!measured)
    {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

// The index of a name ending in ".<decimal digits>.txt", if the digits fit 64 bits.
std::optional<std::uint64_t> ParseIndexSuffix(std::string_view name)
{
    if (name.size() <= Extension.size() || name.substr(name.size() - Extension.size()) != Extension)
    {
        return std::nullopt;
    }
    const std::string_view stem = name.substr(0, name.size() - Extension.size());
    const std::size_t dot = stem.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == stem.size())
    {
        return std::nullopt;
    }
    std::uint64_t index = 0;
    const char* last = stem.data() + stem.size();
    const auto [end, error] = std::from_chars(stem.data() + dot + 1, last, index);
    if (error != std::errc{} || end != last)
    {
        return std::nullopt;
    }
    return index;
}

}  // namespace

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, Config config)
    : strand(ioContext),
      formatter(formatter),
      config(WithAtLeastOneFile(std::move(config))),
      currentFilePath(GetLogFilePath(0))
{
    // A directory that cannot be made now (no permission, a file in the way) must not make every log call
    // of the zone throw: its lines are dropped, and each write tries to make the directory again.
    std::error_code ignored;
    std::filesystem::create_directories(this->config.logDirectory, ignored);
}

void Appender::Log(std::shared_ptr<Message const> message)
{
    if (message == nullptr || !config.enabled)
    {
        return;
    }
    boost::asio::dispatch(
        strand, [self = shared_from_this(), message = std::move(message)] { self->WriteMessage(*message); });
}

std::string Appender::GetLogFileName(std::uint64_t index) const
{
    std::ostringstream name;
    name << config.baseName << '.' << std::setw(2) << std::setfill('0') << index << Extension;
    return name.str();
}

std::filesystem::path Appender::GetLogFilePath(std::uint64_t index) const
{
    return config.logDirectory / GetLogFileName(index);
}

void Appender::DeleteOldestLogFile() const
{
    // The oldest retained file, then leftovers directly above it from an earlier, larger count.
    for (std::uint64_t index = config.maxFileCount - 1;; ++index)
    {
        const std::filesystem::path oldest = GetLogFilePath(index);
        if (!std::filesystem::exists(oldest))
        {
            return;
        }
        std::filesystem::remove(oldest);
        if (index == LargestIndex)
        {
            return;
        }
    }
}

void Appender::RotateLogFiles() const
{
    // Highest index first, so no retained file is overwritten; a missing index stays a gap:
    //   .(n-2) -> .(n-1), ..., .01 -> .02, .00 -> .01
    for (const std::uint64_t index : ListRotatableIndices())
    {
        std::filesystem::rename(GetLogFilePath(index), GetLogFilePath(index + 1));
    }
}

std::vector<std::uint64_t> Appender::ListRotatableIndices() const
{
    // Listing the directory keeps the cost with the files present, not with the configured count,
    // which may be as large as 2^64 - 1.
    const std::uint64_t topIndex = config.maxFileCount - 1;
    const std::filesystem::path directory = currentFilePath.parent_path();
    std::vector<std::uint64_t> indices;
    for (const auto& entry : std::filesystem::directory_iterator(directory.empty() ? "." : directory))
    {
        const std::string name = entry.path().filename().string();
        const std::optional<std::uint64_t> index = ParseIndexSuffix(name);
        // The exact name check rejects other spellings of an index, such as "Net.5.txt" or "Net.005.txt".
        if (index && *index < topIndex && GetLogFilePath(*index).filename() == name)
        {
            indices.push_back(*index);
        }
    }
    std::sort(indices.begin(), indices.end(), std::greater<>());
    return indices;
}

void Appender::WriteMessage(const Message& message) const
{
    const std::optional<std::uint64_t> size = AppendLine(currentFilePath, formatter.PrintMessage(message));
    if (!size || *size <= config.maxFileSize)
    {
        return;
    }
    try
    {
        DeleteOldestLogFile();
        RotateLogFiles();
    }
    catch (const std::system_error&)
    {
        // Another process moved a file, or permissions changed. The line is written; the next message
        // tries the rotation again. Nothing reaches the caller or the appenders after this one.
    }
}

}  // namespace ozr::logging::appender::file
