#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>

#include "ozr/logging/Severity.h"

namespace ozr::logging
{

class ParsedFormat;
class ZoneEntry;

// One accepted log call as its thread queues it for the worker: this header, then `fileLength` bytes of
// the source file's name, then the payload: the captured arguments of `format` or, when the call was
// formatted on its thread, the finished text. Plain data, written once by the calling thread.
struct QueuedRecord
{
    // The payload holds the arguments that `format` reads, to be formatted by the worker.
    static constexpr std::uint8_t Captured = 0;
    // The payload is the call's trimmed text, formatted by the calling thread.
    static constexpr std::uint8_t Formatted = 1;

    timeval time;
    const ParsedFormat* format;  // for Captured records; lives as long as the process's format cache
    const ZoneEntry* zone;       // lives as long as the zone table
    std::uint64_t threadId;
    std::uint32_t line;
    std::uint32_t fileLength;
    std::uint32_t payloadSize;
    Severity severity;
    std::uint8_t kind;

    const char* File() const { return reinterpret_cast<const char*>(this + 1); }
    const unsigned char* Payload() const
    {
        return reinterpret_cast<const unsigned char*>(File() + fileLength);
    }

    // The bytes a record of these sizes takes in a queue, rounded so that the next header is aligned.
    static std::size_t SizeFor(std::size_t fileLength, std::size_t payloadSize)
    {
        const std::size_t size = sizeof(QueuedRecord) + fileLength + payloadSize;
        return (size + alignof(QueuedRecord) - 1) & ~(alignof(QueuedRecord) - 1);
    }
    std::size_t Size() const { return SizeFor(fileLength, payloadSize); }
};

}  // namespace ozr::logging
