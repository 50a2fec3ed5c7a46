#include "appender/syslog/SendBuffer.h"

#include <algorithm>
#include <utility>

namespace ozr::logging::appender::syslog
{

SendBuffer::SendBuffer(std::size_t capacity) : capacity(std::max<std::size_t>(capacity, 1)) {}

std::size_t SendBuffer::Push(Frame frame)
{
    std::size_t dropped = 0;
    if (records.size() >= capacity)
    {
        dropped = records.front().acknowledged ? 0 : 1;
        PopFront();
    }
    records.push_back({std::move(frame)});
    ++unacknowledged;
    return dropped;
}

// A record in flight that goes still has its bytes go out; the records after it keep their own ends.
void SendBuffer::PopFront()
{
    if (!records.front().acknowledged)
    {
        --unacknowledged;
    }
    records.pop_front();
    if (kept > 0)
    {
        --kept;
    }
    if (written > 0)
    {
        --written;
    }
    else if (inFlight > 0)
    {
        --inFlight;
    }
}

std::vector<SendBuffer::Frame> SendBuffer::TakeBatch(std::size_t maxBytes)
{
    std::vector<Frame> batch;
    if (inFlight != 0)
    {
        return batch;
    }
    std::uint64_t bytes = 0;
    for (std::size_t index = written; index < records.size(); ++index)
    {
        Record& record = records[index];
        if (!batch.empty() && bytes + record.frame->size() > maxBytes)
        {
            break;
        }
        bytes += record.frame->size();
        record.end = bytes;
        batch.push_back(record.frame);
    }
    inFlight = batch.size();
    return batch;
}

SendBuffer::Written SendBuffer::BatchWritten(std::uint64_t start, std::uint64_t end, bool exact)
{
    Written counts{0, 0};
    for (std::size_t index = written; index < written + inFlight; ++index)
    {
        Record& record = records[index];
        record.end = exact ? start + record.end : end;
        ++(record.everWritten ? counts.again : counts.firstTime);
        record.everWritten = true;
    }
    written += inFlight;
    inFlight = 0;
    return counts;
}

SendBuffer::Written SendBuffer::BatchFailed(std::uint64_t handed, bool exact)
{
    Written counts{0, 0};
    for (std::size_t index = written; index < written + inFlight; ++index)
    {
        Record& record = records[index];
        const std::uint64_t start = record.end - record.frame->size();
        if (exact ? start < handed : handed > 0)
        {
            ++(record.everWritten ? counts.again : counts.firstTime);
            record.everWritten = true;
        }
    }
    inFlight = 0;
    return counts;
}

std::size_t SendBuffer::Acknowledge(std::uint64_t acknowledged, std::uint64_t unreadBound)
{
    std::size_t newly = 0;
    for (; kept < written && records[kept].end <= acknowledged; ++kept)
    {
        Record& record = records[kept];
        if (!record.acknowledged)
        {
            record.acknowledged = true;
            --unacknowledged;
            ++newly;
        }
    }
    const std::uint64_t surelyRead = acknowledged > unreadBound ? acknowledged - unreadBound : 0;
    while (kept > 0 && records.front().end <= surelyRead)
    {
        PopFront();
    }
    return newly;
}

void SendBuffer::ForgetAcknowledged()
{
    while (kept > 0)
    {
        PopFront();
    }
}

void SendBuffer::Rewind()
{
    kept = 0;
    written = 0;
    inFlight = 0;
}

std::size_t SendBuffer::Clear()
{
    const std::size_t count = unacknowledged;
    records.clear();
    kept = 0;
    written = 0;
    inFlight = 0;
    unacknowledged = 0;
    return count;
}

}  // namespace ozr::logging::appender::syslog
