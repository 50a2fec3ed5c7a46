// The process-wide manager: made on first use, never destroyed, drained by an exit handler; and what
// the registry hands out once that drain has run.

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "DetachedWorker.h"
#include "ZoneFilter.h"
#include "ZoneTable.h"
#include "ozr/logging/LoggerManager.h"

namespace ozr::logging
{

std::atomic<const ZoneTable*> g_processZones{nullptr};

namespace
{

// The process-wide manager once made, for the exit handler, which takes no argument.
std::atomic<LoggerManager*> g_processManager{nullptr};

void DrainProcessManagerAtExit()
{
    g_processManager.load(std::memory_order_acquire)->DrainAtExit();
}

// What GetLogger hands out once the exit drain has run: making a logger then would read settings through
// objects that exit destroys. It drops every message and ignores every change.
class LoggerAfterExitDrain final : public ILogger
{
public:
    void Log(std::shared_ptr<Message const>) override {}
    void SetVerbosity(Severity) override {}
    Severity GetVerbosity() const override { return Severity::Error; }
    void Shutdown() override {}
    bool IsShutdown() const override { return true; }
};

}  // namespace

// Never destroyed, like the manager.
const std::shared_ptr<ILogger>& LoggerManager::LoggerAfterExit()
{
    static const auto* const logger = new std::shared_ptr<ILogger>(std::make_shared<LoggerAfterExitDrain>());
    return *logger;
}

void LoggerManager::DrainAtExit() noexcept
{
    try
    {
        const LockGuard<Mutex> lifecycle(lifecycleMutex);
        LockGuard<RecursiveMutex> lock(mutex);
        exited = true;
        if (forkedFromParent)
        {
            AbandonParentState();
            return;
        }
        // The entries are withdrawn: every later log call reaches the registry and is dropped there, and
        // GetLogger hands out LoggerAfterExit(). The loggers stay registered, unreleased.
        StopDrainer();
        DetachedWorker worker = DetachWorker(false);
        const bool ownMessagesQueued = !forkedWithoutStart;
        lock.Unlock();
        worker.Drain();
        if (ownMessagesQueued)
        {
            RunTasksLeftQueued();
        }
    }
    catch (...)
    {
    }
}

// Never destroyed: threads that still log while the process exits (detached threads, destructors of
// other statics) must find it. The exit handler registered here, right after it was made, drains it at
// the point where its destructor would have run.
LoggerManager& GetLoggerManager()
{
    static LoggerManager* const manager = []
    {
        auto* made = new LoggerManager();
        made->TakeThreadQueues();
        g_processZones.store(made->zones.get(), std::memory_order_release);
        g_processManager.store(made, std::memory_order_release);
        std::atexit(&DrainProcessManagerAtExit);
        return made;
    }();
    return *manager;
}

}  // namespace ozr::logging
