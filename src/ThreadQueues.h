#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "ThreadQueue.h"
#include "ThreadState.h"

namespace ozr::logging
{

// Every thread's queue to the worker, and the worker's wake-up.
//
// A thread makes its queue at its first accepted call and registers it here; when the thread ends, its
// queue is retired, and the worker frees it once it has drained it. The worker asks for the list only
// when it has changed. Lock order: the list's lock is a leaf, held only to change or copy the list.
//
// Wake-up: the worker announces that it is going to sleep by setting `asleep`, and then looks at every
// queue once more before it waits; a thread that has committed a record wakes it with a write to the
// wake descriptor only when it finds `asleep` set (and is the one that clears it). The thread's store of
// the record and its load of `asleep` are not ordered by a fence, so in a rare race the worker sleeps past
// a record: it also wakes on its own after a bounded sleep (see QueueDrainer).
namespace thread_queues
{

// Once, by the process-wide manager before its zones can be found: makes the list of queues.
void Prepare();

// The calling thread's queue, made at its first call; null once the thread has ended. Prepare has run.
ThreadQueue* OfThisThread();

// The registered queues, copied when the list changed since `version`, which is then updated.
bool CopyIfChanged(std::vector<ThreadQueue*>& queues, std::uint64_t& version);

// The worker: frees a retired queue that it has drained.
void Free(ThreadQueue* queue);

// Accepted calls of every thread, past and present.
std::uint64_t Accepted();

// The worker: the descriptor that wakes it, or -1.
void SetWakeDescriptor(int descriptor) noexcept;
// The worker: from now until the next wake-up, threads that commit a record wake it.
void AnnounceSleep() noexcept;
// The worker: it is awake again (or never slept); threads no longer need to wake it.
void AnnounceAwake() noexcept;

extern std::atomic<bool> g_workerAsleep;
void WakeWorker() noexcept;

// After committing a record: wakes the worker if, and only if, it sleeps.
inline void WakeWorkerIfAsleep() noexcept
{
    if (g_workerAsleep.load(std::memory_order_relaxed))
    {
        WakeWorker();
    }
}

// In a forked child: the parent's queues, the calling thread's included, are set aside unread: their
// records are the parent's.
void AbandonInChild() noexcept;

}  // namespace thread_queues

}  // namespace ozr::logging
