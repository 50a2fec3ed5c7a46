#include "ZoneTable.h"

#include <cstring>

namespace ozr::logging
{

namespace
{

constexpr std::size_t InitialBucketCount = 16;
// Zone names rarely differ only after this many characters; those that do share a probe sequence.
constexpr std::size_t HashedPrefixLength = 32;

// FNV-1a over the name's first characters: no length to measure first.
std::size_t Hash(const char* zone) noexcept
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (std::size_t index = 0; index < HashedPrefixLength && zone[index] != '\0'; ++index)
    {
        hash = (hash ^ static_cast<unsigned char>(zone[index])) * 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}

}  // namespace

// Epochs start at 1: a thread's zeroed memory remembers nothing.
std::atomic<std::uint64_t> detail::zoneNamesEpoch{1};
__thread ThreadState t_threadState __attribute__((tls_model("initial-exec")));

using zone_lookup::RememberedSlot;

struct ZoneTable::Buckets
{
    explicit Buckets(std::size_t count) : mask(count - 1), slots(new std::atomic<ZoneEntry*>[count]())
    {
        for (std::size_t index = 0; index < count; ++index)
        {
            slots[index].store(nullptr, std::memory_order_relaxed);
        }
    }

    ZoneEntry* Find(const char* zone) const noexcept
    {
        for (std::size_t index = Hash(zone) & mask;; index = (index + 1) & mask)
        {
            ZoneEntry* entry = slots[index].load(std::memory_order_acquire);
            if (entry == nullptr || std::strcmp(entry->Key()->c_str(), zone) == 0)
            {
                return entry;
            }
        }
    }

    // The entry becomes visible to readers, fully made, with this one store.
    void Insert(ZoneEntry* entry) noexcept
    {
        std::size_t index = Hash(entry->Key()->c_str()) & mask;
        while (slots[index].load(std::memory_order_relaxed) != nullptr)
        {
            index = (index + 1) & mask;
        }
        slots[index].store(entry, std::memory_order_release);
    }

    std::size_t Count() const { return mask + 1; }

    const std::size_t mask;
    const std::unique_ptr<std::atomic<ZoneEntry*>[]> slots;
};

ZoneTable::ZoneTable()
{
    detail::zoneNamesEpoch.fetch_add(1, std::memory_order_acq_rel);
    allBuckets.push_back(std::make_unique<Buckets>(InitialBucketCount));
    current.store(allBuckets.back().get(), std::memory_order_release);
}

ZoneTable::~ZoneTable()
{
    detail::zoneNamesEpoch.fetch_add(1, std::memory_order_acq_rel);
}

void ZoneTable::ZoneShutDown() noexcept
{
    detail::zoneNamesEpoch.fetch_add(1, std::memory_order_acq_rel);
}

ZoneEntry* ZoneTable::FindAndRemember(const char* zone) const noexcept
{
    const std::uint64_t epoch = detail::zoneNamesEpoch.load(std::memory_order_acquire);
    ZoneEntry* entry = FindByName(zone);
    if (entry != nullptr)
    {
        RememberedSlot(zone) = {zone, entry, epoch};
    }
    return entry;
}

ZoneEntry* ZoneTable::FindByName(const char* zone) const noexcept
{
    return current.load(std::memory_order_acquire)->Find(zone);
}

ZoneEntry& ZoneTable::FindOrAdd(const char* zone)
{
    if (ZoneEntry* found =
            IsDefaultZone(zone) ? defaultZone.load(std::memory_order_relaxed) : FindByName(zone))
    {
        return *found;
    }
    entries.reserve(entries.size() + 1);
    auto entry = std::make_shared<ZoneEntry>(
        *this, IsDefaultZone(zone) ? std::nullopt : std::optional<std::string>(zone));
    if (IsDefaultZone(zone))
    {
        defaultZone.store(entry.get(), std::memory_order_release);
    }
    else
    {
        // At most half full, so that a probe for a missing name ends soon.
        if (2 * (entries.size() + 1) > allBuckets.back()->Count())
        {
            Grow();
        }
        allBuckets.back()->Insert(entry.get());
    }
    entries.push_back(std::move(entry));
    return *entries.back();
}

// Readers still walking the old buckets find every name that was in them; the old buckets stay.
void ZoneTable::Grow()
{
    auto larger = std::make_unique<Buckets>(2 * allBuckets.back()->Count());
    for (const auto& entry : entries)
    {
        if (entry->Key())
        {
            larger->Insert(entry.get());
        }
    }
    allBuckets.reserve(allBuckets.size() + 1);
    current.store(larger.get(), std::memory_order_release);
    allBuckets.push_back(std::move(larger));
}

}  // namespace ozr::logging
