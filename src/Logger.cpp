#include "ozr/logging/Logger.h"

#include <mutex>
#include <utility>

#include <boost/asio/dispatch.hpp>

#include "SettingsWatcher.h"

namespace ozr::logging
{

Logger::Logger(boost::asio::io_context& ioContext, std::string configFilePath,
               std::forward_list<std::shared_ptr<ILogAppender>> appenderList)
    : strand(ioContext),
      appenders(std::move(appenderList)),
      configProvider(std::move(configFilePath)),
      config(configProvider.GetConfig()),
      verbosity(config.verbosity),
      lastSetVerbosity(config.verbosity)
{
    if (config.watchSettings)
    {
        settingsWatcher =
            std::make_unique<SettingsWatcher>(ioContext, configProvider.GetConfigFilePath(),
                                              [this](Severity level) { ApplyWatchedVerbosity(level); });
    }
}

Logger::~Logger() = default;

void Logger::Log(std::shared_ptr<Message const> message)
{
    // The task keeps the logger alive: it may wait on a context that no worker runs, long after the
    // manager's registry let go of the logger. Runs inline when already on this strand (or on an idle
    // strand of the thread running the context); queued otherwise.
    boost::asio::dispatch(strand, [self = shared_from_this(), message = std::move(message)]() mutable
                          { self->Deliver(std::move(message)); });
}

void Logger::SetVerbosity(Severity newVerbosity)
{
    {
        std::unique_lock<std::shared_mutex> lock(mutex);
        // Memory first: the value stays in force even when the write below throws.
        config.verbosity = newVerbosity;
        verbosity.store(newVerbosity, std::memory_order_relaxed);
        lastSetVerbosity.store(newVerbosity, std::memory_order_relaxed);
    }
    // Written without the logger's lock, since the write may wait for another process's lock on the file.
    // It writes the value in force when its turn comes, so overlapping changes never leave the file behind.
    configProvider.SetConfig(
        [this] {
            return LoggerConfig{lastSetVerbosity.load(std::memory_order_relaxed), config.logQueue};
        });
}

void Logger::SetWatchedVerbosityObserver(std::function<void()> observer)
{
    std::atomic_store(&verbosityObserver, std::make_shared<const std::function<void()>>(std::move(observer)));
}

// On the worker (and once in the constructor).
void Logger::ApplyWatchedVerbosity(Severity level)
{
    verbosity.store(level, std::memory_order_relaxed);
    const auto observer = std::atomic_load(&verbosityObserver);
    if (observer && *observer)
    {
        (*observer)();
    }
}

Severity Logger::GetVerbosity() const
{
    return verbosity.load(std::memory_order_relaxed);
}

void Logger::Shutdown()
{
    std::unique_lock<std::shared_mutex> lock(mutex);
    shutdown = true;
}

bool Logger::IsShutdown() const
{
    std::shared_lock<std::shared_mutex> lock(mutex);
    return shutdown;
}

void Logger::Flush(std::shared_ptr<void> done)
{
    boost::asio::dispatch(strand,
                          [self = shared_from_this(), done = std::move(done)]
                          {
                              for (const auto& appender : self->appenders)
                              {
                                  if (auto* flushable = dynamic_cast<IFlushable*>(appender.get()))
                                  {
                                      flushable->Flush(done);
                                  }
                              }
                          });
}

// The list never changes after construction, so it is read without a lock. The last appender gets the
// task's own reference to the message rather than a copy. An appender that throws ends this message's
// delivery; the exception leaves the task.
void Logger::Deliver(std::shared_ptr<Message const> message) const
{
    for (auto appender = appenders.begin(); appender != appenders.end();)
    {
        ILogAppender& current = **appender;
        if (++appender == appenders.end())
        {
            current.Log(std::move(message));
        }
        else
        {
            current.Log(message);
        }
    }
}

}  // namespace ozr::logging
