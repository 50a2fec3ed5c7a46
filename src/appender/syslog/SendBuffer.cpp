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
        records.pop_front();
        if (written > 0)
        {
            --written;
        }
        else if (inFlight > 0)
        {
            --inFlight;  // its bytes still go out; the records after it keep their own ends
        }
        dropped = 1;
    }
    records.push_back({std::move(frame)});
    return dropped;
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

std::size_t SendBuffer::RemoveAcknowledged(std::uint64_t acknowledged)
{
    std::size_t removed = 0;
    while (written > 0 && records.front().end <= acknowledged)
    {
        records.pop_front();
        --written;
        ++removed;
    }
    return removed;
}

void SendBuffer::Rewind()
{
    written = 0;
    inFlight = 0;
}

std::size_t SendBuffer::Clear()
{
    const std::size_t count = records.size();
    records.clear();
    written = 0;
    inFlight = 0;
    return count;
}

}  // namespace ozr::logging::appender::syslog
