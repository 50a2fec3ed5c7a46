#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/ConfigLocator.h"
#include "ozr/logging/Logger.h"
#include "ozr/logging/ThreadSafety.h"
#include "ozr/logging/appender/Manager.h"

namespace ozr::logging
{

// The process-wide registry of zone loggers. Any thread may call it; the worker thread never does.
class OZR_LOGGING_API ILoggerManager
{
public:
    virtual ~ILoggerManager() = default;
    virtual void SetConfigDirectoryPath(std::filesystem::path directory) = 0;
    virtual void InitialiseLogger(char const* zone) = 0;
    virtual void ShutdownLogger(char const* zone) = 0;
    // Never empty; a missing logger is made (reading its settings) on first request. Once the
    // process-wide manager's exit drain has run, no logger is made: every zone then gets one that drops
    // its messages and ignores verbosity changes (SetLoggingVerbosity changes nothing, not even memory).
    virtual std::shared_ptr<ILogger> GetLogger(char const* zone) = 0;
};

class CrashFlushListener;
class QueueDrainer;
class RegisteredLogger;
class ZoneTable;

// Owns the I/O context and its single worker thread, the application information, the locator, the
// appender manager and the registry.
//
// Log calls find their zone without a lock: a call that the zone's verbosity rejects takes no lock and
// writes no shared memory. An accepted call to a registered zone, while a worker runs, reuses the logger
// its thread logged to last when the zone still has it. Other accepted calls and zones not yet made take
// the registry lock, which is held
// only for short registry work and for making a logger; it is never held while the worker drains.
// InitialiseLogger and ShutdownLogger are serialised by a lifecycle lock of their own, which the last
// ShutdownLogger holds while it waits for the drain: other initialisations and shutdowns wait for it,
// log calls do not. A log call made during that drain is either delivered by it or queued for the next
// start, like a call made after the shutdown.
//
// Destroying the manager while its worker runs (the process ends without shutting its zones down) first
// lets the worker finish everything queued, then joins it. The process-wide manager is never destroyed:
// an exit handler drains it instead (DrainAtExit), so that threads still logging during exit find it.
//
// Fork: the registry lock is held across fork(), so a child never inherits it locked. A child has none of
// the parent's threads, and the parent's worker may have held the I/O context's internal locks at the
// moment of the fork, so the child never touches the parent's context, worker, loggers or appenders: at
// its first registry call (or at exit) it abandons them, unreleased, and starts over as a manager that was
// just made. The child's messages therefore go nowhere until the child calls InitialiseLogging itself,
// which gives it a worker and fresh appenders of its own; a child that only logs and exits (or execs)
// drops its messages and never waits for the parent's worker.
//
// The manager is not meant to be destroyed from a task on its own worker (exit() called from an
// appender): the worker is then detached rather than joined, and the process ends around it.
class OZR_LOGGING_API LoggerManager final : public ILoggerManager
{
public:
    LoggerManager();
    ~LoggerManager() override;

    void SetConfigDirectoryPath(std::filesystem::path directory) override;
    void InitialiseLogger(char const* zone) override;
    void ShutdownLogger(char const* zone) override;
    std::shared_ptr<ILogger> GetLogger(char const* zone) override;

    // For log calls: the zone's logger (made if missing) when its verbosity accepts `severity`, otherwise
    // empty. A rejection of a registered zone costs no lock. Also empty once the exit drain has run. The
    // call's record names its zone by the logger's ZoneName(), never by the caller's text, which the
    // caller may free once the zone is shut down.
    std::shared_ptr<RegisteredLogger> GetLoggerAccepting(char const* zone, Severity severity);

    // Runs once at normal process exit for the process-wide manager: writes everything queued, also
    // what was logged while no worker ran. Log calls made afterwards are dropped.
    void DrainAtExit() noexcept;

    // Returns once everything logged before the call has been written, sent or dropped (the console's
    // batches end with a flush of standard output). Returns at once when no worker runs, or on the worker
    // itself.
    void Flush();

