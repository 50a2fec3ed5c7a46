#pragma once

#include <cstddef>
#include <cstdint>

namespace ozr::logging
{

class ThreadQueue;
class ZoneEntry;

// What one thread last found, by zone text address: valid while the process-wide names epoch (see
// ZoneTable.h) holds `epoch`. Zero before the thread's first lookup (epochs start at 1).
struct RememberedZone
{
    const char* zone;
    ZoneEntry* entry;
    std::uint64_t epoch;
};

// Everything a log call keeps per thread, in one place: the zones it asked for lately and its queue to
// the worker. Plain data, zero before the thread's first call.
struct ThreadState
{
    static constexpr std::size_t RememberedZoneCount = 4;

    RememberedZone zones[RememberedZoneCount];
    // Made at the thread's first accepted call; null again once the thread has ended, when `ended` is set
    // and calls take the registry's way.
    ThreadQueue* queue;
    bool ended;
    // The last second whose calendar conversion this thread checked (see EnqueueCall.h).
    long checkedSecond;
};

// Initial-exec: read at a fixed offset from the thread pointer, without a call. Its bytes come from the
// static TLS space that the C library sets aside for libraries loaded later, should the application load
// this one at run time. `__thread` rather than thread_local: plain data needs no initialisation, and
// other files then reach it without first asking for the thread's initialisation function.
extern __thread ThreadState t_threadState __attribute__((tls_model("initial-exec")));

}  // namespace ozr::logging
