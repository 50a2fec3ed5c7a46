#include "ThreadQueues.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>

#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging::thread_queues
{

namespace
{

struct Registry
{
    Mutex mutex;
    std::vector<ThreadQueue*> queues OZR_GUARDED_BY(mutex);
    // Changed under the lock with the list; read without it, so that the worker takes the lock only when
    // the list changed.
    std::atomic<std::uint64_t> version{1};
    std::uint64_t acceptedByFreedQueues OZR_GUARDED_BY(mutex) = 0;
};

// Never destroyed: threads that end during exit still retire their queues here. Made by Prepare, before
// any log call can queue and under the manager's registry lock, which the fork handlers hold: so no fork
// ever finds it half made.
std::atomic<Registry*> g_registry{nullptr};

Registry& TheRegistry()
{
    return *g_registry.load(std::memory_order_acquire);
}

std::atomic<int> g_wakeDescriptor{-1};

// Retires the thread's queue when the thread ends. The queue is the one in the thread's state at that
// moment: a forked child's thread has replaced its parent's.
struct QueueRetirement
{
    ~QueueRetirement()
    {
        if (ThreadQueue* queue = t_threadState.queue)
        {
            t_threadState.queue = nullptr;
            queue->Retire();
            WakeWorkerIfAsleep();
        }
        t_threadState.ended = true;
    }
};

ThreadQueue* MakeQueue()
{
    auto queue = std::make_unique<ThreadQueue>();
    static thread_local QueueRetirement retirement;
    (void)retirement;
    Registry& registry = TheRegistry();
    const LockGuard<Mutex> lock(registry.mutex);
    registry.queues.push_back(queue.get());
    registry.version.fetch_add(1, std::memory_order_release);
    return t_threadState.queue = queue.release();
}

}  // namespace

std::atomic<bool> g_workerAsleep{false};

void Prepare()
{
    if (g_registry.load(std::memory_order_acquire) == nullptr)
    {
        g_registry.store(new Registry(), std::memory_order_release);
    }
}

ThreadQueue* OfThisThread()
{
    if (ThreadQueue* queue = t_threadState.queue)
    {
        return queue;
    }
    return t_threadState.ended ? nullptr : MakeQueue();
}

bool CopyIfChanged(std::vector<ThreadQueue*>& queues, std::uint64_t& version)
{
    Registry& registry = TheRegistry();
    if (registry.version.load(std::memory_order_acquire) == version)
    {
        return false;
    }
    const LockGuard<Mutex> lock(registry.mutex);
    queues = registry.queues;
    version = registry.version.load(std::memory_order_relaxed);
    return true;
}

void Free(ThreadQueue* queue)
{
    Registry& registry = TheRegistry();
    {
        const LockGuard<Mutex> lock(registry.mutex);
        registry.queues.erase(std::find(registry.queues.begin(), registry.queues.end(), queue));
        registry.version.fetch_add(1, std::memory_order_release);
        registry.acceptedByFreedQueues += queue->Accepted();
    }
    delete queue;
}

std::uint64_t Accepted()
{
    if (g_registry.load(std::memory_order_acquire) == nullptr)
    {
        return 0;
    }
    Registry& registry = TheRegistry();
    const LockGuard<Mutex> lock(registry.mutex);
    std::uint64_t sum = registry.acceptedByFreedQueues;
    for (const ThreadQueue* queue : registry.queues)
    {
        sum += queue->Accepted();
    }
    return sum;
}

void SetWakeDescriptor(int descriptor) noexcept
{
    g_wakeDescriptor.store(descriptor, std::memory_order_release);
}

void AnnounceSleep() noexcept
{
    g_workerAsleep.store(true, std::memory_order_seq_cst);
}

void AnnounceAwake() noexcept
{
    g_workerAsleep.store(false, std::memory_order_relaxed);
}

void WakeWorker() noexcept
{
    if (!g_workerAsleep.exchange(false, std::memory_order_acq_rel))
    {
        return;  // another thread woke it
    }
    const int descriptor = g_wakeDescriptor.load(std::memory_order_acquire);
    if (descriptor >= 0)
    {
        const std::uint64_t one = 1;
        while (::write(descriptor, &one, sizeof one) < 0 && errno == EINTR)
        {
        }
    }
}

// The registry's lock may have been held by a thread the child does not have: it is made anew. The
// abandoned queues stay allocated and unread, like the rest of the parent's logging.
void AbandonInChild() noexcept OZR_NO_THREAD_SAFETY_ANALYSIS
{
    t_threadState.queue = nullptr;
    Registry* const registry = g_registry.load(std::memory_order_acquire);
    if (registry == nullptr)
    {
        return;
    }
    new (&registry->mutex) Mutex();
    new (&registry->queues) std::vector<ThreadQueue*>();  // the old list is left behind, unreleased
    registry->version.fetch_add(1, std::memory_order_relaxed);
    g_workerAsleep.store(false, std::memory_order_relaxed);
    g_wakeDescriptor.store(-1, std::memory_order_relaxed);
}

}  // namespace ozr::logging::thread_queues
