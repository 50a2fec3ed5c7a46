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
// - of its zone: the zone text of its first call that found the zone, that zone's entry and its state
//   word, and the names epoch in which that binding was last confirmed. So a call the zone's verbosity
//   rejects costs five loads and three compares, inline. The binding is made once and never changes, so
//   readers need no version; a site called with another zone text, or whose text came to name another
//   zone, takes the registry's way for those calls.
// - of its first accepted call: the source file's name and, for a format whose characters cannot change,
//   its parsed form, so that later calls neither search the file path nor look the format up.
// Each set is written once, by the thread that claims it; the epoch is written by whichever thread
// confirms the binding in a later epoch. Constant-initialised: a static of the call site.
class CallSite
{
public:
    constexpr CallSite() noexcept = default;
    // `fixedFormat`: the site's format is always the same characters at the same address.
    constexpr explicit CallSite(bool fixedFormat) noexcept : fixedFormat(fixedFormat) {}

    bool Rejects(const char* zone, Severity severity) const noexcept
    {
        return BoundTo(zone) && detail::StateRejects(boundState->load(std::memory_order_acquire), severity);
    }

    // The entry bound to `zone` while the names epoch still confirms it; null otherwise.
    const void* CurrentEntry(const char* zone) const noexcept { return BoundTo(zone) ? boundEntry : nullptr; }

    // Binds the site to `zone`, its entry and its state word, found in `namesEpoch` (read before the zone
    // was looked up); or confirms the binding in that epoch when it is this one. Does nothing otherwise.
    void Remember(const char* zone, const void* entry, const std::atomic<std::uint64_t>& state,
                  std::uint64_t namesEpoch) noexcept
    {
        if (boundZone.load(std::memory_order_acquire) != nullptr)
        {
            if (boundZone.load(std::memory_order_relaxed) == KeyOf(zone) && boundEntry == entry &&
                epoch.load(std::memory_order_relaxed) != namesEpoch)
            {
                epoch.store(namesEpoch, std::memory_order_relaxed);
            }
            return;
        }
        if (zoneClaimed.exchange(true, std::memory_order_acquire))
        {
            return;  // another thread binds it
        }
        boundEntry = entry;
        boundState = &state;
        epoch.store(namesEpoch, std::memory_order_relaxed);
        boundZone.store(KeyOf(zone), std::memory_order_release);
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

    // The zone text as the binding keeps it: a null text (the default zone) as an address of the class's
    // own, so that null can mean "not bound".
    static const char* KeyOf(const char* zone) noexcept { return zone != nullptr ? zone : &nullZoneKey; }
    static constexpr char nullZoneKey = '\0';

    // Bound to `zone`, and confirmed in the current names epoch. An epoch stored late by a thread that
    // read it earlier only ever lags behind: the check then fails and the next call confirms again.
    bool BoundTo(const char* zone) const noexcept
    {
        return boundZone.load(std::memory_order_acquire) == KeyOf(zone) &&
               epoch.load(std::memory_order_relaxed) ==
                   detail::zoneNamesEpoch.load(std::memory_order_acquire);
    }

    // Published by boundZone's release store, after the two below.
    std::atomic<const char*> boundZone{nullptr};
    const void* boundEntry = nullptr;
    const std::atomic<std::uint64_t>* boundState = nullptr;
    std::atomic<std::uint64_t> epoch{0};
    std::atomic<bool> zoneClaimed{false};
    bool fixedFormat = false;
    std::atomic<unsigned char> factsState{FactsNone};
    Facts facts{};
};

// ToLog for the call-site macros: also keeps `site` up to date.
OZR_LOGGING_API void ToLogAt(CallSite& site, const char* zone, Severity severity, const char* file,
                             unsigned int line, unsigned long threadId, const char* fmt, ...)
    __attribute__((format(printf, 7, 8)));

}  // namespace ozr::logging
