#include "ozr/logging/LoggerManager.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <string_view>
#include <vector>

namespace ozr::logging
{

namespace
{

// A null and an empty zone both select the default zone. A view, so that looking a zone up allocates
// nothing.
std::optional<std::string_view> MakeZoneKey(char const* zone)
{
    if (zone == nullptr || *zone == '\0')
    {
        return std::nullopt;
    }
    return std::string_view(zone);
}

// The worker's body. An exception escaping a task (an appender failing) costs that task only: the worker
// goes back into the run loop unless the context was stopped.
void RunIOContext(boost::asio::io_context& ioContext)
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
            if (ioContext.stopped())
            {
                return;
            }
        }
    }
}

// Every live manager, so that the fork handlers, registered once per process, reach their registry locks.
// Lock order: g_managersMutex, then each manager's registry lock.
std::mutex g_managersMutex;
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

LoggerManager::LoggerManager()
    : ioContext(std::make_unique<boost::asio::io_context>()),
      applicationInfoProvider(std::make_unique<ApplicationInfoProvider>()),
      configLocator(std::make_unique<ConfigLocator>(*applicationInfoProvider)),
      appenderManager(
          std::make_unique<appender::Manager>(*ioContext, *applicationInfoProvider, *configLocator))
{
    std::call_once(g_forkHandlersRegistered,
                   [] { pthread_atfork(&LockAllForFork, &UnlockAllInParent, &UnlockAllInChild); });
    std::lock_guard<std::mutex> lock(g_managersMutex);
    g_managers.push_back(this);
}

LoggerManager::~LoggerManager()
{
    {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (forkedFromParent)
        {
            AbandonParentState();
        }
        else
        {
            DrainAndJoinWorker();
        }
    }
    std::lock_guard<std::mutex> lock(g_managersMutex);
    g_managers.erase(std::find(g_managers.begin(), g_managers.end(), this));
}

void LoggerManager::SetConfigDirectoryPath(std::filesystem::path directory)
{
    configLocator->SetConfigDirectoryPath(std::move(directory));
}

void LoggerManager::InitialiseLogger(char const* zone)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    LeaveParentStateIfForked();
    if (threads.empty())
    {
        Initialise();
    }
    FindOrMakeLogger(zone);
}

void LoggerManager::ShutdownLogger(char const* zone)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    LeaveParentStateIfForked();
    const auto found = loggers.find(MakeZoneKey(zone));
    if (found == loggers.end())
    {
        return;
    }
    found->second->Shutdown();
    for (const auto& entry : loggers)
    {
        if (!entry.second->IsShutdown())
        {
            return;
        }
    }
    Shutdown();
}

std::shared_ptr<ILogger> LoggerManager::GetLogger(char const* zone)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    LeaveParentStateIfForked();
    return FindOrMakeLogger(zone);
}

std::shared_ptr<ILogger> LoggerManager::GetLoggerAccepting(char const* zone, Severity severity)
{
    std::lock_guard<std::recursive_mutex> lock(mutex);
    LeaveParentStateIfForked();
    const std::shared_ptr<ILogger>& logger = FindOrMakeLogger(zone);
    if (logger->GetVerbosity() < severity)
    {
        return nullptr;
    }
    return logger;
}

// A reference into the registry: valid while the registry lock is held.
const std::shared_ptr<ILogger>& LoggerManager::FindOrMakeLogger(char const* zone)
{
    const auto key = MakeZoneKey(zone);
    const auto found = loggers.find(key);
    if (found != loggers.end())
    {
        return found->second;
    }
    std::string configFilePath = configLocator->GetZoneConfigFilePath(zone);
    auto appenders = appenderManager->GetAppenders(zone);
    auto logger = std::make_shared<Logger>(*ioContext, std::move(configFilePath), std::move(appenders));
    return loggers.emplace(key, std::move(logger)).first->second;
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
    appenderManager->LoadGlobalAppenders();
}

void LoggerManager::Shutdown()
{
    DrainAndJoinWorker();
    ioContext->stop();
    loggers.clear();
    appenderManager->ShutdownGlobalAppenders();
}

// Without the guard the worker leaves its run loop once every queued task and every outstanding
// asynchronous operation has completed.
void LoggerManager::DrainAndJoinWorker()
{
    workGuard.reset();
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

// In a forked child, start over with a fresh context once the parent's state has been set aside.
void LoggerManager::LeaveParentStateIfForked()
{
    if (!forkedFromParent)
    {
        return;
    }
    AbandonParentState();
    ioContext = std::make_unique<boost::asio::io_context>();
    appenderManager =
        std::make_unique<appender::Manager>(*ioContext, *applicationInfoProvider, *configLocator);
}

// Sets the parent's context, worker handle, loggers and appenders aside without releasing any of them.
void LoggerManager::AbandonParentState()
{
    auto& abandoned = AbandonedParentState();
    abandoned.push_back(std::make_shared<Registry>(std::move(loggers)));
    abandoned.push_back(std::shared_ptr<void>(std::move(appenderManager)));
    abandoned.push_back(std::make_shared<std::deque<std::thread>>(std::move(threads)));
    abandoned.push_back(std::shared_ptr<void>(std::move(workGuard)));
    abandoned.push_back(std::shared_ptr<void>(std::move(ioContext)));
    loggers.clear();
    threads.clear();
    forkedFromParent = false;
}

void LoggerManager::LockAllForFork()
{
    g_managersMutex.lock();
    for (LoggerManager* manager : g_managers)
    {
        manager->mutex.lock();
    }
}

void LoggerManager::UnlockAllInParent()
{
    for (LoggerManager* manager : g_managers)
    {
        manager->mutex.unlock();
    }
    g_managersMutex.unlock();
}

// The child's only thread has a new thread id, so a recursive mutex locked before the fork refuses to be
// unlocked by it; the locks are made anew instead (nothing else can hold them in the child).
void LoggerManager::UnlockAllInChild()
{
    for (LoggerManager* manager : g_managers)
    {
        new (&manager->mutex) std::recursive_mutex();
        manager->forkedFromParent = true;
    }
    new (&g_managersMutex) std::mutex();
}

LoggerManager& GetLoggerManager()
{
    static LoggerManager loggerManager;
    return loggerManager;
}

}  // namespace ozr::logging
