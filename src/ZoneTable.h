#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ThreadState.h"
#include "ZoneName.h"
#include "ozr/logging/CallSite.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

class Logger;
class RegisteredLogger;

// One zone's place in the logger manager's registry. Made the first time the zone is asked for and kept
// while the manager lives, so that a log call may read it without a lock and without touching the
// zone's logger, which a full shutdown releases.
class ZoneTable;

class ZoneEntry : public std::enable_shared_from_this<ZoneEntry>
{
public:
    ZoneEntry(const ZoneTable& table, std::optional<std::string> key) : table(table), key(std::move(key)) {}

    const ZoneTable& Table() const { return table; }

    // Null for the default zone.
    const std::optional<std::string>& Key() const { return key; }

    // Any thread, no lock, no write: true when the zone has a registered logger whose verbosity rejects
    // `severity`. False sends the call to the registry, which decides under its lock.
    bool Rejects(Severity severity) const noexcept
    {
        return detail::StateRejects(state.load(std::memory_order_acquire), severity);
    }

    // What call sites remember (see CallSite.h): the word Rejects reads.
    const std::atomic<std::uint64_t>& StateWord() const noexcept { return state; }

    // Any thread, no lock, no write: the registered logger's generation when its verbosity accepts
    // `severity`; 0 when none is registered or it rejects.
    std::uint32_t AcceptingGeneration(Severity severity) const noexcept
    {
        const std::uint64_t current = state.load(std::memory_order_acquire);
        return static_cast<std::int32_t>(severity) > VerbosityOf(current) ? 0 : GenerationOf(current);
    }

    // Registry lock held: the logger of `generation` (never 0) is registered with `verbosity`.
    void Publish(std::uint32_t generation, Severity verbosity) noexcept
    {
        state.store(Pack(generation, verbosity), std::memory_order_release);
    }

    // Registry lock held: no logger is registered; log calls go to the registry.
    void Withdraw() noexcept { state.store(0, std::memory_order_release); }

    // No lock: replaces the published verbosity while `generation` is still the registered logger's;
    // false once another logger (or none) is registered.
    bool Update(std::uint32_t generation, Severity verbosity) noexcept
    {
        std::uint64_t current = state.load(std::memory_order_relaxed);
        while (GenerationOf(current) == generation)
        {
            if (state.compare_exchange_weak(current, Pack(generation, verbosity), std::memory_order_acq_rel))
            {
                return true;
            }
        }
        return false;
    }

    // The registered logger, empty while none is. Guarded by the registry lock.
    std::shared_ptr<RegisteredLogger> logger;
    // The zone's latest logger, which outlives its registration: queued records of the zone go to it, and
    // the zone's next logger takes over from it. Guarded by the registry lock.
    std::shared_ptr<Logger> latestLogger;

    // The worker, any time: the logger that the zone's queued records go to, null before the first.
    Logger* DeliveryTarget() const noexcept { return deliveryTarget.load(std::memory_order_acquire); }
    // Registry lock held, with `latestLogger`. The logger it replaces must stay alive until the worker has
    // finished the task it may be running.
    void SetDeliveryTarget(Logger* logger) noexcept
    {
        deliveryTarget.store(logger, std::memory_order_release);
    }

private:
    static std::uint64_t Pack(std::uint32_t generation, Severity verbosity) noexcept
    {
        return std::uint64_t{generation} << 32 | static_cast<std::uint32_t>(verbosity);
    }
    static std::uint32_t GenerationOf(std::uint64_t value) noexcept
    {
        return static_cast<std::uint32_t>(value >> 32);
    }
    static std::int32_t VerbosityOf(std::uint64_t value) noexcept
    {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }

    const ZoneTable& table;
    const std::optional<std::string> key;
    std::atomic<Logger*> deliveryTarget{nullptr};
    // The registered logger's generation (high half, 0 for none) and its verbosity (low half), in one
    // word so that a reader never pairs one logger's verbosity with another's registration.
    std::atomic<std::uint64_t> state{0};
};

// The zones a manager has ever been asked for, found by name without a lock: an open-addressing hash
// table of entry pointers that only ever grows.
//
// Readers write nothing, so log calls on many cores share the table's cache lines read-only. Nothing a
// reader can reach is freed while the table lives: entries are kept (there is one per distinct zone
// name, and names are the application's fixed set), and a table that is outgrown is kept too, because a
// reader may still be walking it. Tables double, so all of them together hold at most twice the current
// one. This costs a few words per zone and needs no reader registration, hazard pointers or epochs, and
// no reference counts, whose increments would be the shared writes that the table exists to avoid.
//
// Each thread also remembers the entries of the last few zone texts it asked for, by address: a log call
// passes the same literal every time, so it is usually found without hashing. A hit still compares the
// text with the entry's name, since a text freed after its zone's shutdown may come back at the same
// address naming another zone. Every ZoneShutDown (and the making and destroying of a table) also
// forgets what every thread remembers, by advancing one process-wide counter that readers only load; the
// table check relies on it, since no entry of a destroyed table may be read.
namespace zone_lookup
{

// The C library's comparison is vectorised: a long name costs a few nanoseconds, not a byte at a time.
inline bool SameText(const char* left, const char* right) noexcept
{
    return std::strcmp(left, right) == 0;
}

inline RememberedZone& RememberedSlot(const char* zone) noexcept
{
    return t_threadState
        .zones[(reinterpret_cast<std::uintptr_t>(zone) >> 3) % ThreadState::RememberedZoneCount];
}

}  // namespace zone_lookup

class ZoneTable
{
public:
    ZoneTable();
    ~ZoneTable();
    ZoneTable(const ZoneTable&) = delete;
    ZoneTable& operator=(const ZoneTable&) = delete;

    // Any thread, no lock: the zone's entry, null when the zone was never asked for. Inline, so that a
    // log call for a zone this thread asked for lately costs a few loads and no call.
    ZoneEntry* Find(const char* zone) const noexcept
    {
        if (IsDefaultZone(zone))
        {
            return defaultZone.load(std::memory_order_acquire);
        }
        const RememberedZone& remembered = zone_lookup::RememberedSlot(zone);
        if (remembered.zone == zone &&
            remembered.epoch == detail::zoneNamesEpoch.load(std::memory_order_acquire) &&
            &remembered.entry->Table() == this &&
            zone_lookup::SameText(remembered.entry->Key()->c_str(), zone))
        {
            return remembered.entry;
        }
        return FindAndRemember(zone);
    }

    // Registry lock held: the zone's entry, made when missing.
    ZoneEntry& FindOrAdd(const char* zone);

    // Registry lock held: a zone was shut down, so its text may be reused from now on.
    static void ZoneShutDown() noexcept;

    // Registry lock held: every entry, in the order they were made.
    const std::vector<std::shared_ptr<ZoneEntry>>& Entries() const { return entries; }

private:
    struct Buckets;

    void Grow();
    ZoneEntry* FindByName(const char* zone) const noexcept;
    __attribute__((noinline)) ZoneEntry* FindAndRemember(const char* zone) const noexcept;

    std::atomic<ZoneEntry*> defaultZone{nullptr};
    std::atomic<const Buckets*> current{nullptr};
    std::vector<std::unique_ptr<Buckets>> allBuckets;  // the current one last
    std::vector<std::shared_ptr<ZoneEntry>> entries;
};

}  // namespace ozr::logging
