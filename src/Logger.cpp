#include "ozr/logging/Logger.h"

#include <exception>
#include <mutex>
#include <utility>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

#include "LoggingCounters.h"
#include "QueueBudget.h"
#include "SettingsWatcher.h"

namespace ozr::logging
{

namespace
{

// Queue memory kept between batches; what a burst grew beyond it is released after delivery.
constexpr std::size_t RetainedQueueCapacity = 4096;

bool ChargeQueued(const Message& message, bool always)
{
    if (always)
    {
        g_queueBudget.Charge(QueueBudget::ChargeOf(message));
        return true;
    }
    return g_queueBudget.TryCharge(message);
}

}  // namespace

Logger::Logger(boost::asio::io_context& ioContext, std::string configFilePath,
               std::forward_list<std::shared_ptr<ILogAppender>> appenderList)
    : strand(ioContext), appenders(std::move(appenderList)), configProvider(std::move(configFilePath))
{
    const LoggerConfig config = configProvider.GetConfig();
    verbosity.store(config.verbosity, std::memory_order_relaxed);
    lastSetVerbosity.store(config.verbosity, std::memory_order_relaxed);
    if (config.watchSettings)
    {
        settingsWatcher =
            std::make_unique<SettingsWatcher>(ioContext, configProvider.GetConfigFilePath(),
                                              [this](Severity level) { ApplyWatchedVerbosity(level); });
    }
}

// What was never delivered no longer waits.
Logger::~Logger()
{
    for (const auto& message : queued)
    {
        g_queueBudget.GiveBack(*message);
    }
}

// Inside one of this logger's own deliveries the message is delivered at once, nested, before the outer
// delivery goes on. Otherwise it joins the queue; the first message after a task took the queue
// dispatches the next task.
void Logger::Log(std::shared_ptr<Message const> message)
{
    Queue(std::move(message), true);
}

bool Logger::LogQueuedRecord(std::shared_ptr<Message const> message, bool startDelivery)
{
    return Queue(std::move(message), false, startDelivery);
}

void Logger::StartDelivery()
{
    DispatchDelivery();
}

bool Logger::Queue(std::shared_ptr<Message const> message, bool bounded, bool startDelivery)
{
    if (strand.running_in_this_thread())
    {
        Deliver(std::move(message));
        return false;
    }
    bool dispatchDelivery = false;
    bool dropped = false;
    std::shared_ptr<Logger> next;
    {
        const LockGuard<Mutex> lock(queueMutex);
        if (successor)
        {
            next = successor;
        }
        else if (!ChargeQueued(*message, !bounded))
        {
            dropped = true;
        }
        else
        {
            queued.push_back(std::move(message));
            dispatchDelivery = !held && !std::exchange(deliveryDispatched, true);
        }
    }
    if (next)
    {
        next->Queue(std::move(message), bounded);
    }
    else if (dropped)
    {
        AddTo(g_loggingCounters.queueDropped);
    }
    else if (dispatchDelivery && startDelivery)
    {
        DispatchDelivery();
    }
    return dispatchDelivery && !startDelivery;
}

// The predecessor's flush covers everything it was given, since nothing reaches its queue once it
// forwards. The request is queued rather than run on the calling thread, which may hold the registry
// lock. The token holds this logger until the flush is done: its held messages must not go with it.
void Logger::TakeOverFrom(Logger& predecessor)
{
    {
        const LockGuard<Mutex> lock(queueMutex);
        held = true;
    }
    predecessor.ForwardTo(shared_from_this());
    std::shared_ptr<void> done(nullptr,
                               [self = shared_from_this()](void*)
                               {
                                   try
                                   {
                                       boost::asio::post(self->strand, [self] { self->EndHold(); });
                                   }
                                   catch (...)
                                   {
                                   }
                               });
    boost::asio::post(predecessor.strand, [previous = predecessor.shared_from_this(), done = std::move(done)]
                      { previous->Flush(done); });
}

void Logger::ForwardTo(std::shared_ptr<Logger> next)
{
    const LockGuard<Mutex> lock(queueMutex);
    successor = std::move(next);
}

// On the strand, once the predecessor has delivered everything: what waited is delivered, then the
// flushes asked for meanwhile follow it.
void Logger::EndHold()
{
    std::vector<std::shared_ptr<void>> flushes;
    bool dispatchDelivery = false;
    {
        const LockGuard<Mutex> lock(queueMutex);
        held = false;
        flushes.swap(heldFlushes);
        dispatchDelivery = !queued.empty() && !std::exchange(deliveryDispatched, true);
    }
    if (dispatchDelivery)
    {
        DispatchDelivery();
    }
    for (auto& done : flushes)
    {
        Flush(std::move(done));
    }
}

// The task keeps the logger alive: it may wait on a context that no worker runs, long after the manager's
// registry let go of the logger. Runs inline on an idle strand of the thread running the context; queued
// otherwise. The first exception an appender threw leaves the task once the whole batch is delivered.
void Logger::DispatchDelivery()
{
    boost::asio::dispatch(strand,
                          [self = shared_from_this()]
                          {
                              if (const std::exception_ptr failure = self->DeliverQueued())
                              {
                                  std::rethrow_exception(failure);
                              }
                          });
}

void Logger::SetVerbosity(Severity newVerbosity)
{
    {
        const LockGuard<SharedMutex> lock(mutex);
        // Memory first: the value stays in force even when the write below throws.
        verbosity.store(newVerbosity, std::memory_order_relaxed);
        lastSetVerbosity.store(newVerbosity, std::memory_order_relaxed);
    }
    // Written without the logger's lock, since the write may wait for another process's lock on the file.
    // It writes the value in force when its turn comes, so overlapping changes never leave the file behind.
    configProvider.SetLogLevel([this] { return lastSetVerbosity.load(std::memory_order_relaxed); });
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
    const LockGuard<SharedMutex> lock(mutex);
    shutdown = true;
}

bool Logger::IsShutdown() const
{
    const SharedLockGuard lock(mutex);
    return shutdown;
}

void Logger::Flush(std::shared_ptr<void> done)
{
    {
        const LockGuard<Mutex> lock(queueMutex);
        if (held)
        {
            heldFlushes.push_back(std::move(done));
            return;
        }
    }
    boost::asio::dispatch(strand,
                          [self = shared_from_this(), done = std::move(done)]
                          {
                              self->DeliverQueued();
                              for (const auto& appender : self->appenders)
                              {
                                  if (auto* flushable = dynamic_cast<IFlushable*>(appender.get()))
                                  {
                                      flushable->Flush(done);
                                  }
                              }
                          });
}

// On the strand: takes every queued message and delivers them in order, each released as soon as its
// delivery ends. An appender that throws ends that message's delivery only; the first exception is
// returned. The two queues trade places, so their memory is reused, unless a burst grew it large.
std::exception_ptr Logger::DeliverQueued()
{
    {
        const LockGuard<Mutex> lock(queueMutex);
        std::swap(queued, delivering);
        deliveryDispatched = false;
    }
    std::exception_ptr firstFailure;
    for (auto& message : delivering)
    {
        g_queueBudget.GiveBack(*message);
        try
        {
            Deliver(std::move(message));
        }
        catch (...)
        {
            if (!firstFailure)
            {
                firstFailure = std::current_exception();
            }
        }
    }
    delivering.clear();
    if (delivering.capacity() > RetainedQueueCapacity)
    {
        delivering.shrink_to_fit();
    }
    return firstFailure;
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
