#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

// Replacing the global allocation functions in the executable also replaces them for the shared
// libraries it loads, so allocations inside the logging library are counted too. They are exported
// explicitly because the project builds with hidden visibility.
#define OZR_BENCH_EXPORT __attribute__((visibility("default")))

namespace
{

thread_local std::uint64_t t_allocationCount = 0;

void* Allocate(std::size_t size)
{
    ++t_allocationCount;
    if (void* memory = std::malloc(size == 0 ? 1 : size))
    {
        return memory;
    }
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment)
{
    ++t_allocationCount;
    const auto align = static_cast<std::size_t>(alignment);
    if (void* memory = std::aligned_alloc(align, (size + align - 1) / align * align))
    {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

namespace ozr::bench
{

std::uint64_t ThreadAllocationCount()
{
    return t_allocationCount;
}

}  // namespace ozr::bench

OZR_BENCH_EXPORT void* operator new(std::size_t size)
{
    return Allocate(size);
}
OZR_BENCH_EXPORT void* operator new[](std::size_t size)
{
    return Allocate(size);
}
OZR_BENCH_EXPORT void* operator new(std::size_t size, std::align_val_t alignment)
{
    return AllocateAligned(size, alignment);
}
OZR_BENCH_EXPORT void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return AllocateAligned(size, alignment);
}
OZR_BENCH_EXPORT void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return Allocate(size);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
OZR_BENCH_EXPORT void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
OZR_BENCH_EXPORT void operator delete(void* memory) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete(void* memory, std::align_val_t) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete[](void* memory, std::align_val_t) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete(void* memory, std::size_t, std::align_val_t) noexcept
{
    std::free(memory);
}
OZR_BENCH_EXPORT void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept
{
    std::free(memory);
}
