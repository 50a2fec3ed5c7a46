// The logger manager across fork(): the handlers that keep a child from inheriting a lock held by another
// thread, and the child's abandoning of its parent's logging.
//
// Lock order (the whole list is at the top of LoggerManager.cpp): the prepare handler first flushes
// standard output without holding any lock (a flush can wait on a full pipe), then takes g_managersMutex,
// every manager's registry lock in the order of g_managers, every manager's locator lock, and last the
// default-log-directory lock. The parent handler releases them in the reverse order. The child handler
// releases the last two, plain mutexes, and makes the registry locks and g_managersMutex anew: a
// recursive mutex refuses the child's thread, whose id is new. The lifecycle lock is not held across
// fork (a drain may hold it for long): the child makes it anew too. The settings
// library registers its handlers first, so its prepare handler runs after this one and its process
// mutex comes after all of these locks, as it does outside fork.

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

#include "DetachedWorker.h"
#include "QueueBudget.h"
#include "QueueDrainer.h"
#include "ThreadQueues.h"
#include "ZoneTable.h"
#include "ozr/logging/LoggerManager.h"
#include "ozr/logging/appender/file/ConfigProvider.h"

namespace ozr::logging
{

namespace
{

// Every live manager, so that the fork handlers, registered once per process, reach their registry locks.
Mutex g_managersMutex;
std::vector<LoggerManager*> g_managers;
std::once_flag g_forkHandlersRegistered;

// What forked children left behind of their parents' logging. Never released: releasing it could take
// locks that the parent's worker held at the moment of the fork. Reachable, so leak checkers stay quiet.
std::vector<std::shared_ptr<void>>& AbandonedParentState()
{
    static auto* abandoned = new std::vector<std::shared_ptr<void>>();
    return *abandoned;
}

}  // namespace

// Plain mutexes, which the child's thread may release as well as the parent's.
void LoggerManager::UnlockSettingsAfterFork()
{
    appender::file::ConfigProvider::UnlockAfterFork();
    for (LoggerManager* manager : g_managers)
    {
        manager->configLocator->UnlockAfterFork();
    }
}

void LoggerManager::RegisterForFork()
{
    std::call_once(g_forkHandlersRegistered,
                   [] { pthread_atfork(&LockAllForFork, &UnlockAllInParent, &UnlockAllInChild); });
    const LockGuard<Mutex> lock(g_managersMutex);
    g_managers.push_back(this);
}

void LoggerManager::UnregisterForFork()
{
    const LockGuard<Mutex> lock(g_managersMutex);
    g_managers.erase(std::find(g_managers.begin(), g_managers.end(), this));
}

// In a forked child, start over with a fresh context once the parent's state has been set aside.
void LoggerManager::LeaveParentStateIfForked()
{
    if (!forkedFromParent)
    {
        return;
    }
    const bool drainsThreadQueues = drainer != nullptr;
    AbandonParentState();
    ioContext = std::make_unique<boost::asio::io_context>();
    appenderManager =
        std::make_unique<appender::Manager>(*ioContext, *applicationInfoProvider, *configLocator);
    if (drainsThreadQueues)
    {
        drainer = std::make_unique<QueueDrainer>(*ioContext);
    }
}

// Sets the parent's context, worker handle, loggers and appenders aside without releasing any of them.
void LoggerManager::AbandonParentState()
{
    auto& abandoned = AbandonedParentState();
    DetachedWorker parentWorker = DetachWorker(true);
    for (const auto& entry : zones->Entries())
    {
        // The child's loggers must not wait for the parent's, nor its records go to them.
        entry->SetDeliveryTarget(nullptr);
        abandoned.push_back(std::move(entry->latestLogger));
        entry->latestLogger.reset();
    }
    abandoned.insert(abandoned.end(), parentWorker.loggers.begin(), parentWorker.loggers.end());
    abandoned.push_back(std::make_shared<std::deque<std::thread>>(std::move(parentWorker.threads)));
    abandoned.push_back(std::shared_ptr<void>(std::move(parentWorker.crashFlushListener)));
    abandoned.push_back(std::shared_ptr<void>(std::move(parentWorker.guard)));
    abandoned.push_back(std::shared_ptr<void>(std::move(appenderManager)));
    abandoned.push_back(std::shared_ptr<void>(std::move(drainer)));
    abandoned.push_back(std::shared_ptr<void>(std::move(ioContext)));
    forkedFromParent = false;
}

// Standard output is flushed before any lock is taken (it may wait for a full pipe), so that a child never
// writes the parent's buffered lines a second time.
void LoggerManager::LockAllForFork()
{
    std::fflush(stdout);
    g_managersMutex.lock();
    for (LoggerManager* manager : g_managers)
    {
        manager->mutex.lock();
    }
    for (LoggerManager* manager : g_managers)
    {
        manager->configLocator->LockForFork();
    }
    appender::file::ConfigProvider::LockForFork();
}

void LoggerManager::UnlockAllInParent()
{
    UnlockSettingsAfterFork();
    for (LoggerManager* manager : g_managers)
    {
        manager->mutex.unlock();
    }
    g_managersMutex.unlock();
}

// The child's only thread has a new thread id, so a recursive mutex locked before the fork refuses to be
// unlocked by it; the locks are made anew instead (nothing else can hold them in the child). The
// lifecycle lock is not taken across fork (a drain may hold it for long), so it too is made anew: the
// child abandons whatever a parent's initialisation or shutdown was doing.
void LoggerManager::UnlockAllInChild()
{
    UnlockSettingsAfterFork();
    for (LoggerManager* manager : g_managers)
    {
        new (&manager->mutex) RecursiveMutex();
        new (&manager->lifecycleMutex) Mutex();
        manager->forkedFromParent = true;
        manager->forkedWithoutStart = true;
        // Every log call reaches the registry, which leaves the parent's state first.
        for (const auto& entry : manager->zones->Entries())
        {
            entry->Withdraw();
        }
    }
    new (&g_managersMutex) Mutex();
    thread_queues::AbandonInChild();
    g_queueBudget.ForgetAllCharged();
}

}  // namespace ozr::logging
