#include "appender/console/StandardOutput.h"

#include <poll.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "LoggingCounters.h"

namespace ozr::logging::appender::console
{
namespace
{

// A file or disk takes every write whole without waiting for a reader.
bool NeverWaits(int descriptor)
{
    struct stat status = {};
    return fstat(descriptor, &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

// Also true when the descriptor is in error or closed: the write that follows fails and drops the lines.
bool TakesAPipeBufferNow(int descriptor)
{
    pollfd entry{descriptor, POLLOUT, 0};
    int ready = 0;
    do
    {
        ready = poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// What the application itself left in the stream's stdio buffer goes out before the console's lines, so
// that the two keep the order they had when both went through that buffer. Only when it cannot block:
// when another thread holds the stream, that thread is writing right now and the two have no order anyway.
bool ApplicationOutputFlushed(std::FILE* stream, int descriptor, bool neverWaits)
{
    if (ftrylockfile(stream) != 0)
    {
        return true;
    }
    bool flushed = true;
    if (__fpending(stream) > 0)
    {
        flushed = neverWaits || TakesAPipeBufferNow(descriptor);
        if (flushed)
        {
            fflush_unlocked(stream);
        }
    }
    funlockfile(stream);
    return flushed;
}

ssize_t WriteToDescriptor(int descriptor, const char* data, std::size_t size)
{
    ssize_t written = 0;
    do
    {
        written = write(descriptor, data, size);
    } while (written < 0 && errno == EINTR);
    return written;
}

}  // namespace

StandardOutput::StandardOutput(OutputStream stream)
    : descriptor(stream == OutputStream::StandardError ? STDERR_FILENO : STDOUT_FILENO),
      stdioStream(stream == OutputStream::StandardError ? stderr : stdout)
{
}

void StandardOutput::Take(const LineBatch& batch)
{
    Compact();
    std::uint64_t dropped = 0;
    for (std::size_t index = 0; index < batch.LineCount(); ++index)
    {
        const std::size_t waiting = textStart + text.size() - writtenTo;
        if (waiting + batch.Length(index) > MaxWaitingBytes)
        {
            ++dropped;
            continue;
        }
        text.append(batch.Text(), batch.Begin(index), batch.Length(index));
        lineEnds.push_back(textStart + text.size());
    }
    AddTo(g_loggingCounters.consoleLinesDropped, dropped);
}

bool StandardOutput::WriteWhatFits()
{
    const bool neverWaits = NeverWaits(descriptor);
    bool progress = false;
    while (!IsEmpty() && ApplicationOutputFlushed(stdioStream, descriptor, neverWaits))
    {
        const std::size_t size = NextChunkSize(neverWaits);
        if (size == 0)
        {
            break;
        }
        const ssize_t written = WriteToDescriptor(descriptor, text.data() + (writtenTo - textStart), size);
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            break;  // the application made the descriptor non-blocking itself
        }
        if (written <= 0)
        {
            DropAll();
            break;
        }
        Consume(static_cast<std::size_t>(written));
        progress = true;
    }
    return progress;
}

void StandardOutput::DropAll()
{
    AddTo(g_loggingCounters.consoleLinesDropped, lineEnds.size());
    lineEnds.clear();
    textStart += text.size();
    writtenTo = textStart;
    text.clear();
}

// Zero while the descriptor would block. Otherwise whole lines up to PIPE_BUF bytes, or PIPE_BUF bytes of a
// longer line; everything at once for a regular file.
std::size_t StandardOutput::NextChunkSize(bool neverWaits) const
{
    const std::uint64_t end = textStart + text.size();
    if (neverWaits)
    {
        return static_cast<std::size_t>(end - writtenTo);
    }
    if (!TakesAPipeBufferNow(descriptor))
    {
        return 0;
    }
    const std::uint64_t limit = std::min<std::uint64_t>(end, writtenTo + PIPE_BUF);
    const auto pastLimit = std::upper_bound(lineEnds.begin(), lineEnds.end(), limit);
    const std::uint64_t chunkEnd = pastLimit == lineEnds.begin() ? limit : *(pastLimit - 1);
    return static_cast<std::size_t>(chunkEnd - writtenTo);
}

void StandardOutput::Consume(std::size_t bytes)
{
    writtenTo += bytes;
    std::uint64_t lines = 0;
    while (!lineEnds.empty() && lineEnds.front() <= writtenTo)
    {
        lineEnds.pop_front();
        ++lines;
    }
    AddTo(g_loggingCounters.consoleLinesWritten, lines);
}

// Forgets the bytes already written once they are at least half of the text, so that each byte is moved
// at most once on average.
void StandardOutput::Compact()
{
    const auto written = static_cast<std::size_t>(writtenTo - textStart);
    if (written > 0 && written * 2 >= text.size())
    {
        text.erase(0, written);
        textStart = writtenTo;
    }
}

}  // namespace ozr::logging::appender::console
