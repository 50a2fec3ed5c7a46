#pragma once

#include "ozr/logging/Severity.h"

namespace ozr::logging
{

// For log calls, before anything else: true when the process-wide manager exists and the zone's registered
// logger rejects `severity` (LoggerManager::Rejects). Takes no lock, writes nothing and makes nothing.
bool ProcessManagerRejects(char const* zone, Severity severity) noexcept;

}  // namespace ozr::logging
