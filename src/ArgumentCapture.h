#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "ParsedFormat.h"

namespace ozr::logging
{

// Printf formatting split in two: the calling thread copies the arguments of a capturable format into
// bytes, and any thread later formats the text from them, exactly the text vsnprintf would have made
// from the format and the arguments at the time of the capture.
//
// The bytes, in the order of the conversions: errno as an int when the format has %m, then for each
// conversion its width and precision as ints when they are "*", and its argument: int-sized integers
// in 4 bytes, long-sized ones, doubles and pointers in 8, long doubles in their 16; a %s string as its
// length in 8 bytes (all ones for a null pointer) followed by its characters and a NUL. A string with
// a precision is read, like vsnprintf reads it, only up to that many characters.

// The bytes of captured arguments, kept by the caller and reused from call to call: it grows by doubling,
// without writing the bytes it adds, and never shrinks. (A std::vector fills what it adds, and its
// range insert costs several times this Append for the few bytes of one argument.)
class CaptureBuffer
{
public:
    const unsigned char* Data() const { return data.get(); }
    std::size_t Size() const { return size; }
    void Clear() { size = 0; }

    // Room for `count` more bytes at the end, to be written at once. Throws std::bad_alloc.
    unsigned char* Append(std::size_t count)
    {
        if (capacity - size < count)
        {
            Grow(count);
        }
        unsigned char* const end = data.get() + size;
        size += count;
        return end;
    }

    void Append(const void* bytes, std::size_t count) { std::memcpy(Append(count), bytes, count); }

private:
    void Grow(std::size_t count);

    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

// Bytes written into memory that the caller provides, up to its end and never beyond: the memory of a
// queued record, so that the arguments need no second copy. A capture that does not fit leaves it
// overflowed, its bytes unusable.
class BoundedBytes
{
public:
    BoundedBytes(unsigned char* memory, std::size_t capacity) : memory(memory), capacity(capacity) {}

    std::size_t Size() const { return size; }
    bool Overflowed() const { return overflowed; }

    // Room for `count` more bytes at the end, to be written at once; null, and overflowed from now on,
    // when they do not fit.
    unsigned char* Append(std::size_t count)
    {
        if (capacity - size < count)
        {
            overflowed = true;
            size = capacity;
            return nullptr;
        }
        unsigned char* const end = memory + size;
        size += count;
        return end;
    }

private:
    unsigned char* memory;
    std::size_t capacity;
    std::size_t size = 0;
    bool overflowed = false;
};

// Appends the arguments that `format` reads from `arguments`, and errno, to `bytes` (a CaptureBuffer or
// BoundedBytes); reads from its own copy of `arguments`, so they stay usable. Reads errno first: call it
// before anything that may change errno. No locale, stdio or system call; allocates only when a
// CaptureBuffer must grow. `format` must be capturable. Any thread, on its own bytes.
template <typename Bytes>
void CaptureArguments(const ParsedFormat& format, std::va_list& arguments, Bytes& bytes);

// Replaces `text` with the text of `format` and the captured `bytes`, as vsnprintf makes it, with the
// formatting locale of this thread. False when vsnprintf would have failed or the bytes do not hold what
// the format reads. Leaves errno as it was. Any thread.
bool FormatCapturedArguments(const ParsedFormat& format, const unsigned char* bytes, std::size_t size,
                             std::string& text);

}  // namespace ozr::logging
