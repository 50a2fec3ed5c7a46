// The opt-in fatal-signal handler: the crashing thread waits, bounded, until the worker has written out
// what was queued, then puts the handler that was there before back and raises the signal again, so the
// crash ends the process as it would have without the library.

#include <signal.h>
#include <time.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "CrashFlush.h"
#include "ozr/logging/LoggerManager.h"
#include "ozr/logging/Logging.h"

namespace ozr::logging
{

namespace
{

constexpr std::array<int, 6> g_fatalSignals{SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr long g_pollNanoseconds = 1000000;

// Written once, before the handlers are installed; read by the handlers only.
std::array<struct sigaction, g_fatalSignals.size()> g_previousActions{};
std::int64_t g_flushTimeoutNanoseconds = 0;

// The first fatal signal of the process waits; any later one (another thread crashing meanwhile) ends
// that wait and goes on as if the library were not there.
std::atomic<bool> g_crashing{false};
std::atomic<bool> g_waitAbandoned{false};

std::int64_t MonotonicNanoseconds() noexcept
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void WaitForTheWorker() noexcept
{
    const std::uint64_t request = crash_flush::Request();
    if (request == 0)
    {
        return;  // no worker, or this is the worker
    }
    const std::int64_t deadline = MonotonicNanoseconds() + g_flushTimeoutNanoseconds;
    while (!crash_flush::Completed(request) && !g_waitAbandoned.load(std::memory_order_acquire) &&
           MonotonicNanoseconds() < deadline)
    {
        const timespec pause{0, g_pollNanoseconds};
        ::nanosleep(&pause, nullptr);
    }
}

// The signal is blocked while its handler runs, so the raised one is delivered to the handler put back
// here as soon as this one returns; a fault that raised it is not re-executed first.
void RaiseAgain(int signal) noexcept
{
    for (std::size_t index = 0; index < g_fatalSignals.size(); ++index)
    {
        if (g_fatalSignals[index] == signal)
        {
            ::sigaction(signal, &g_previousActions[index], nullptr);
        }
    }
    ::raise(signal);
}

void OnFatalSignal(int signal, siginfo_t*, void*)
{
    const int savedErrno = errno;
    if (!g_crashing.exchange(true, std::memory_order_acq_rel))
    {
        WaitForTheWorker();
    }
    else
    {
        g_waitAbandoned.store(true, std::memory_order_release);
    }
    RaiseAgain(signal);
    errno = savedErrno;
}

void Install(unsigned crashFlushTimeoutMs) noexcept
{
    g_flushTimeoutNanoseconds = std::int64_t{crashFlushTimeoutMs} * 1000000;
    crash_flush::Prepare();
    struct sigaction action
    {
    };
    action.sa_sigaction = &OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (std::size_t index = 0; index < g_fatalSignals.size(); ++index)
    {
        ::sigaction(g_fatalSignals[index], &action, &g_previousActions[index]);
    }
}

}  // namespace

void InstallLoggingCrashHandler(unsigned crashFlushTimeoutMs)
{
    static std::once_flag installed;
    std::call_once(installed,
                   [crashFlushTimeoutMs]
                   {
                       Install(crashFlushTimeoutMs);
                       GetLoggerManager().ListenForCrashFlushes();
                   });
}

}  // namespace ozr::logging
