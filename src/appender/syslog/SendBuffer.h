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
// the collector acknowledged on the current connection but may not have read yet (its kernel took them:
// a collector that ends meanwhile loses them), the records written on it and not yet acknowledged (each
// with the stream offset of its end), the batch being written, then those still to be written. At most
// `capacity` records: a new one beyond it pushes out the oldest, whatever its state (counted as dropped
// unless it had been acknowledged). Pure bookkeeping: it touches no socket.
class SendBuffer
{
public:
    using Frame = std::shared_ptr<const std::string>;

    explicit SendBuffer(std::size_t capacity);

    // Adds a record at the back; returns how many unacknowledged records were dropped to make room (0 or 1).
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
    // The batch in flight failed after the stream had taken `handed` of its bytes. The records that began
    // within them may have reached the collector: they count as written (returned), and a rewrite of
    // them as written again. Every record of the batch is to be written again.
    Written BatchFailed(std::uint64_t handed = 0, bool exact = true);
    // The first `acknowledged` bytes of the stream have been acknowledged: so have the written records
    // that lie wholly within them; returns how many had not been before. Of those, the ones that end
    // within the last `unreadBound` bytes acknowledged are kept, to be written again on the next
    // connection, since the collector may not have read them yet; the older ones are removed.
    std::size_t Acknowledge(std::uint64_t acknowledged, std::uint64_t unreadBound = 0);
    // The collector closed its end in order, having read what it acknowledged: removes the records kept.
    void ForgetAcknowledged();
    // A new connection: every record is to be written again, from the oldest, those kept included.
    void Rewind();
    // Removes every record; returns how many had not been acknowledged.
    std::size_t Clear();

    bool Empty() const { return records.empty(); }
    std::size_t Size() const { return records.size(); }
    // Whether some record has not been acknowledged yet.
    bool HasPending() const { return unacknowledged != 0; }
    // Whether records wait to be written (none is in flight).
    bool HasUnwritten() const { return inFlight == 0 && written < records.size(); }

private:
    struct Record
    {
        Frame frame;
        bool everWritten = false;
        bool acknowledged = false;  // on this connection or an earlier one
        // While in flight: the end counted from the batch's start. Once written: the stream offset.
        std::uint64_t end = 0;
    };

    void PopFront();

    const std::size_t capacity;
    std::deque<Record> records;
    std::size_t kept = 0;     // the acknowledged records at the front, of the current connection
    std::size_t written = 0;  // the records written on the current connection, those kept included
    std::size_t inFlight = 0;
    std::size_t unacknowledged = 0;
};

}  // namespace ozr::logging::appender::syslog
