#include "ozr/logging/LoggerManager.h"

#include <array>
#include <atomic>
#include <future>
#include <vector>

#include <boost/asio/post.hpp>

#include "AlternateSignalStack.h"
#include "CrashFlush.h"
#include "DetachedWorker.h"
#include "EnqueueCall.h"
#include "FileSizeSignal.h"
#include "LoggingCounters.h"
#include "QueueDrainer.h"
#include "RegisteredLogger.h"
#include "ZoneTable.h"

// Lock order. A lock may be taken while holding only locks above it:
//
//  1. The manager's lifecycle lock. InitialiseLogger, ShutdownLogger and the exit drain hold it for their
//     whole duration, the last ShutdownLogger also while it waits for the worker to drain. Log calls,
//     GetLogger and the fork handlers never take it; a forked child makes it anew.
//  2. g_managersMutex: the list of live managers, taken by the fork handlers and by construction and
//     destruction.
//  3. Each manager's registry lock (recursive), in the order of g_managers. Held for registry work and for
//     making a logger (which reads the zone's settings), never while waiting for the worker. The fork
//     prepare handler takes it here, after g_managersMutex.
//  4. While a logger is made: the locator's lock, the default-log-directory lock, and the locks that
//     reading the zone's file takes: the settings store's lock, then the settings library's process
//     mutex where a read takes it. The locator's and the default-log-directory lock are each held only
//     to copy or replace what they guard. The fork prepare handler takes every manager's locator lock
//     after every registry lock, then the default-log-directory lock, so that no other thread holds
//     them at the fork. The settings library registers its fork handlers before the manager's, and
//     prepare handlers run in the reverse order of registration, so across fork, too, these locks are
//     taken before the process mutex.
//  5. A logger's own lock, then its settings store's lock, then the process mutex: taken by
//     Logger::SetVerbosity, which RegisteredLogger calls without holding any lock of the manager's.
//     The manager itself never takes a logger's lock (the zone's shutdown flag lives in its
//     RegisteredLogger, an atomic).
//  6. Standard output's stdio lock is held only by whoever writes or flushes it, never together with any
//     lock above: the worker writes without registry or logger locks, and a flush made to prepare a
//     fork must come before the prepare handler takes the registry locks, because a flush can wait on a
//     full pipe.
//
// The fork handlers (LoggerManagerFork.cpp) take 2, 3 and 4 in this order and hold them across fork().
// A logger's queue lock is a leaf, held for no wait: taken alone by log calls and the worker, and under
// the registry lock when a new logger takes over from the zone's previous one, one logger at a time.
//
// The list of thread queues (ThreadQueues.cpp) has a leaf lock: taken by a thread making its queue, by the
// worker to copy the list and free a drained queue, and by GetLoggingStatistics, each holding no other.
//
// The zone table and each zone's published verbosity are atomics: log calls read them without a lock.
// The registry lock orders the writers of the table, and the registering and withdrawing of a zone's
// logger; the verbosity of a registered logger is also replaced without it (ZoneEntry::Update, from
// SetVerbosity and the settings watcher), by a compare-and-swap that fails once another logger is
// registered. An accepted call to a registered zone of the process-wide manager takes no lock at all: it
// queues its record on its thread's queue, and the worker hands it to the zone's delivery target. The
// worker takes none of these locks.

