#pragma once

#include <cstdint>

namespace ozr::bench
{

// Counts the calls of the global operator new (every form) made by the calling thread, library code
// included: the program replaces the global allocation functions (AllocationCounter.cpp).
std::uint64_t ThreadAllocationCount();

}  // namespace ozr::bench
