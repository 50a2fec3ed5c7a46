#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "ParsedFormat.h"

namespace ozr::logging
{

// The parsed formats of the format strings a process logs with, found by the format's address without a
// lock. A table of atomic slots, each written once (compare-and-swap from null) and read with an acquire
// load; an address hashes to a run of MaxProbes slots. An entry stays until the cache goes, so a pointer
// it returned stays valid as long as the cache does.
//
// The address alone does not identify a format: a caller may format from a buffer whose content changes,
// or from a library that is unloaded and whose address is reused. So a hit also compares the format's
// characters with the entry's copy (a strcmp, about the cost of a strlen of the format). An address
// whose content changed keeps its first entry, and the other contents are not cached.
//
// Memory: the slots, plus one entry per format of at most MaxFormatLength characters (its text, its
// literals, its directives and its conversions: a few hundred bytes for a typical format).
class FormatCache
{
public:
    static constexpr std::size_t MaxFormatLength = 1024;
    static constexpr std::size_t MaxProbes = 8;

    // `slotCount` is rounded up to a power of two.
    explicit FormatCache(std::size_t slotCount = 1024);
    ~FormatCache();
    FormatCache(const FormatCache&) = delete;
    FormatCache& operator=(const FormatCache&) = delete;

    // The parsed form of `format`, parsed at the first call for its address; null when the call must be
    // formatted by vsnprintf as it is: the format is not capturable, longer than MaxFormatLength, its
    // address holds another content, or the slots of its address are all taken. Any thread; a hit takes
    // no lock and writes no shared memory; a miss allocates the entry (std::bad_alloc passes through).
    // Leaves errno as it was.
    const ParsedFormat* Find(const char* format);

private:
    struct Entry;

    std::size_t Home(const char* format) const;
    const ParsedFormat* Insert(const char* format);

    std::size_t mask;
    std::unique_ptr<std::atomic<const Entry*>[]> slots;
};

}  // namespace ozr::logging
