#include "ozr/logging/appender/file/Appender.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <iomanip>
#include <limits>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "LoggingCounters.h"
#include "appender/LineBatch.h"
#include "appender/LineLayout.h"
#include "appender/PendingLines.h"
#include "appender/SharedLine.h"
#include "appender/file/LogFile.h"
#include "appender/file/RotationPeriod.h"

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

// One past the last line from `first` on that may join the file whose last line is of `period`: the
// lines before the next one of a later period. A line of an earlier period (a clock set back) joins too,
// and the lines after it are judged against it.
std::size_t EndOfPeriod(const LineBatch& batch, std::size_t first, std::size_t last, RotationPeriod period)
{
    for (std::size_t line = first; line < last; ++line)
    {
        const RotationPeriod linePeriod = batch.RotationPeriod(line);
        if (linePeriod == NoPeriod)
        {
            continue;
        }
        if (line > first && period != NoPeriod && linePeriod > period)
        {
            return line;
        }
        period = linePeriod;
    }
    return last;
}

// The period of the last of lines [first, last) that has one; `period` if none has.
RotationPeriod LastPeriod(const LineBatch& batch, std::size_t first, std::size_t last, RotationPeriod period)
{
    for (std::size_t line = last; line > first; --line)
    {
        if (batch.RotationPeriod(line - 1) != NoPeriod)
        {
            return batch.RotationPeriod(line - 1);
        }
    }
    return period;
}

}  // namespace

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, Config config)
    : Appender(ioContext, formatter, std::move(config), ApplicationInfoProvider())
{
}

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, Config config,
                   const IApplicationInfoProvider& applicationInfo)
    : strand(ioContext),
      layout(MakeLineLayout(formatter, config.format, applicationInfo)),
      config(WithAtLeastOneFile(std::move(config))),
      currentFilePath(GetLogFilePath(0)),
      pending(std::make_unique<PendingLines>())
{
    std::filesystem::create_directories(this->config.logDirectory);
}

Appender::~Appender() = default;

void Appender::Log(std::shared_ptr<Message const> message)
{
    if (message == nullptr || !config.enabled)
    {
        return;
    }
    if (config.baseName.empty())
    {
        AddTo(g_loggingCounters.fileLinesDropped);  // the zone's name cannot be placed in the directory
        return;
    }
    const RotationPeriod period = RotationPeriodOf(message->localTime, config.rotationInterval);
    pending->Add(
        FormatSharedLine(*layout, std::move(message)), strand, *this,
        [this](const LineBatch& batch) { WriteBatch(batch); }, period);
}

void Appender::Flush(std::shared_ptr<void> done)
{
    pending->Flush(strand, *this, std::move(done), [this](const LineBatch& batch) { WriteBatch(batch); });
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

// Equivalent to writing the lines one at a time: the file is rotated after each line that takes it past
// the limit (the rest of the batch goes to the new current file), after a first line, even a dropped
// one, when the file was already larger than the limit, and before each line of a later rotation period.
void Appender::WriteBatch(const LineBatch& batch)
{
    const std::size_t count = batch.LineCount();
    std::size_t next = 0;
    bool rotationFailed = false;  // then the next line is written without rotating by time first, so a
                                  // rotation that keeps failing cannot be tried for ever
    while (next < count)
    {
        std::optional<LogFile> file = LogFile::Open(currentFilePath);
        if (!file)
        {
            AddTo(g_loggingCounters.fileLinesDropped, count - next);
            return;
        }
        if (currentPeriod == NoPeriod && file->Size() > 0)
        {
            currentPeriod = RotationPeriodOf(file->ModifiedBeforeOpening(), config.rotationInterval);
        }
        bool rotate = false;
        while (next < count && !rotate && file->IsUsable())
        {
            rotate = !rotationFailed && StartsLaterPeriod(batch.RotationPeriod(next), file->Size());
            if (rotate)
            {
                break;
            }
            rotationFailed = false;
            const std::size_t last =
                EndOfSegment(batch, next, EndOfPeriod(batch, next, count, currentPeriod), file->Size());
            const LogFile::Outcome outcome = file->Append(batch, next, last);
            AddTo(g_loggingCounters.fileLinesWritten, outcome.linesWritten);
            AddTo(g_loggingCounters.fileLinesDropped, outcome.linesDropped);
            currentPeriod = LastPeriod(batch, next, last, currentPeriod);
            next = last;
            rotate = file->Size() > config.maxFileSize;
        }
        if (!file->IsUsable())
        {
            AddTo(g_loggingCounters.fileLinesDropped, count - next);
            return;
        }
        file.reset();  // closed before it is renamed or removed
        if (rotate)
        {
            rotationFailed = !Rotate();
        }
    }
}

bool Appender::StartsLaterPeriod(std::int64_t period, std::uint64_t fileSize) const
{
    return fileSize > 0 && period != NoPeriod && currentPeriod != NoPeriod && period > currentPeriod;
}

std::size_t Appender::EndOfSegment(const LineBatch& batch, std::size_t first, std::size_t last,
                                   std::uint64_t size) const
{
    if (size > config.maxFileSize)
    {
        return first + 1;
    }
    for (std::size_t line = first; line < last; ++line)
    {
        const std::uint64_t room = config.maxFileSize - size;
        if (batch.Length(line) > room)
        {
            return line + 1;
        }
        size += batch.Length(line);
    }
    return last;
}

bool Appender::Rotate() const
{
    try
    {
        DeleteOldestLogFile();
        RotateLogFiles();
        AddTo(g_loggingCounters.rotations);
        return true;
    }
    catch (const std::system_error&)
    {
        // Another process moved a file, or permissions changed. The lines are written; the next line
        // tries the rotation again. Nothing reaches the caller or the appenders after this one.
        return false;
    }
}

}  // namespace ozr::logging::appender::file
