#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "appender/LineBatch.h"

namespace ozr::logging::appender::file
{

// The current log file, open for appending for the length of one batch: open, fstat, write, close.
// It keeps track of its size from the measurement at opening and the lines appended since.
class LogFile
{
public:
    struct Outcome
    {
        std::size_t linesWritten = 0;
        std::size_t linesDropped = 0;
    };

    // Empty when the file cannot be opened or measured. A directory removed while the process runs is
    // made again.
    static std::optional<LogFile> Open(const std::filesystem::path& path);

    LogFile(LogFile&& other) noexcept;
    LogFile& operator=(LogFile&&) = delete;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    std::uint64_t Size() const { return size; }
    bool IsUsable() const { return usable; }

    // Appends lines [first, last) of the batch in as few writes as the file allows. A line that could only
    // be written in part is cut off again, so the file never holds a fragment; the next line is tried all
    // the same. If the cut itself fails the file is no longer usable and the remaining lines are dropped.
    Outcome Append(const LineBatch& batch, std::size_t first, std::size_t last);

private:
    LogFile(int descriptor, std::uint64_t size);
    bool TruncateTo(std::uint64_t length) const;

    int descriptor;
    std::uint64_t size;
    bool usable = true;
};

}  // namespace ozr::logging::appender::file