    // From now on every worker also answers the fatal-signal handler's requests to write out the queue
    // (see InstallLoggingCrashHandler), the one running now included.
    void ListenForCrashFlushes();

private:
    friend LoggerManager& GetLoggerManager();  // publishes the process-wide manager's zone table

    using WorkGuard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;
    struct DetachedWorker;

    const std::shared_ptr<RegisteredLogger>& FindOrMakeLogger(char const* zone) OZR_REQUIRES(mutex);
    void Initialise() OZR_REQUIRES(mutex);
    DetachedWorker DetachWorker(bool releaseLoggers) OZR_REQUIRES(mutex);
    void RunTasksLeftQueued();
    void LeaveParentStateIfForked() OZR_REQUIRES(mutex);
    void StartCrashFlushListener() OZR_REQUIRES(mutex);
    bool TryFlushFromWorker(const std::shared_ptr<void>& done) OZR_EXCLUDES(mutex);
    void AbandonParentState() OZR_REQUIRES(mutex);
    void TakeThreadQueues();
    void StopDrainer() OZR_REQUIRES(mutex);

    static const std::shared_ptr<ILogger>& LoggerAfterExit();
    void RegisterForFork();
    void UnregisterForFork();
    static void UnlockSettingsAfterFork() OZR_NO_THREAD_SAFETY_ANALYSIS;
    // They take, release or make anew every manager's registry lock in a loop, which the lock analysis
    // cannot follow; their order is written down in LoggerManagerFork.cpp.
    static void LockAllForFork() OZR_NO_THREAD_SAFETY_ANALYSIS;
    static void UnlockAllInParent() OZR_NO_THREAD_SAFETY_ANALYSIS;
    static void UnlockAllInChild() OZR_NO_THREAD_SAFETY_ANALYSIS;

    // Held through a pointer so that a forked child can abandon the parent's context without touching it.
    std::unique_ptr<boost::asio::io_context> ioContext;
    // The lifecycle lock comes first, the registry lock after it (see the lock order in LoggerManager.cpp).
    Mutex lifecycleMutex;
    RecursiveMutex mutex OZR_ACQUIRED_AFTER(lifecycleMutex);
    std::unique_ptr<WorkGuard> workGuard OZR_GUARDED_BY(mutex);
    std::deque<std::thread> threads OZR_GUARDED_BY(mutex);
    std::unique_ptr<IApplicationInfoProvider> applicationInfoProvider;
    std::unique_ptr<ConfigLocator> configLocator;
    std::unique_ptr<appender::IManager> appenderManager OZR_GUARDED_BY(mutex);
    // The registry: every zone ever asked for, with its logger while one is registered.
    std::unique_ptr<ZoneTable> zones;
    std::uint32_t lastGeneration OZR_GUARDED_BY(mutex) = 0;
    bool exited OZR_GUARDED_BY(mutex) = false;
    // The process-wide manager's only: delivers what threads queue (see ThreadQueues.h) on the worker.
    // Made before log calls can find the manager's zones, and replaced only by a forked child that
    // leaves its parent's state, on its only thread.
    std::unique_ptr<QueueDrainer> drainer;
    bool forkedFromParent OZR_GUARDED_BY(mutex) = false;
    // A forked child that has not started logging of its own: what it logged is dropped at exit, so
    // that it never writes into its parent's files.
    bool forkedWithoutStart OZR_GUARDED_BY(mutex) = false;
    // Whether workers answer crash flushes, and the running one's listener.
    bool listensForCrashFlushes OZR_GUARDED_BY(mutex) = false;
    std::unique_ptr<CrashFlushListener> crashFlushListener OZR_GUARDED_BY(mutex);
};

// The process-wide manager, made on first use and never destroyed (see DrainAtExit).
OZR_LOGGING_API LoggerManager& GetLoggerManager();

}  // namespace ozr::logging
