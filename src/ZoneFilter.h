#pragma once

#include <atomic>

#include "ZoneTable.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// The zone table of the process-wide manager once it is made; like the manager, it is never destroyed.
extern std::atomic<const ZoneTable*> g_processZones;

// The zone's entry in the process-wide manager's zone table; null before the manager exists and for a
// zone never asked for. No lock, no write.
inline const ZoneEntry* FindProcessZone(char const* zone) noexcept
{
    const ZoneTable* zones = g_processZones.load(std::memory_order_acquire);
    return zones == nullptr ? nullptr : zones->Find(zone);
}

}  // namespace ozr::logging
