#include "FormatCache.h"

#include <cstdint>
#include <cstring>

#include "ErrnoKept.h"

namespace ozr::logging
{

struct FormatCache::Entry
{
    explicit Entry(const char* format) : address(format), parsed(format) {}

    const char* address;
    ParsedFormat parsed;
};

namespace
{

std::size_t PowerOfTwoAtLeast(std::size_t count)
{
    std::size_t power = 1;
    while (power < count)
    {
        power *= 2;
    }
    return power;
}

}  // namespace

FormatCache::FormatCache(std::size_t slotCount)
    : mask(PowerOfTwoAtLeast(slotCount < MaxProbes ? MaxProbes : slotCount) - 1),
      slots(new std::atomic<const Entry*>[mask + 1])
{
    for (std::size_t index = 0; index <= mask; ++index)
    {
        slots[index].store(nullptr, std::memory_order_relaxed);
    }
}

FormatCache::~FormatCache()
{
    for (std::size_t index = 0; index <= mask; ++index)
    {
        delete slots[index].load(std::memory_order_relaxed);
    }
}

// Fibonacci hashing of the address: string literals lie close together, their high bits decide.
std::size_t FormatCache::Home(const char* format) const
{
    const auto address = reinterpret_cast<std::uintptr_t>(format);
    return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ULL) >> 32) & mask;
}

const ParsedFormat* FormatCache::Find(const char* format)
{
    const std::size_t home = Home(format);
    for (std::size_t probe = 0; probe < MaxProbes; ++probe)
    {
        const Entry* const entry = slots[(home + probe) & mask].load(std::memory_order_acquire);
        if (entry == nullptr)
        {
            return Insert(format);
        }
        if (entry->address == format)
        {
            const bool same = std::strcmp(format, entry->parsed.Text().c_str()) == 0;
            return same && entry->parsed.Capturable() ? &entry->parsed : nullptr;
        }
    }
    return nullptr;
}

// Parses the format and puts it in the first free slot of its run, unless another thread put the same
// address there first.
// Leaves errno as it was: the caller may still have to capture it for %m.
const ParsedFormat* FormatCache::Insert(const char* format)
{
    const ErrnoKept errnoKept;
    if (strnlen(format, MaxFormatLength + 1) > MaxFormatLength)
    {
        return nullptr;
    }
    auto made = std::make_unique<Entry>(format);
    const std::size_t home = Home(format);
    for (std::size_t probe = 0; probe < MaxProbes; ++probe)
    {
        std::atomic<const Entry*>& slot = slots[(home + probe) & mask];
        const Entry* expected = nullptr;
        if (slot.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel,
                                         std::memory_order_acquire))
        {
            const Entry* const entry = made.release();
            return entry->parsed.Capturable() ? &entry->parsed : nullptr;
        }
        if (expected->address == format)
        {
            return Find(format);
        }
    }
    return nullptr;
}

}  // namespace ozr::logging
