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
class OZR_LOGGING_API LoggerManager final : public ILoggerManager
{
public:
    LoggerManager();
    ~LoggerManager() override;

    void SetConfigDirectoryPath(std::filesystem::path directory) override;
    void InitialiseLogger(char const* zone) override;
    void ShutdownLogger(char const* zone) override;
    std::shared_ptr<ILogger> GetLogger(char const* zone) override;

    // Starts the worker and loads the global appenders; called with the registry lock held.
    void Initialise();
    // Drains and joins the worker, empties the registry, drops the global appenders; called with the
    // registry lock held, never on the worker.
    void Shutdown();

private:
    using WorkGuard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;

    boost::asio::io_context ioContext;
    std::unique_ptr<WorkGuard> workGuard;
    std::deque<std::thread> threads;
    std::unique_ptr<IApplicationInfoProvider> applicationInfoProvider;
    std::unique_ptr<IConfigLocator> configLocator;
    std::unique_ptr<appender::IManager> appenderManager;
    std::recursive_mutex mutex;
    std::map<std::optional<std::string>, std::shared_ptr<ILogger>> loggers;
};

// The process-wide manager, made on first use and destroyed at process exit.
OZR_LOGGING_API ILoggerManager& GetLoggerManager();

}  // namespace ozr::logging
