#pragma once

#include <atomic>

#include "ZoneTable.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// The zone table of the process-wide manager once it is made; like the manager, it is never destroyed.
extern std::atomic<const ZoneTable*> g_processZones;

// The first test of every log call, against the verbosity that the zone's entry in the process-wide
// manager's zone table publishes: true when the manager exists and the zone's registered logger rejects
// `severity`. Takes no lock, writes nothing and makes nothing. Inline, so that a rejected call for a zone
// its thread found lately makes no call at all.
inline bool ZoneRejects(char const* zone, Severity severity) noexcept
{
    const ZoneTable* zones = g_processZones.load(std::memory_order_acquire);
    if (zones == nullptr)
    {
        return false;
    }
    const ZoneEntry* entry = zones->Find(zone);
    return entry != nullptr && entry->Rejects(severity);
}

}  // namespace ozr::logging
