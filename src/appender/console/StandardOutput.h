#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include "appender/LineBatch.h"
#include "ozr/logging/appender/console/ConfigProvider.h"

namespace ozr::logging::appender::console
{

// The console's lines on their way to file descriptor 1 (or 2, for standard error), written with write(2)
// so that none of them ever sits in the C library's stdio buffer (a forked child would write that buffer
// again at its exit). Writes only what the descriptor takes without blocking: a regular file takes
// everything; anything else (a pipe, a terminal, a socket) is written while poll() reports it writable, at
// most PIPE_BUF bytes at a time, which a pipe reported writable takes whole. The rest waits, up to
// MaxWaitingBytes; lines beyond that bound are dropped whole, the newest first, so what comes out is always
// an unbroken run of lines. Not thread-safe: its owner serialises the calls.
class StandardOutput
{
public:
    // Enough for a reader that pauses for a few seconds under heavy logging (some 40000 lines of 100
    // bytes), small enough that a pipe nobody reads costs the process a fixed, modest amount of memory.
    static constexpr std::size_t MaxWaitingBytes = 4 * 1024 * 1024;

    explicit StandardOutput(OutputStream stream);

    // Takes the batch's lines to write; those that would exceed MaxWaitingBytes are dropped and counted.
    void Take(const LineBatch& batch);
    // Writes waiting text while the descriptor takes it without blocking. Returns whether any byte went out.
    // A failed write drops and counts every waiting line.
    bool WriteWhatFits();
    // Drops and counts every waiting line, a partly written one included.
    void DropAll();
    bool IsEmpty() const { return writtenTo == textStart + text.size(); }

private:
    std::size_t NextChunkSize(bool neverWaits) const;
    void Consume(std::size_t bytes);
    void Compact();

    const int descriptor;
    std::FILE* const stdioStream;        // what the application writes to the same descriptor
    std::string text;                    // the waiting bytes, from stream position textStart on
    std::uint64_t textStart = 0;         // stream position of text[0]
    std::uint64_t writtenTo = 0;         // stream position up to which the bytes went out
    std::deque<std::uint64_t> lineEnds;  // stream positions where the lines not yet fully written end
};

}  // namespace ozr::logging::appender::console
