#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
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

    // Empty when the file cannot be opened or measured, or is not a regular file: a FIFO, device or
    // directory put at the path is refused without waiting for it. A directory removed while the process
    // runs is made again.
    static std::optional<LogFile> Open(const std::filesystem::path& path);

    LogFile(LogFile&& other) noexcept;
    LogFile& operator=(LogFile&&) = delete;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    std::uint64_t Size() const { return size; }
    // When the file was last modified before it was opened.
    std::time_t ModifiedBeforeOpening() const { return modified; }
    bool IsUsable() const { return usable; }

    // Appends lines [first, last) of the batch in as few writes as the file allows. A line that could only
    // be written in part is cut off again, so the file never holds a fragment, unless something else was
    // written to the file after it (then the cut would remove that); the next line is tried all the same.
    // If the cut itself fails the file is no longer usable and the remaining lines are dropped. A write
    // past the process's file-size limit fails like a full disk, on any thread.
    Outcome Append(const LineBatch& batch, std::size_t first, std::size_t last);

private:
    // Where in the file the part of a line written so far lies, while the line is incomplete.
    struct Fragment
    {
        off_t begin = 0;
        off_t end = 0;
        bool located = false;  // false: it could not be found or is not contiguous; it is not cut
    };

    LogFile(int descriptor, std::uint64_t size, std::time_t modified);
    // After a write that left `written` bytes of a line (`lineBytes` in all) at the end of the file.
    Fragment Locate(const Fragment& earlier, std::size_t written, std::size_t lineBytes) const;
    // Removes the fragment while the file still ends with it. False when the file cannot be measured or
    // cut.
    bool Cut(const Fragment& fragment) const;

    int descriptor;
    std::uint64_t size;
    std::time_t modified;
    bool usable = true;
};

}  // namespace ozr::logging::appender::file