namespace ozr::logging
{

namespace
{

// Runs the context until it runs out of work or is stopped. An exception escaping a task (an appender
// failing) costs that task only, and is counted: the run goes on unless the context was stopped.
void RunUntilDone(boost::asio::io_context& ioContext)
{
    for (;;)
    {
        try
        {
            ioContext.run();
            return;
        }
        catch (...)
        {
            AddTo(g_loggingCounters.workerExceptions);
            if (ioContext.stopped())
            {
                return;
            }
        }
    }
}

// The worker's body. A write past the file-size limit fails instead of ending the process; the worker has
// a signal stack of its own, so that a fatal-signal handler still runs when it overflows its stack; and a
// crash on it does not wait for itself.
void RunIOContext(boost::asio::io_context& ioContext)
{
    BlockFileSizeSignal();
    const AlternateSignalStack signalStack;
    crash_flush::EnterWorker();
    RunUntilDone(ioContext);
    crash_flush::LeaveWorker();
}

}  // namespace

// Lets the worker finish every queued task and outstanding operation, then joins it.
void LoggerManager::DetachedWorker::Drain()
{
    guard.reset();
    for (auto& thread : threads)
    {
        try
        {
            if (thread.get_id() == std::this_thread::get_id())
            {
                thread.detach();  // the process ends from inside a task: a thread cannot join itself
                continue;
            }
            thread.join();
        }
        catch (...)
        {
        }
    }
    threads.clear();
}

LoggerManager::LoggerManager()
    : ioContext(std::make_unique<boost::asio::io_context>()),
      applicationInfoProvider(std::make_unique<ApplicationInfoProvider>()),
      configLocator(std::make_unique<ConfigLocator>(*applicationInfoProvider)),
      appenderManager(
          std::make_unique<appender::Manager>(*ioContext, *applicationInfoProvider, *configLocator)),
      zones(std::make_unique<ZoneTable>())
{
    RegisterForFork();
}

LoggerManager::~LoggerManager()
{
    {
        LockGuard<RecursiveMutex> lock(mutex);
        if (forkedFromParent)
        {
            AbandonParentState();
        }
        else
        {
            // The registry lets go of its loggers too: each refers to its entry, so they must not be left
            // in the entries. As at the last shutdown, the console and the collector are told that the
            // drain must not wait for them for ever.
            StopDrainer();
            DetachedWorker worker = DetachWorker(true);
            appenderManager->ShutdownGlobalAppenders();
            lock.Unlock();
            worker.Drain();
        }
    }
    UnregisterForFork();
}

void LoggerManager::SetConfigDirectoryPath(std::filesystem::path directory)
{
    configLocator->SetConfigDirectoryPath(std::move(directory));
}

void LoggerManager::InitialiseLogger(char const* zone)
{
    const LockGuard<Mutex> lifecycle(lifecycleMutex);
    const LockGuard<RecursiveMutex> lock(mutex);
    if (exited)
    {
        return;
    }
    LeaveParentStateIfForked();
    if (threads.empty())
    {
        Initialise();
    }
    FindOrMakeLogger(zone)->Reactivate();
}

// The last active zone's shutdown takes the worker out under the registry lock, then drains and joins
// it without that lock: log calls meanwhile find no registered logger, make fresh ones as after a full
// shutdown (each taking over from its zone's previous logger, see Logger::TakeOverFrom), and their
// messages are either delivered by the draining worker or wait on the context for the next start.
void LoggerManager::ShutdownLogger(char const* zone)
{
    const LockGuard<Mutex> lifecycle(lifecycleMutex);
    LockGuard<RecursiveMutex> lock(mutex);
    if (exited)
    {
        return;
    }
    LeaveParentStateIfForked();
    const ZoneEntry* entry = zones->Find(zone);
    if (entry == nullptr || !entry->logger)
    {
        return;
    }
    entry->logger->Shutdown();
    ZoneTable::ZoneShutDown();
    for (const auto& each : zones->Entries())
    {
        if (each->logger && !each->logger->IsShutdown())
        {
            return;
        }
    }
    StopDrainer();
    DetachedWorker worker = DetachWorker(true);
    appenderManager->ShutdownGlobalAppenders();
    lock.Unlock();

    worker.Drain();

    lock.Lock();
    ioContext->stop();  // what is queued from now on waits for the next start
}

std::shared_ptr<ILogger> LoggerManager::GetLogger(char const* zone)
{
    const LockGuard<RecursiveMutex> lock(mutex);
    if (exited)
    {
        return LoggerAfterExit();
    }
    LeaveParentStateIfForked();
    return FindOrMakeLogger(zone);
}

std::shared_ptr<RegisteredLogger> LoggerManager::GetLoggerAccepting(char const* zone, Severity severity)
{
    const ZoneEntry* entry = zones->Find(zone);
    if (entry != nullptr && entry->Rejects(severity))
    {
        return nullptr;
    }
    const LockGuard<RecursiveMutex> lock(mutex);
    if (exited)
    {
        return nullptr;
    }
    LeaveParentStateIfForked();
    // The entry found without the lock saves a second search by name when its logger is registered.
    const std::shared_ptr<RegisteredLogger>& logger =
        entry != nullptr && entry->logger ? entry->logger : FindOrMakeLogger(zone);
    if (logger->GetVerbosity() < severity)
    {
        return nullptr;
    }
    return logger;
}

// The requests are queued under the registry lock while a worker is registered, so they come before any
// shutdown's detaching of the worker, whose drain runs them like every other task. The wait holds no lock.
// The last holder of `done`, whichever logger or appender finishes last, fulfils the promise. On the
// worker it returns at once, since the worker cannot wait for itself.
void LoggerManager::Flush()
{
    if (ioContext->get_executor().running_in_this_thread())
    {
        return;
    }
    const auto flushed = std::make_shared<std::promise<void>>();
    std::future<void> allFlushed = flushed->get_future();
    {
        const LockGuard<RecursiveMutex> lock(mutex);
        if (exited || forkedFromParent || threads.empty())
        {
            return;
        }
        std::shared_ptr<void> done(nullptr, [flushed](void*) { flushed->set_value(); });
        if (drainer)
        {
            // The worker first delivers what threads queued, so the flushes follow it.
            std::vector<std::shared_ptr<RegisteredLogger>> loggers;
            for (const auto& entry : zones->Entries())
            {
                if (entry->logger)
                {
                    loggers.push_back(entry->logger);
                }
            }
            boost::asio::post(*ioContext,
                              [this, loggers = std::move(loggers), done = std::move(done)]
                              {
                                  drainer->DrainAll();
                                  for (const auto& logger : loggers)
                                  {
                                      logger->Flush(done);
                                  }
                              });
        }
        else
        {
            for (const auto& entry : zones->Entries())
            {
                if (entry->logger)
                {
                    entry->logger->Flush(done);
                }
            }
        }
    }
    allFlushed.wait();
}

// A reference into the registry: valid while the registry lock is held.
const std::shared_ptr<RegisteredLogger>& LoggerManager::FindOrMakeLogger(char const* zone)
{
    ZoneEntry& entry = zones->FindOrAdd(zone);
    if (!entry.logger)
    {
        std::string configFilePath = configLocator->GetZoneConfigFilePath(zone);
        auto appenders = appenderManager->GetAppenders(zone);
        auto logger = std::make_shared<Logger>(*ioContext, std::move(configFilePath), std::move(appenders));
        // The predecessor's takeover task holds it until the worker is done with it.
        if (entry.latestLogger)
        {
            logger->TakeOverFrom(*entry.latestLogger);
        }
        entry.latestLogger = logger;
        entry.SetDeliveryTarget(logger.get());
        lastGeneration = lastGeneration == UINT32_MAX ? 1 : lastGeneration + 1;
        auto registered =
            std::make_shared<RegisteredLogger>(std::move(logger), entry.shared_from_this(), lastGeneration);
        entry.Publish(lastGeneration, registered->GetVerbosity());
        entry.logger = std::move(registered);
    }
    return entry.logger;
}

void LoggerManager::Initialise()
{
    ioContext->restart();
    // The new guard exists before the old one goes, so the context never runs out of work in between.
    workGuard = std::make_unique<WorkGuard>(ioContext->get_executor());
    while (threads.empty())
    {
        threads.emplace_back(&RunIOContext, std::ref(*ioContext));
    }
    forkedWithoutStart = false;
    appenderManager->LoadGlobalAppenders();
    if (drainer)
    {
        drainer->Start();
    }
    if (listensForCrashFlushes)
    {
        StartCrashFlushListener();
    }
}

void LoggerManager::ListenForCrashFlushes()
{
    const LockGuard<RecursiveMutex> lock(mutex);
    listensForCrashFlushes = true;
    if (!threads.empty() && !forkedFromParent)
    {
        StartCrashFlushListener();
    }
}

// Registry lock held.
void LoggerManager::StartCrashFlushListener()
{
    crashFlushListener = std::make_unique<CrashFlushListener>(
        *ioContext, [this](const std::shared_ptr<void>& done) { return TryFlushFromWorker(done); });
}

// On the worker, for a fatal-signal handler: hands `done` to every registered logger, as Flush does, but
// only if the registry lock is free at once. The crashing thread may hold it, and the worker never waits
// for it.
bool LoggerManager::TryFlushFromWorker(const std::shared_ptr<void>& done)
{
    if (!mutex.try_lock())
    {
        return false;
    }
    const LockGuard<RecursiveMutex> lock(mutex, std::adopt_lock);
    if (drainer)
    {
        drainer->DrainAll();
    }
    for (const auto& entry : zones->Entries())
    {
        if (entry->logger)
        {
            entry->logger->Flush(done);
        }
    }
    return true;
}

// Registry lock held. Takes the worker and its guard out of the manager and withdraws every zone's
// published verbosity; with `releaseLoggers` the registry lets go of its loggers too.
LoggerManager::DetachedWorker LoggerManager::DetachWorker(bool releaseLoggers)
{
    DetachedWorker worker{std::move(workGuard), std::move(threads), {}, std::move(crashFlushListener)};
    threads.clear();
    for (const auto& entry : zones->Entries())
    {
        entry->Withdraw();
        if (releaseLoggers && entry->logger)
        {
            worker.loggers.push_back(std::move(entry->logger));
            entry->logger.reset();
        }
    }
    return worker;
}

// Messages logged while no worker ran wait on the stopped context: deliver them on this thread.
void LoggerManager::RunTasksLeftQueued()
{
    if (ioContext->get_executor().running_in_this_thread())
    {
        return;  // exit() called from a task: the context cannot be run again from inside itself
    }
    ioContext->restart();
    if (drainer)
    {
        drainer->DrainAll();
    }
    RunUntilDone(*ioContext);
}

// Registry lock held: the worker delivers what threads queued and then leaves the context to run out of
// work. Never in a forked child that has not left its parent's state: the context is the parent's.
void LoggerManager::StopDrainer()
{
    if (drainer && !forkedFromParent)
    {
        drainer->Stop();
    }
}

// Once, for the process-wide manager, before log calls can find its zones.
void LoggerManager::TakeThreadQueues()
{
    const LockGuard<RecursiveMutex> lock(mutex);
    PrepareEnqueueing();
    drainer = std::make_unique<QueueDrainer>(*ioContext);
}

}  // namespace ozr::logging
