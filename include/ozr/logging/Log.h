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
#include "ozr/logging/CallSiteLimit.h"
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

// The first of a call's format and arguments: its format.
#define OZR_LOG_FORMAT_(format, ...) format

// One call site: its own static CallSite answers a call that the zone's verbosity rejects, inline; the
// others go to ToLogAt. The site knows whether its format can change, from the format expression's type.
#define OZR_LOG_SITE_(zone, severity, ...)                                                     \
    do                                                                                         \
    {                                                                                          \
        static ::ozr::logging::CallSite ozrLogSite_{                                           \
            ::ozr::logging::detail::IsFixedText<decltype((OZR_LOG_FORMAT_(__VA_ARGS__, 0)))>}; \
        const char* const ozrLogZone_ = (zone);                                                \
        if (!ozrLogSite_.Rejects(ozrLogZone_, (severity)))                                     \
        {                                                                                      \
            ::ozr::logging::ToLogAt(ozrLogSite_, ozrLogZone_, (severity), __FILE__, __LINE__,  \
                                    ::ozr::logging::CurrentThreadId(), __VA_ARGS__);           \
        }                                                                                      \
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

// Call sites that cannot flood: each of these call sites counts its own calls and logs only some.
//
//     OZR_LOG_EVERY_N(zone, severity, n, fmt, ...)              the 1st, (n+1)th, (2n+1)th ... call
//     OZR_LOG_FIRST_N(zone, severity, n, fmt, ...)              the first n calls
//     OZR_LOG_EVERY_SECONDS(zone, severity, seconds, fmt, ...)  at most one call per `seconds` (a double)
//
// A call logged after suppressed ones ends its text with " (N suppressed)", N counting the calls of the
// site held back since the one it logged last; the suffix follows the text as it is logged, after its
// trailing control characters are trimmed. A call that the zone's verbosity or the compile-time floor
// rejects counts nothing. A suppressed call does not evaluate its format arguments; the zone, severity
// and limit are evaluated once per call. Counting is per call site (per expansion of the macro), from any
// number of threads at once, with a relaxed atomic operation and no lock.
#define OZR_LOG_EVERY_N(zone, severity, n, ...) \
    OZR_LOG_LIMITED_(::ozr::logging::CallSiteEveryN, n, zone, severity, __VA_ARGS__)
#define OZR_LOG_FIRST_N(zone, severity, n, ...) \
    OZR_LOG_LIMITED_(::ozr::logging::CallSiteFirstN, n, zone, severity, __VA_ARGS__)
#define OZR_LOG_EVERY_SECONDS(zone, severity, seconds, ...) \
    OZR_LOG_LIMITED_(::ozr::logging::CallSiteEverySeconds, seconds, zone, severity, __VA_ARGS__)

// The site's CallSite rejects a call that the zone's verbosity rejects inline, before anything is counted.
// A call without suppressed ones before it logs through OZR_LOG with the caller's own format; one with
// them logs the caller's text with the count appended, formatted once by TextWithSuppressedCount, whose
// format check covers the caller's arguments as OZR_LOG's does.
#define OZR_LOG_LIMITED_(Limit, limit, zone, severity, ...)                                                  \
    do                                                                                                       \
    {                                                                                                        \
        const char* const ozrLimitedZone_ = (zone);                                                          \
        const ::ozr::logging::Severity ozrLimitedSeverity_ = (severity);                                     \
        static ::ozr::logging::CallSite ozrLimitedSite_;                                                     \
        if (ozrLimitedSeverity_ <= (OZR_LOGGING_MIN_SEVERITY) &&                                             \
            !ozrLimitedSite_.Rejects(ozrLimitedZone_, ozrLimitedSeverity_) &&                                \
            ::ozr::logging::IsLoggingEnabledAt(ozrLimitedSite_, ozrLimitedZone_, ozrLimitedSeverity_))       \
        {                                                                                                    \
            static Limit ozrLimit_;                                                                          \
            const ::ozr::logging::CallSiteAdmission ozrAdmission_ = ozrLimit_.Admit(limit);                  \
            if (ozrAdmission_.logs && ozrAdmission_.suppressed == 0)                                         \
            {                                                                                                \
                OZR_LOG(ozrLimitedZone_, ozrLimitedSeverity_, __VA_ARGS__);                                  \
            }                                                                                                \
            else if (ozrAdmission_.logs)                                                                     \
            {                                                                                                \
                OZR_LOG(                                                                                     \
                    ozrLimitedZone_, ozrLimitedSeverity_, "%s",                                              \
                    ::ozr::logging::TextWithSuppressedCount(ozrAdmission_.suppressed, __VA_ARGS__).c_str()); \
            }                                                                                                \
        }                                                                                                    \
    } while (false)
