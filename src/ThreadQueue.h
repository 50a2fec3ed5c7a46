#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ArgumentCapture.h"

namespace ozr::logging
{

// The queue of one thread's accepted log calls on their way to the worker: bytes in a chain of blocks,
// written by that thread alone and read by the worker alone, without a lock. The writer publishes each
// record with one release store to the block it writes; it writes no memory that another writer writes,
// and touches memory the reader writes only to take back a spare block, once per block.
//
// Blocks are charged to the process-wide queue bound when they are made and given back when they are
// freed; the reader hands one drained block back to the writer for reuse. A block made only thanks to
// the reserve of Error and Print calls takes only such calls.
class ThreadQueue
{
public:
    // The first block's size. Each new block doubles the last, up to an eighth of the queue bound (at
    // most LargestBlock), so that a thread that keeps logging faster than the worker drains changes
    // blocks rarely; its pages are touched when it is made, so that writing it never faults.
    static constexpr std::size_t BlockSize = std::size_t{64} << 10;
    static constexpr std::size_t LargestBlock = std::size_t{8} << 20;
    // How far ahead of its position the writer prefetches the block it writes.
    static constexpr std::size_t PrefetchDistance = 256;

    // Made on its writer's thread, with its first block, which is charged to the queue bound whatever
    // the bound: every thread that logs holds one.
    ThreadQueue();
    ~ThreadQueue();
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    // Writer: room for a record of `size` bytes (a multiple of 8), to be filled and then committed; null
    // when the queue bound leaves no room for it. Allocation failures leave as std::bad_alloc.
    unsigned char* Reserve(std::size_t size, bool mayUseReserve);
    // Writer: the rest of the block being written, where a record may be written in place when it fits,
    // and `capacity`, its size; no room (0) in a block that takes only Error and Print records when
    // `mayUseReserve` is false. A record written there is committed like a reserved one.
    unsigned char* Room(bool mayUseReserve, std::size_t& capacity) noexcept;
    // Writer: publishes the record last reserved or written in the room.
    void Commit(std::size_t size) noexcept
    {
        writePosition += size;
        // The lines the next records take are fetched for writing while this thread does other work: a
        // thread that outpaces the worker writes memory that left the caches long ago. (A prefetch past
        // the block's end never faults.)
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(writeData) +
                                                         writePosition + PrefetchDistance),
                           1, 3);
        writeCommitted->store(writePosition, std::memory_order_release);
        published.store(published.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Reader: the oldest record not yet popped, null when there is none.
    const unsigned char* Front() noexcept;
    // Reader: done with the record Front returned, of `size` bytes.
    void Pop(std::size_t size) noexcept
    {
        readPosition += size;
        ++popped;
    }

    // Records committed so far; a reader that has popped as many has seen every one of them.
    std::uint64_t Published() const noexcept { return published.load(std::memory_order_acquire); }
    // Reader: records popped so far.
    std::uint64_t Popped() const noexcept { return popped; }

    // The writer's thread has ended: nothing more will be written.
    void Retire() noexcept { retired.store(true, std::memory_order_release); }
    bool Retired() const noexcept { return retired.load(std::memory_order_acquire); }

    // Accepted calls of this thread, counted by the writer and read by anyone.
    void CountAccepted() noexcept
    {
        accepted.store(accepted.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    std::uint64_t Accepted() const noexcept { return accepted.load(std::memory_order_relaxed); }

    // The writer's scratch memory, reused from call to call: captured arguments, or a text formatted on
    // the calling thread, before they are copied into a record.
    CaptureBuffer arguments;
    std::string text;

private:
    struct Block;

    unsigned char* ReserveInNewBlock(std::size_t size, bool mayUseReserve);
    Block* MakeBlock(std::size_t size, bool mayUseReserve);
    void Recycle(Block* block) noexcept;
    static void Free(Block* block) noexcept;

    // The writer's; only it writes them. `accepted` shares their cache line: the reader reads it rarely.
    alignas(64) Block* writeBlock = nullptr;
    std::atomic<std::size_t>* writeCommitted = nullptr;  // writeBlock's
    unsigned char* writeData = nullptr;                  // writeBlock's
    std::size_t writePosition = 0;
    std::size_t nextCapacity = BlockSize;
    std::atomic<std::uint64_t> published{0};
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<bool> retired{false};
    // The reader's.
    alignas(64) Block* readBlock = nullptr;
    std::size_t readPosition = 0;
    // What the reader last saw committed in readBlock: it reads the writer's word again only once it has
    // caught up, so that a reader that is behind leaves the line the writer writes alone.
    std::size_t readCommitted = 0;
    std::uint64_t popped = 0;
    // A drained block the reader hands back; taken by the writer with one exchange per block.
    alignas(64) std::atomic<Block*> spare{nullptr};
};

}  // namespace ozr::logging
