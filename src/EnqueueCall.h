#pragma once

#include <cstdarg>

#include "ozr/logging/Severity.h"

namespace ozr::logging
{

class ZoneEntry;

enum class Enqueued
{
    Yes,      // queued, or the call makes no line (its text is empty or its format rejected)
    Dropped,  // the queue bound left no room: counted in queueDropped
    NoQueue,  // the calling thread has ended: the call must take another way
};

// Once, under the process-wide manager's registry lock before its zones can be found (so that no fork
// finds them half made): the list of thread queues and the process's format cache.
void PrepareEnqueueing();

// An accepted call of the process-wide manager's zone `entry`, queued on the calling thread's queue for
// the worker: one clock reading, the file name, and the arguments copied as the format reads them; or,
// for a format whose arguments cannot be captured exactly, the text formatted here. No lock and no
// system call, unless the worker sleeps (one write wakes it) or the thread needs a new block of its queue.
//
// The clock reading's calendar conversion, which the worker makes, is checked here once a second per
// thread, so that its failures still leave the log call as exceptions.
Enqueued EnqueueCall(const ZoneEntry& entry, Severity severity, const char* file, unsigned int line,
                     unsigned long threadId, const char* fmt, std::va_list& args)
    __attribute__((format(printf, 6, 0)));

}  // namespace ozr::logging
