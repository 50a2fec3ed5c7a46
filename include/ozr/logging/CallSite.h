#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

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

// True for a format whose characters cannot change while the program runs: a string literal or another
// array of const characters. A pointer or a modifiable array may show other characters at the same
// address from call to call.
template <typename FormatExpression>
constexpr bool IsFixedText = std::is_array_v<std::remove_reference_t<FormatExpression>>&&
    std::is_const_v<std::remove_extent_t<std::remove_reference_t<FormatExpression>>>;

}  // namespace detail

// What one OZR_LOG call site remembers, so that a call costs as little as its zone and its format allow:
// - of its zone: the zone text it was last called with, that zone's entry and its published state, so
//   that a call the zone's verbosity rejects costs a few loads and compares, without a call. Written by
//   whichever thread finds it out of date; a version that is odd while it is written lets readers see a
//   consistent set or none.
// - of its first accepted call: the source file's name and, for a format whose characters cannot change,
//   its parsed form, so that later calls neither search the file path nor look the format up. Written
//   once, by the thread that wins the right to; never changed after.
// Constant-initialised: a static of the call site.
class CallSite
{
public:
    constexpr CallSite() noexcept = default;
    // `fixedFormat`: the site's format is always the same characters at the same address.
    constexpr explicit CallSite(bool fixedFormat) noexcept : fixedFormat(fixedFormat) {}

    bool Rejects(const char* zone, Severity severity) const noexcept
    {
        const std::atomic<std::uint64_t>* const cachedState = CurrentState(zone);
        return cachedState != nullptr &&
               detail::StateRejects(cachedState->load(std::memory_order_acquire), severity);
    }

    // The entry remembered for `zone` while the names epoch still holds it; null otherwise.
    const void* CurrentEntry(const char* zone) const noexcept
    {
        const std::uint64_t before = version.load(std::memory_order_acquire);
        const void* const cachedEntry = entry.load(std::memory_order_relaxed);
        return StillValid(before, zone) ? cachedEntry : nullptr;
    }

    // Remembers `zone`, its entry and its state word as valid in `namesEpoch`; does nothing while another
    // thread writes.
    void Remember(const char* newZone, const void* newEntry, const std::atomic<std::uint64_t>& newState,
                  std::uint64_t namesEpoch) noexcept
    {
        std::uint64_t current = version.load(std::memory_order_acquire);
        if (current != 0 && zone.load(std::memory_order_relaxed) == newZone &&
            entry.load(std::memory_order_relaxed) == newEntry &&
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
        entry.store(newEntry, std::memory_order_relaxed);
        state.store(&newState, std::memory_order_relaxed);
        epoch.store(namesEpoch, std::memory_order_relaxed);
        version.store(current + 2, std::memory_order_release);
    }

    // What the site's first accepted call found out. `parsedFormat` is the library's parsed form of
    // `format`, null when the format must be formatted as it stands.
    struct Facts
    {
        const char* file = nullptr;  // the path the facts were found for
        const char* format = nullptr;
        const void* parsedFormat = nullptr;
        const char* fileName = nullptr;  // the path's last component
        std::size_t fileNameLength = 0;
        bool formatKnown = false;  // parsedFormat holds for `format`: its characters cannot change
    };

    // The facts, when they were found for this `file`; else null. Their parsed format holds for a call
    // only when `formatKnown` and the call's format is `format`.
    const Facts* FactsFor(const char* file) const noexcept
    {
        return factsState.load(std::memory_order_acquire) == FactsReady && facts.file == file ? &facts
                                                                                              : nullptr;
    }
    bool HasFixedFormat() const noexcept { return fixedFormat; }

    // Keeps `found` unless other facts are kept or being kept.
    void KeepFacts(const Facts& found) noexcept
    {
        unsigned char expected = FactsNone;
        if (factsState.compare_exchange_strong(expected, FactsBeingWritten, std::memory_order_acquire))
        {
            facts = found;
            factsState.store(FactsReady, std::memory_order_release);
        }
    }

private:
    static constexpr unsigned char FactsNone = 0;
    static constexpr unsigned char FactsBeingWritten = 1;
    static constexpr unsigned char FactsReady = 2;

    const std::atomic<std::uint64_t>* CurrentState(const char* zone) const noexcept
    {
        const std::uint64_t before = version.load(std::memory_order_acquire);
        const std::atomic<std::uint64_t>* const cachedState = state.load(std::memory_order_relaxed);
        return StillValid(before, zone) ? cachedState : nullptr;
    }

    // After relaxed loads that followed reading `before`: they form one consistent set, for `zone`, in
    // the current names epoch.
    bool StillValid(std::uint64_t before, const char* zone) const noexcept
    {
        const char* const cachedZone = this->zone.load(std::memory_order_relaxed);
        const std::uint64_t cachedEpoch = epoch.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        return before != 0 && (before & 1) == 0 && version.load(std::memory_order_relaxed) == before &&
               cachedZone == zone && cachedEpoch == detail::zoneNamesEpoch.load(std::memory_order_acquire);
    }

    std::atomic<std::uint64_t> version{0};
    std::atomic<const char*> zone{nullptr};
    std::atomic<const void*> entry{nullptr};
    std::atomic<const std::atomic<std::uint64_t>*> state{nullptr};
    std::atomic<std::uint64_t> epoch{0};
    bool fixedFormat = false;
    std::atomic<unsigned char> factsState{FactsNone};
    Facts facts{};
};

// ToLog for the call-site macros: also keeps `site` up to date.
OZR_LOGGING_API void ToLogAt(CallSite& site, const char* zone, Severity severity, const char* file,
                             unsigned int line, unsigned long threadId, const char* fmt, ...)
    __attribute__((format(printf, 7, 8)));

}  // namespace ozr::logging
