#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ozr::logging::appender
{

// Text lines waiting to be written together: one contiguous text and where each line ends in it, with
// the rotation period of each line's time stamp (the file appender's; 0 when it has none).
class LineBatch
{
public:
    // A batch this large is written at once rather than waiting for more lines, so that a busy zone's
    // file is opened and closed again every few milliseconds.
    static constexpr std::size_t MaxLines = 256;
    static constexpr std::size_t MaxBytes = 64 * 1024;

    void Add(std::string_view line, std::int64_t rotationPeriod = 0)
    {
        text.append(line);
        ends.push_back(text.size());
        rotationPeriods.push_back(rotationPeriod);
    }

    // Empties the batch but keeps its memory for the next one.
    void Clear()
    {
        text.clear();
        ends.clear();
        rotationPeriods.clear();
    }

    bool IsEmpty() const { return ends.empty(); }
    bool IsFull() const { return ends.size() >= MaxLines || text.size() >= MaxBytes; }
    std::size_t LineCount() const { return ends.size(); }
    const std::string& Text() const { return text; }

    // Offset of the first byte of line `index`; LineCount() gives the end of the text.
    std::size_t Begin(std::size_t index) const { return index == 0 ? 0 : ends[index - 1]; }
    std::size_t End(std::size_t index) const { return ends[index]; }
    std::size_t Length(std::size_t index) const { return End(index) - Begin(index); }
    std::int64_t RotationPeriod(std::size_t index) const { return rotationPeriods[index]; }

private:
    std::string text;
    std::vector<std::size_t> ends;
    std::vector<std::int64_t> rotationPeriods;
};

// Empties a batch when the scope ends, also when writing it threw, so that no line is written twice.
class ClearOnExit
{
public:
    explicit ClearOnExit(LineBatch& batch) : batch(batch) {}
    ~ClearOnExit() { batch.Clear(); }
    ClearOnExit(const ClearOnExit&) = delete;
    ClearOnExit& operator=(const ClearOnExit&) = delete;

private:
    LineBatch& batch;
};

}  // namespace ozr::logging::appender
