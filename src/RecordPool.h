#pragma once

#include <cstddef>
#include <memory>

#include "ozr/logging/Message.h"

namespace ozr::logging
{

// Recycles log records, whole: a record is filled on the thread that logs and released on the worker
// after delivery. Made and freed with operator new and delete, each record (and each of its strings
// longer than the short-string buffer) costs the logging thread a malloc whose per-thread cache is always
// empty, with the worker's frees piling up in its arena to be sorted. A recycled record keeps its strings'
// buffers, so the next text and file name of similar length are copied in without allocating.
//
// A thread that releases records gathers them in a list of its own and hands each full chain of them to
// one process-wide lock-free stack with a single compare-and-swap. A thread that needs a record takes one
// from its own lists, or else takes the whole stack with a single exchange: nothing ever pops one record
// off the shared stack, so there is no ABA problem and no lock.
//
// Threads: Acquire, and the release of its records, may run on any thread at any time, also while the
// thread exits (records then come from operator new and go back to operator delete) and in the child of
// a fork (the records held by the parent's other threads are lost to the child, as their other memory is).
// Memory: the shared stack holds at most MaxPooledRecords records. Each thread holds what it last took
// from the stack (at most as many) and fewer than two chains it released, and returns them all when it
// exits. A pooled record keeps a string buffer only up to MaxRetainedCapacity characters.
// Under AddressSanitizer a pooled record is poisoned, so a record read after its release is reported
// until the record is reused.
class RecordPool
{
public:
    static constexpr std::size_t ChainLength = 64;
    static constexpr std::size_t MaxPooledRecords = 2048;
    static constexpr std::size_t MaxRetainedCapacity = 256;

    // A record to fill in, recycled or new: its fields hold whatever the last use left, so every one of
    // them must be assigned. Returns to the pool when its last reference goes. Throws std::bad_alloc.
    static std::shared_ptr<Message> Acquire();
};

}  // namespace ozr::logging
