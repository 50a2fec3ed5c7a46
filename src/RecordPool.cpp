#include "RecordPool.h"

#include <sanitizer/asan_interface.h>

#include <atomic>
#include <new>

namespace ozr::logging
{
namespace
{

// A block while it is in the pool. chainLength is the number of blocks in the chain this block heads
// while that chain is counted in g_pooledBlocks; 0 otherwise.
struct FreeBlock
{
    FreeBlock* next;
    std::size_t chainLength;
};
static_assert(sizeof(FreeBlock) <= RecordPool::BlockSize);

// Blocks freed on one thread, not yet handed over or reused.
struct Chain
{
    FreeBlock* head;
    FreeBlock* tail;
    std::size_t length;
};

enum class ThreadState : unsigned char
{
    Unregistered,  // holds no blocks; its exit hook is not armed yet
    Registered,    // returns its blocks when it exits
    Exited,        // its exit hook ran: blocks come from operator new and go back to operator delete
};

// One thread's blocks. Trivially destructible, so it stays usable after the thread's exit hook ran.
struct ThreadBlocks
{
    FreeBlock* ready;  // taken from the shared stack: heads of counted chains still carry their length
    Chain freed;       // freed here, shorter than a chain
    ThreadState state;
};

// The shared stack: a chain of chains, pushed with release and taken whole with acquire.
std::atomic<FreeBlock*> g_sharedStack{nullptr};
// Blocks of chains handed over and not yet started on by a taking thread: the bound on the shared stack.
std::atomic<std::size_t> g_pooledBlocks{0};

thread_local ThreadBlocks t_blocks{};

void PoisonFreeBlock(FreeBlock* block)
{
    ASAN_POISON_MEMORY_REGION(reinterpret_cast<char*>(block) + sizeof(FreeBlock),
                              RecordPool::BlockSize - sizeof(FreeBlock));
    (void)block;
}

void UnpoisonBlock(void* block)
{
    ASAN_UNPOISON_MEMORY_REGION(block, RecordPool::BlockSize);
    (void)block;
}

void DeleteBlocks(FreeBlock* block)
{
    while (block != nullptr)
    {
        FreeBlock* const next = block->next;
        UnpoisonBlock(block);
        ::operator delete(block, RecordPool::BlockSize);
        block = next;
    }
}

void PushFront(Chain& chain, FreeBlock* block)
{
    block->next = chain.head;
    if (chain.head == nullptr)
    {
        chain.tail = block;
    }
    chain.head = block;
    ++chain.length;
}

// Hands a whole chain to the shared stack, or to operator delete when the stack is full.
void HandOver(const Chain& chain)
{
    if (g_pooledBlocks.fetch_add(chain.length, std::memory_order_relaxed) + chain.length >
        RecordPool::MaxPooledBlocks)
    {
        g_pooledBlocks.fetch_sub(chain.length, std::memory_order_relaxed);
        DeleteBlocks(chain.head);
        return;
    }
    chain.head->chainLength = chain.length;
    FreeBlock* top = g_sharedStack.load(std::memory_order_relaxed);
    do
    {
        chain.tail->next = top;
    } while (!g_sharedStack.compare_exchange_weak(top, chain.head, std::memory_order_release,
                                                  std::memory_order_relaxed));
}

// Run by the exit hook: hands everything the thread holds over as one chain, uncounting the chains it
// took from the shared stack and had not started on.
void ReturnThreadBlocks()
{
    ThreadBlocks& local = t_blocks;
    Chain all = local.freed;
    for (FreeBlock* block = local.ready; block != nullptr;)
    {
        FreeBlock* const next = block->next;
        if (block->chainLength != 0)
        {
            g_pooledBlocks.fetch_sub(block->chainLength, std::memory_order_relaxed);
            block->chainLength = 0;
        }
        PushFront(all, block);
        block = next;
    }
    local = ThreadBlocks{nullptr, Chain{}, ThreadState::Exited};
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
    ~ThreadExitHook() { ReturnThreadBlocks(); }
};

// Arms the exit hook the first time a thread is about to hold blocks.
void Register(ThreadBlocks& local)
{
    thread_local ThreadExitHook exitHook;
    (void)exitHook;
    local.state = ThreadState::Registered;
}

// The thread's next block: those it freed itself first, else the whole shared stack; null when both
// are empty or the thread has exited.
FreeBlock* Refill(ThreadBlocks& local)
{
    if (local.state == ThreadState::Exited)
    {
        return nullptr;
    }
    if (local.freed.head != nullptr)
    {
        local.ready = local.freed.head;
        local.freed = Chain{};
        return local.ready;
    }
    local.ready = g_sharedStack.exchange(nullptr, std::memory_order_acquire);
    if (local.ready != nullptr && local.state == ThreadState::Unregistered)
    {
        Register(local);
    }
    return local.ready;
}

}  // namespace

void* RecordPool::Allocate()
{
    ThreadBlocks& local = t_blocks;
    FreeBlock* const block = local.ready != nullptr ? local.ready : Refill(local);
    if (block == nullptr)
    {
        return ::operator new(BlockSize);
    }
    local.ready = block->next;
    if (block->chainLength != 0)
    {
        g_pooledBlocks.fetch_sub(block->chainLength, std::memory_order_relaxed);
    }
    UnpoisonBlock(block);
    return block;
}

void RecordPool::Free(void* block) noexcept
{
    ThreadBlocks& local = t_blocks;
    if (local.state != ThreadState::Registered)
    {
        if (local.state == ThreadState::Exited)
        {
            ::operator delete(block, BlockSize);
            return;
        }
        Register(local);
    }
    auto* const freeBlock = ::new (block) FreeBlock{nullptr, 0};
    PoisonFreeBlock(freeBlock);
    PushFront(local.freed, freeBlock);
    if (local.freed.length == ChainLength)
    {
        HandOver(local.freed);
        local.freed = Chain{};
    }
}

}  // namespace ozr::logging
