#include "ThreadQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "QueueBudget.h"

namespace ozr::logging
{

struct ThreadQueue::Block
{
    std::size_t capacity;
    bool reserveOnly;                       // made from the reserve: Error and Print records only
    std::atomic<std::size_t> committed{0};  // written by the writer, read by the reader
    std::atomic<Block*> next{nullptr};      // set once by the writer, after its last commit here

    unsigned char* Data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

ThreadQueue::ThreadQueue()
{
    g_queueBudget.Charge(sizeof(Block) + BlockSize);
    void* memory = ::operator new(sizeof(Block) + BlockSize);
    writeBlock = readBlock = new (memory) Block{BlockSize, false};
    writeCommitted = &writeBlock->committed;
    writeData = writeBlock->Data();
}

ThreadQueue::~ThreadQueue()
{
    for (Block* block = readBlock; block != nullptr;)
    {
        Block* const next = block->next.load(std::memory_order_relaxed);
        Free(block);
        block = next;
    }
    Free(spare.load(std::memory_order_relaxed));
}

unsigned char* ThreadQueue::Reserve(std::size_t size, bool mayUseReserve)
{
    if (writeBlock->capacity - writePosition >= size && (mayUseReserve || !writeBlock->reserveOnly))
    {
        return writeBlock->Data() + writePosition;
    }
    return ReserveInNewBlock(size, mayUseReserve);
}

unsigned char* ThreadQueue::Room(bool mayUseReserve, std::size_t& capacity) noexcept
{
    capacity = mayUseReserve || !writeBlock->reserveOnly ? writeBlock->capacity - writePosition : 0;
    return writeBlock->Data() + writePosition;
}

// The reader sees the next block only after the last commit to this one, so it never leaves records
// behind.
unsigned char* ThreadQueue::ReserveInNewBlock(std::size_t size, bool mayUseReserve)
{
    Block* const block = MakeBlock(size, mayUseReserve);
    if (block == nullptr)
    {
        return nullptr;
    }
    writeBlock->next.store(block, std::memory_order_release);
    writeBlock = block;
    writeCommitted = &block->committed;
    writeData = block->Data();
    writePosition = 0;
    return block->Data();
}

namespace
{

// The largest block the bound allows: an eighth of it, so that the bound and its reserve hold several.
std::size_t LargestBlockWithin(std::size_t limit, std::size_t largest, std::size_t first)
{
    return limit == 0 ? largest : std::clamp(limit / 8, first, largest);
}

}  // namespace

ThreadQueue::Block* ThreadQueue::MakeBlock(std::size_t size, bool mayUseReserve)
{
    if (spare.load(std::memory_order_relaxed) != nullptr)
    {
        Block* const reused = spare.exchange(nullptr, std::memory_order_acquire);
        if (reused != nullptr && reused->capacity >= size)
        {
            reused->committed.store(0, std::memory_order_relaxed);
            reused->next.store(nullptr, std::memory_order_relaxed);
            return reused;
        }
        Free(reused);
    }
    const std::size_t capacity = std::max(size, nextCapacity);
    const QueueBudget::Charged charged = g_queueBudget.TryCharge(sizeof(Block) + capacity, mayUseReserve);
    if (charged == QueueBudget::Charged::No)
    {
        return nullptr;
    }
    void* memory = ::operator new(sizeof(Block) + capacity, std::nothrow);
    if (memory == nullptr)
    {
        g_queueBudget.GiveBack(sizeof(Block) + capacity);
        throw std::bad_alloc();
    }
    auto* block = new (memory) Block{capacity, charged == QueueBudget::Charged::FromReserve};
    std::memset(block->Data(), 0, capacity);
    nextCapacity =
        std::min(2 * nextCapacity, LargestBlockWithin(g_queueBudget.Limit(), LargestBlock, BlockSize));
    return block;
}

const unsigned char* ThreadQueue::Front() noexcept
{
    for (;;)
    {
        if (readPosition < readCommitted)
        {
            return readBlock->Data() + readPosition;
        }
        readCommitted = readBlock->committed.load(std::memory_order_acquire);
        if (readPosition < readCommitted)
        {
            return readBlock->Data() + readPosition;
        }
        Block* const next = readBlock->next.load(std::memory_order_acquire);
        if (next == nullptr)
        {
            return nullptr;
        }
        // The writer committed its last record here before it linked the next block.
        readCommitted = readBlock->committed.load(std::memory_order_acquire);
        if (readPosition < readCommitted)
        {
            return readBlock->Data() + readPosition;
        }
        Recycle(readBlock);
        readBlock = next;
        readPosition = 0;
        readCommitted = 0;
    }
}

// A reserve block is not reused: it would let verbose calls into the reserve.
void ThreadQueue::Recycle(Block* block) noexcept
{
    Block* expected = nullptr;
    if (block->capacity > LargestBlock || block->reserveOnly ||
        !spare.compare_exchange_strong(expected, block, std::memory_order_release, std::memory_order_relaxed))
    {
        Free(block);
    }
}

void ThreadQueue::Free(Block* block) noexcept
{
    if (block != nullptr)
    {
        g_queueBudget.GiveBack(sizeof(Block) + block->capacity);
        block->~Block();
        ::operator delete(block);
    }
}

}  // namespace ozr::logging
