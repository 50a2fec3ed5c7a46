#include "RecordPool.h"

#include <sanitizer/asan_interface.h>

#include <atomic>
#include <new>
#include <string>

namespace ozr::logging
{
namespace
{

// Room for the shared_ptr control block of a record: a vtable pointer, two counts, the record's address
// and the allocator (the static_assert in ControlBlockAllocator::allocate checks it fits).
constexpr std::size_t ControlBlockCapacity = 4 * sizeof(void*);

// A record with the room for its control block. The Message stays alive from the first use of the
// record until it leaves the pool, so its strings keep their buffers from one use to the next.
struct PooledRecord
{
    alignas(void*) unsigned char controlBlock[ControlBlockCapacity];
    Message message{};
};

// Where a pooled record keeps its place in a list: in the room of its control block, which is unused
// while the record is in the pool. The head of a chain on the shared stack also knows the chain's last
// record and length, so a thread that takes the stack counts it chain by chain.
struct Link
{
    PooledRecord* next;
    PooledRecord* chainTail;
    std::size_t chainLength;
};
static_assert(sizeof(Link) <= ControlBlockCapacity);

Link& LinkOf(PooledRecord* record)
{
    return *std::launder(reinterpret_cast<Link*>(record->controlBlock));
}

// Records released on one thread, not yet handed over or reused.
struct Chain
{
    PooledRecord* head;
    PooledRecord* tail;
    std::size_t length;
};

enum class ThreadState : unsigned char
{
    Unregistered,  // holds no records; its exit hook is not armed yet
    Registered,    // returns its records when it exits
    Exited,        // its exit hook ran: records come from operator new and go back to operator delete
};

// One thread's records. Trivially destructible, so it stays usable after the thread's exit hook ran.
struct ThreadRecords
{
    PooledRecord* ready;  // taken from the shared stack
    Chain released;       // released here, fewer than a chain
    ThreadState state;
};

// The shared stack: a chain of chains, pushed with release and taken whole with acquire.
std::atomic<PooledRecord*> g_sharedStack{nullptr};
// Records on the shared stack (and in chains being pushed onto it): the bound on it.
std::atomic<std::size_t> g_pooledRecords{0};

thread_local ThreadRecords t_records{};

// The characters a string holds, in its object or on the heap.
void PoisonCharacters(const std::string& text)
{
    ASAN_POISON_MEMORY_REGION(text.data(), text.capacity() + 1);
}

void UnpoisonCharacters(const std::string& text)
{
    ASAN_UNPOISON_MEMORY_REGION(text.data(), text.capacity() + 1);
}

// Relies on the order of Message: the times, the two strings, then the rest from severity on.
// All but the link and the strings' own pointers, so that AddressSanitizer reports a read of a released
// record while the leak checker, which skips poisoned memory, still finds the strings' buffers.
void Poison(PooledRecord* record)
{
    Message& message = record->message;
    char* const messageBegin = reinterpret_cast<char*>(&message);
    char* const filesBegin = reinterpret_cast<char*>(&message.file);
    char* const scalarsBegin = reinterpret_cast<char*>(&message.severity);
    ASAN_POISON_MEMORY_REGION(record->controlBlock + sizeof(Link), ControlBlockCapacity - sizeof(Link));
    ASAN_POISON_MEMORY_REGION(messageBegin, filesBegin - messageBegin);
    ASAN_POISON_MEMORY_REGION(scalarsBegin, messageBegin + sizeof(Message) - scalarsBegin);
    PoisonCharacters(message.file);
    PoisonCharacters(message.text);
    static_cast<void>(messageBegin);
    static_cast<void>(filesBegin);
    static_cast<void>(scalarsBegin);
}

void Unpoison(PooledRecord* record)
{
    ASAN_UNPOISON_MEMORY_REGION(record, sizeof(PooledRecord));
    UnpoisonCharacters(record->message.file);
    UnpoisonCharacters(record->message.text);
    static_cast<void>(record);
}

void DeleteRecords(PooledRecord* record)
{
    while (record != nullptr)
    {
        PooledRecord* const next = LinkOf(record).next;
        Unpoison(record);
        delete record;
        record = next;
    }
}

void PushFront(Chain& chain, PooledRecord* record)
{
    ::new (record->controlBlock) Link{chain.head, nullptr, 0};
    if (chain.head == nullptr)
    {
        chain.tail = record;
    }
    chain.head = record;
    ++chain.length;
}

// Hands a whole chain to the shared stack, or to operator delete when the stack is full.
void HandOver(const Chain& chain)
{
    if (g_pooledRecords.fetch_add(chain.length, std::memory_order_relaxed) + chain.length >
        RecordPool::MaxPooledRecords)
    {
        g_pooledRecords.fetch_sub(chain.length, std::memory_order_relaxed);
        DeleteRecords(chain.head);
        return;
    }
    LinkOf(chain.head).chainTail = chain.tail;
    LinkOf(chain.head).chainLength = chain.length;
    PooledRecord* top = g_sharedStack.load(std::memory_order_relaxed);
    do
    {
        LinkOf(chain.tail).next = top;
    } while (!g_sharedStack.compare_exchange_weak(top, chain.head, std::memory_order_release,
                                                  std::memory_order_relaxed));
}

// Run by the exit hook: hands everything the thread holds over as one chain.
void ReturnThreadRecords()
{
    ThreadRecords& local = t_records;
    Chain all = local.released;
    for (PooledRecord* record = local.ready; record != nullptr;)
    {
        PooledRecord* const next = LinkOf(record).next;
        PushFront(all, record);
        record = next;
    }
    local = ThreadRecords{nullptr, Chain{}, ThreadState::Exited};
    if (all.head != nullptr)
    {
        HandOver(all);
    }
}

struct ThreadExitHook
{
    ThreadExitHook() = default;
    ThreadExitHook(const ThreadExitHook&) = delete;
    ThreadExitHook& operator=(const ThreadExitHook&) = delete;
    ~ThreadExitHook() { ReturnThreadRecords(); }
};

// Arms the exit hook the first time a thread is about to hold records.
void Register(ThreadRecords& local)
{
    thread_local ThreadExitHook exitHook;
    static_cast<void>(exitHook);
    local.state = ThreadState::Registered;
}

// The number of records in a list taken from the shared stack, read from the head of each chain.
std::size_t CountChains(PooledRecord* head)
{
    std::size_t count = 0;
    while (head != nullptr)
    {
        const Link& link = LinkOf(head);
        count += link.chainLength;
        head = LinkOf(link.chainTail).next;
    }
    return count;
}

// The thread's next record: those it released itself first, else the whole shared stack; null when
// both are empty or the thread has exited.
PooledRecord* Refill(ThreadRecords& local)
{
    if (local.state == ThreadState::Exited)
    {
        return nullptr;
    }
    if (local.released.head != nullptr)
    {
        local.ready = local.released.head;
        local.released = Chain{};
        return local.ready;
    }
    // A plain read first: while the stack stays empty, as when the queue grows, a call takes no write
    // access to the line the releasing thread pushes to.
    if (g_sharedStack.load(std::memory_order_relaxed) == nullptr)
    {
        return nullptr;
    }
    local.ready = g_sharedStack.exchange(nullptr, std::memory_order_acquire);
    if (local.ready != nullptr && local.state == ThreadState::Unregistered)
    {
        Register(local);
    }
    g_pooledRecords.fetch_sub(CountChains(local.ready), std::memory_order_relaxed);
    return local.ready;
}

PooledRecord* Take()
{
    ThreadRecords& local = t_records;
    PooledRecord* const record = local.ready != nullptr ? local.ready : Refill(local);
    if (record == nullptr)
    {
        return new PooledRecord;
    }
    local.ready = LinkOf(record).next;
    Unpoison(record);
    return record;
}

void ReleaseBuffer(std::string& text)
{
    if (text.capacity() > RecordPool::MaxRetainedCapacity)
    {
        std::string().swap(text);
    }
}

// Called once the record's control block is destroyed, on whichever thread let go of it last.
void Release(PooledRecord* record) noexcept
{
    ReleaseBuffer(record->message.file);
    ReleaseBuffer(record->message.text);
    ThreadRecords& local = t_records;
    if (local.state != ThreadState::Registered)
    {
        if (local.state == ThreadState::Exited)
        {
            delete record;
            return;
        }
        Register(local);
    }
    PushFront(local.released, record);
    Poison(record);
    if (local.released.length == RecordPool::ChainLength)
    {
        HandOver(local.released);
        local.released = Chain{};
    }
}

// The record stays alive for its next use; the control block's allocator gives it back to the pool.
struct KeepForPool
{
    void operator()(Message*) const noexcept {}
};

// Places the control block in its record and releases the record when the control block goes.
template <typename T>
class ControlBlockAllocator
{
public:
    using value_type = T;

    explicit ControlBlockAllocator(PooledRecord* record) noexcept : record(record) {}
    template <typename U>
    ControlBlockAllocator(const ControlBlockAllocator<U>& other) noexcept  // NOLINT: rebinding
        : record(other.record)
    {
    }

    T* allocate(std::size_t count)
    {
        static_assert(sizeof(T) <= ControlBlockCapacity && alignof(T) <= alignof(void*),
                      "the control block must fit its record");
        if (count != 1)
        {
            throw std::bad_alloc();
        }
        return reinterpret_cast<T*>(record->controlBlock);
    }

    void deallocate(T*, std::size_t) noexcept { Release(record); }

    template <typename U>
    bool operator==(const ControlBlockAllocator<U>& other) const noexcept
    {
        return record == other.record;
    }
    template <typename U>
    bool operator!=(const ControlBlockAllocator<U>& other) const noexcept
    {
        return record != other.record;
    }

    PooledRecord* record;
};

}  // namespace

std::shared_ptr<Message> RecordPool::Acquire()
{
    PooledRecord* const record = Take();
    return std::shared_ptr<Message>(&record->message, KeepForPool(), ControlBlockAllocator<Message>(record));
}

}  // namespace ozr::logging
