#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace ozr::logging::appender::syslog
{

// The framed records of a stream in arrival order, kept until the collector has acknowledged them, so
// that what a broken connection lost can be written again on the next one. From the front: the records
// written on the current connection (each with the stream offset of its end), the batch being written,
// then those still to be written. At most `capacity` records: a new one beyond it pushes out the oldest,
// whatever its state. Pure bookkeeping: it touches no socket.
class SendBuffer
{
public:
    using Frame = std::shared_ptr<const std::string>;

    explicit SendBuffer(std::size_t capacity);

    // Adds a record at the back; returns how many of the oldest were dropped to make room (0 or 1).
    std::size_t Push(Frame frame);
    // The next records to write, from the first unwritten one, together at most `maxBytes` long (but at
    // least one record): they are the batch in flight until BatchWritten or BatchFailed.
    std::vector<Frame> TakeBatch(std::size_t maxBytes);

    // The batch in flight has been handed to the stream, which had taken `start` bytes before it and
    // `end` bytes after it. With `exact`, each record ends at its own offset counted from `start`;
    // otherwise (the stream's bytes are not the records' bytes, as under TLS) every one ends at `end`.
    struct Written
    {
        std::size_t firstTime;  // records written for the first time
        std::size_t again;      // records written before, on an earlier connection
    };
    Written BatchWritten(std::uint64_t start, std::uint64_t end, bool exact);
    // The batch in flight was not written.
    void BatchFailed() { inFlight = 0; }
    // Removes the written records that lie wholly within the first `acknowledged` bytes of the stream;
    // returns how many.
    std::size_t RemoveAcknowledged(std::uint64_t acknowledged);
    // A new connection: every record is to be written again, from the oldest.
    void Rewind();
    // Removes every record; returns how many.
    std::size_t Clear();

    bool Empty() const { return records.empty(); }
    std::size_t Size() const { return records.size(); }
    // Whether records wait to be written (none is in flight).
    bool HasUnwritten() const { return inFlight == 0 && written < records.size(); }

private:
    struct Record
    {
        Frame frame;
        bool everWritten = false;
        // While in flight: the end counted from the batch's start. Once written: the stream offset.
        std::uint64_t end = 0;
    };

    const std::size_t capacity;
    std::deque<Record> records;
    std::size_t written = 0;
    std::size_t inFlight = 0;
};

}  // namespace ozr::logging::appender::syslog
