#pragma once

#include <atomic>
#include <cstdint>

#include "ozr/logging/Export.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

namespace detail
{

// Advanced whenever a zone text may change meaning (a zone shut down): what a call site remembers of an
// earlier value no longer holds.
OZR_LOGGING_API extern std::atomic<std::uint64_t> zoneNamesEpoch;

// A zone's published state: its registered logger's generation (high half, 0 for none) and verbosity
// (low half). True when a logger is registered and its verbosity rejects `severity`.
inline bool StateRejects(std::uint64_t state, Severity severity) noexcept
{
    return (state >> 32) != 0 &&
           static_cast<std::int32_t>(severity) > static_cast<std::int32_t>(static_cast<std::uint32_t>(state));
}

}  // namespace detail

// What one OZR_LOG call site remembers of its zone: the zone text it was last called with and that zone's
// published state, so that a call the zone's verbosity rejects costs a few loads and compares, without a
// call. Constant-initialised (a static of the call site) and written by whichever thread finds it out of
// date; a version that is odd while it is written lets readers see a consistent set or none.
class CallSite
{
public:
    constexpr CallSite() noexcept = default;

    bool Rejects(const char* zone, Severity severity) const noexcept
    {
        const std::uint64_t before = version.load(std::memory_order_acquire);
        const char* const cachedZone = this->zone.load(std::memory_order_relaxed);
        const std::atomic<std::uint64_t>* const cachedState = state.load(std::memory_order_relaxed);
        const std::uint64_t cachedEpoch = epoch.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (before == 0 || (before & 1) != 0 || version.load(std::memory_order_relaxed) != before ||
            cachedZone != zone || cachedEpoch != detail::zoneNamesEpoch.load(std::memory_order_acquire))
        {
            return false;
        }
        return detail::StateRejects(cachedState->load(std::memory_order_acquire), severity);
    }

    // Remembers `zone` and its state word as valid in `namesEpoch`; does nothing while another thread
    // writes.
    void Remember(const char* newZone, const std::atomic<std::uint64_t>& newState,
                  std::uint64_t namesEpoch) noexcept
    {
        std::uint64_t current = version.load(std::memory_order_acquire);
        if (current != 0 && zone.load(std::memory_order_relaxed) == newZone &&
            state.load(std::memory_order_relaxed) == &newState &&
            epoch.load(std::memory_order_relaxed) == namesEpoch)
        {
            return;  // up to date: no write to a line that other threads read
        }
        if ((current & 1) != 0 ||
            !version.compare_exchange_strong(current, current + 1, std::memory_order_acquire))
        {
            return;
        }
        std::atomic_thread_fence(std::memory_order_release);
        zone.store(newZone, std::memory_order_relaxed);
        state.store(&newState, std::memory_order_relaxed);
        epoch.store(namesEpoch, std::memory_order_relaxed);
        version.store(current + 2, std::memory_order_release);
    }

private:
    std::atomic<std::uint64_t> version{0};
    std::atomic<const char*> zone{nullptr};
    std::atomic<const std::atomic<std::uint64_t>*> state{nullptr};
    std::atomic<std::uint64_t> epoch{0};
};

// ToLog for the call-site macros: also keeps `site` up to date.
OZR_LOGGING_API void ToLogAt(CallSite& site, const char* zone, Severity severity, const char* file,
                             unsigned int line, unsigned long threadId, const char* fmt, ...)
    __attribute__((format(printf, 7, 8)));

}  // namespace ozr::logging
