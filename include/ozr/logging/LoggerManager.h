#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/ConfigLocator.h"
#include "ozr/logging/Logger.h"
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
    // Never empty; a missing logger is made (reading its settings) on first request.
    virtual std::shared_ptr<ILogger> GetLogger(char const* zone) = 0;
};

// Owns the I/O context and its single worker thread, the application information, the locator, the
// appender manager and the registry. The registry lock is held across every registry operation,
// including making loggers and joining the worker; the worker never takes it.
//
// Destroying the manager while its worker runs (the process ends without shutting its zones down) first
// lets the worker finish everything queued, then joins it.
//
// Fork: the registry lock is held across fork(), so a child never inherits it locked. A child has none of
// the parent's threads, and the parent's worker may have held the I/O context's internal locks at the
// moment of the fork, so the child never touches the parent's context, worker, loggers or appenders: at
// its first registry call (or at exit) it abandons them, unreleased, and starts over as a manager that was
// just made. The child's messages therefore go nowhere until the child calls InitialiseLogging itself,
// which gives it a worker and fresh appenders of its own; a child that only logs and exits (or execs)
// drops its messages and never waits for the parent's worker. Because the handler takes the registry
// lock, a fork() made while another thread shuts the last zone down waits for that shutdown to finish.
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
    // empty. The verbosity is read under the registry lock, so a rejected call copies no reference.
    std::shared_ptr<ILogger> GetLoggerAccepting(char const* zone, Severity severity);

    // Starts the worker and loads the global appenders; called with the registry lock held.
    void Initialise();
    // Drains and joins the worker, empties the registry, drops the global appenders; called with the
    // registry lock held, never on the worker.
    void Shutdown();

private:
    using WorkGuard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;
    // std::less<> lets a log call look its zone up by string_view, without building a key.
    using Registry = std::map<std::optional<std::string>, std::shared_ptr<ILogger>, std::less<>>;

    const std::shared_ptr<ILogger>& FindOrMakeLogger(char const* zone);
    void DrainAndJoinWorker();
    void LeaveParentStateIfForked();
    void AbandonParentState();

    static void LockAllForFork();
    static void UnlockAllInParent();
    static void UnlockAllInChild();

    // Held through a pointer so that a forked child can abandon the parent's context without touching it.
    std::unique_ptr<boost::asio::io_context> ioContext;
    std::unique_ptr<WorkGuard> workGuard;
    std::deque<std::thread> threads;
    std::unique_ptr<IApplicationInfoProvider> applicationInfoProvider;
    std::unique_ptr<IConfigLocator> configLocator;
    std::unique_ptr<appender::IManager> appenderManager;
    std::recursive_mutex mutex;
    Registry loggers;
    bool forkedFromParent = false;  // set in a forked child; guarded by the registry lock
};

// The process-wide manager, made on first use and destroyed at process exit.
OZR_LOGGING_API LoggerManager& GetLoggerManager();

}  // namespace ozr::logging
