#pragma once

// Call-site macros: each logs through ToLog's twin ToLogAt with the source position and the calling
// thread's kernel thread id filled in. Each call site keeps what it needs to reject a call without a call
// (see CallSite.h).
//
//     OZR_LOG_WARNING("Net", "connection to %s lost", host);
//     OZR_LOG_INFO("Net", "up");
//     OZR_LOG("Net", severity, "retry %d of %d", attempt, attempts);
//
// Each macro is one statement (safe in an if/else without braces) and evaluates each of its arguments
// at most once. The format is checked against its arguments by the compiler.
//
// Compile-time floor: define OZR_LOGGING_MIN_SEVERITY to a Severity before including this header (or on
// the compiler's command line), e.g. -DOZR_LOGGING_MIN_SEVERITY=ozr::logging::Severity::Info. Calls
// less important than the floor compile to nothing: their arguments are still checked but never
// evaluated. For OZR_LOG the severity itself is evaluated (once) to compare it with the floor. The
// default floor, Trace, keeps every call.

#include <type_traits>

#include "ozr/logging/CallSite.h"
#include "ozr/logging/Export.h"
#include "ozr/logging/Logging.h"
#include "ozr/logging/Severity.h"

#ifndef OZR_LOGGING_MIN_SEVERITY
#define OZR_LOGGING_MIN_SEVERITY ::ozr::logging::Severity::Trace
#endif

static_assert(std::is_same_v<std::decay_t<decltype(OZR_LOGGING_MIN_SEVERITY)>, ::ozr::logging::Severity>,
              "OZR_LOGGING_MIN_SEVERITY must name an ozr::logging::Severity, e.g. "
              "ozr::logging::Severity::Info");

namespace ozr::logging
{

// The kernel's id of the calling thread (gettid), read once per thread and then cached. A forked child
// reads its own id afresh. Never fails.
OZR_LOGGING_API unsigned long CurrentThreadId() noexcept;

}  // namespace ozr::logging

// One call site: its own static CallSite answers a call that the zone's verbosity rejects, inline; the
// others go to ToLogAt.
#define OZR_LOG_SITE_(zone, severity, ...)                                                    \
    do                                                                                        \
    {                                                                                         \
        static ::ozr::logging::CallSite ozrLogSite_;                                          \
        const char* const ozrLogZone_ = (zone);                                               \
        if (!ozrLogSite_.Rejects(ozrLogZone_, (severity)))                                    \
        {                                                                                     \
            ::ozr::logging::ToLogAt(ozrLogSite_, ozrLogZone_, (severity), __FILE__, __LINE__, \
                                    ::ozr::logging::CurrentThreadId(), __VA_ARGS__);          \
        }                                                                                     \
    } while (false)

// OZR_LOG(zone, severity, fmt, ...): the format and its arguments follow the severity.
#define OZR_LOG(zone, severity, ...)                                 \
    do                                                               \
    {                                                                \
        const ::ozr::logging::Severity ozrLogSeverity_ = (severity); \
        if (ozrLogSeverity_ <= (OZR_LOGGING_MIN_SEVERITY))           \
        {                                                            \
            OZR_LOG_SITE_(zone, ozrLogSeverity_, __VA_ARGS__);       \
        }                                                            \
    } while (false)

// The severity is a constant here, so a call below the floor is discarded at compile time.
#define OZR_LOG_AT_(level, zone, ...)                                                \
    do                                                                               \
    {                                                                                \
        if constexpr (::ozr::logging::Severity::level <= (OZR_LOGGING_MIN_SEVERITY)) \
        {                                                                            \
            OZR_LOG_SITE_(zone, ::ozr::logging::Severity::level, __VA_ARGS__);       \
        }                                                                            \
    } while (false)

// OZR_LOG_<SEVERITY>(zone, fmt, ...)
#define OZR_LOG_ERROR(zone, ...) OZR_LOG_AT_(Error, zone, __VA_ARGS__)
#define OZR_LOG_PRINT(zone, ...) OZR_LOG_AT_(Print, zone, __VA_ARGS__)
#define OZR_LOG_WARNING(zone, ...) OZR_LOG_AT_(Warning, zone, __VA_ARGS__)
#define OZR_LOG_MESSAGE(zone, ...) OZR_LOG_AT_(Message, zone, __VA_ARGS__)
#define OZR_LOG_INFO(zone, ...) OZR_LOG_AT_(Info, zone, __VA_ARGS__)
#define OZR_LOG_TRACE(zone, ...) OZR_LOG_AT_(Trace, zone, __VA_ARGS__)
