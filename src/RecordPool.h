#pragma once

#include <cstddef>
#include <memory>

#include "ozr/logging/Message.h"

namespace ozr::logging
{

// Recycles the fixed-size blocks that hold log records: a record's shared_ptr control block with its
// Message, allocated together. A record is built on the thread that logs and released on the worker
// after delivery; with plain operator new the caller's malloc always finds its per-thread cache empty
// and has to sort the chunks the worker's frees left in its arena.
//
// A thread that frees blocks gathers them in a list of its own and hands each full chain of them to one
// process-wide lock-free stack with a single compare-and-swap. A thread that needs a block takes one from
// its own lists, or else takes the whole stack with a single exchange: nothing ever pops one block off
// the shared stack, so there is no ABA problem and no lock.
//
// Threads: Allocate and Free may be called from any thread at any time, also while the thread exits
// (it then uses operator new and delete) and in the child of a fork (the blocks held by the parent's
// other threads are lost to the child, as their other memory is).
// Memory: the shared stack holds at most MaxPooledBlocks blocks (beyond it, freed blocks go back to
// operator delete); each thread holds fewer than two chains besides what it took from the stack, and
// returns all of them when it exits.
// Under AddressSanitizer a block in the pool is poisoned except for its first two words, so a record
// read after its release is still reported until its block is reused.
class RecordPool
{
public:
    // A Message after the control block that counts its references (a vtable pointer and two counts),
    // the size std::allocate_shared asks for. Not rounded up further: malloc's chunk for it stays as
    // small as make_shared's was.
    static constexpr std::size_t BlockSize =
        (sizeof(void*) + 2 * sizeof(int) + alignof(Message) - 1) / alignof(Message) * alignof(Message) +
        sizeof(Message);
    static constexpr std::size_t ChainLength = 64;
    static constexpr std::size_t MaxPooledBlocks = 4096;

    // A block of BlockSize bytes, aligned for any object; throws std::bad_alloc.
    static void* Allocate();
    // Takes back a block from Allocate, from any thread.
    static void Free(void* block) noexcept;
};

// Allocates the single object std::allocate_shared asks for (control block and record together) from the
// record pool. Only for records: allocate_shared rebinds it to that one type, which must fit a block.
template <typename T>
class RecordAllocator
{
public:
    using value_type = T;

    RecordAllocator() noexcept = default;
    template <typename U>
    RecordAllocator(const RecordAllocator<U>&) noexcept  // NOLINT(google-explicit-constructor): rebinding
    {
    }

    T* allocate(std::size_t count)
    {
        static_assert(sizeof(T) <= RecordPool::BlockSize && alignof(T) <= alignof(std::max_align_t),
                      "a record with its control block must fit a pool block");
        if (count != 1)
        {
            return std::allocator<T>().allocate(count);
        }
        return static_cast<T*>(RecordPool::Allocate());
    }

    void deallocate(T* object, std::size_t count) noexcept
    {
        if (count != 1)
        {
            std::allocator<T>().deallocate(object, count);
            return;
        }
        RecordPool::Free(object);
    }

    template <typename U>
    bool operator==(const RecordAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const RecordAllocator<U>&) const noexcept
    {
        return false;
    }
};

}  // namespace ozr::logging
