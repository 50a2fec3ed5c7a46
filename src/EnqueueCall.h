#pragma once

#include <cstdarg>
#include <cstddef>

#include "ozr/logging/CallSite.h"
#include "ozr/logging/Severity.h"

namespace ozr::logging
{

class ParsedFormat;
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

// What a call's format and source file come to, for its record.
struct CallFacts
{
    const ParsedFormat* format;  // null: the call is formatted on its thread
    const char* fileName;        // the source path's last component
    std::size_t fileNameLength;
};

// The facts of a call of `fmt` from `file`, looked up now (the format in the process's format cache).
// Leaves errno as it was. After PrepareEnqueueing.
CallFacts FindCallFacts(const char* fmt, const char* file);

// SiteCallFacts when the site does not keep them all: found now, and kept if the site has none yet.
CallFacts FindSiteCallFacts(CallSite& site, const char* fmt, const char* file);

// The facts of a call at `site`: the ones the site keeps, found and kept by its first accepted call. The
// parsed format is taken from the site only when the site's format cannot change; otherwise it is looked
// up. Leaves errno as it was. After PrepareEnqueueing.
inline CallFacts SiteCallFacts(CallSite& site, const char* fmt, const char* file)
{
    const CallSite::Facts* const kept = site.FactsFor(file);
    if (kept != nullptr && kept->formatKnown && kept->format == fmt)
    {
        return CallFacts{static_cast<const ParsedFormat*>(kept->parsedFormat), kept->fileName,
                         kept->fileNameLength};
    }
    return FindSiteCallFacts(site, fmt, file);
}

// An accepted call of the process-wide manager's zone `entry`, queued on the calling thread's queue for
// the worker: one clock reading, the file name, and the arguments copied as the format reads them; or,
// for a format whose arguments cannot be captured exactly, the text formatted here. No lock and no
// system call, unless the worker sleeps (one write wakes it) or the thread needs a new block of its queue.
//
// The clock reading's calendar conversion, which the worker makes, is checked here once a second per
// thread, so that its failures still leave the log call as exceptions.
Enqueued EnqueueCall(const ZoneEntry& entry, Severity severity, const CallFacts& facts, unsigned int line,
                     unsigned long threadId, const char* fmt, std::va_list& args)
    __attribute__((format(printf, 6, 0)));

}  // namespace ozr::logging
