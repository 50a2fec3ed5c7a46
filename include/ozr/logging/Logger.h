#pragma once

#include <atomic>
#include <exception>
#include <forward_list>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>

#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/LoggerConfigProvider.h"
#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging
{

class SettingsWatcher;

// One zone: its verbosity and its fixed list of appenders. Any thread may call any operation.
class OZR_LOGGING_API ILogger
{
public:
    virtual ~ILogger() = default;
    virtual void Log(std::shared_ptr<Message const> message) = 0;
    virtual void SetVerbosity(Severity verbosity) = 0;
    virtual Severity GetVerbosity() const = 0;
    virtual void Shutdown() = 0;
    virtual bool IsShutdown() const = 0;
};

// `Log` queues the message and returns; a delivery task on the logger's strand hands every queued message
// to every appender in list order on the worker thread. The first message after a task has taken the
// queue dispatches the next task, and messages arriving before it runs join it, so a busy logger costs
// the worker one strand hand-over per batch rather than per message. A message is delivered at once,
// nested, when `Log` is called inside one of this logger's deliveries, and the task runs at once when the
// thread running the context finds the strand idle. Each task keeps its logger alive, so tasks left
// queued on a stopped context never reach a destroyed logger. Always made with std::make_shared.
//
// Lock order: the queue lock is taken alone, for a push, a swap or a hand-over to a successor; it is
// never held while the task is dispatched or a message delivered or passed on.
//
// The shutdown flag is guarded by a shared mutex: IsShutdown shares it, SetVerbosity and Shutdown take it
// exclusively. SetVerbosity sets the verbosity in force and the one the file gets together under it,
// then writes "LogLevel" to the zone's file after releasing it, so that no log call or shutdown waits
// for the file (or another process's lock on it). GetVerbosity reads an atomic without a lock. (Log calls
// through the entry points test a copy that the logger manager publishes in the zone's entry, and ask
// GetVerbosity only when they reach the registry.)
//
// With "WatchSettings=1" in the zone's file, a "LogLevel" later changed in the file is put in force (in
// memory only) on the worker thread, for as long as the logger lives. SetVerbosity writes the level last
// given to it, never one the watcher read, so a change made here is not undone by an older file.
//
// `Flush` queues behind the deliveries already on the strand a request that delivers what is still queued
// and then flushes every appender that can.
class OZR_LOGGING_API Logger final : public ILogger,
                                     public IFlushable,
                                     public std::enable_shared_from_this<Logger>
{
public:
    Logger(boost::asio::io_context& ioContext, std::string configFilePath,
           std::forward_list<std::shared_ptr<ILogAppender>> appenders);
    ~Logger() override;

    void Log(std::shared_ptr<Message const> message) override OZR_EXCLUDES(queueMutex);
    // Log for a message whose memory was already bounded on its way here (a thread's queue of log
    // calls): it is queued whatever the queue bound. With `startDelivery` false, a batch of such
    // messages is queued first: true then asks the caller to call StartDelivery once the batch is
    // queued, which hands it to the strand in one task.
    bool LogQueuedRecord(std::shared_ptr<Message const> message, bool startDelivery = true)
        OZR_EXCLUDES(queueMutex);
    void StartDelivery();
    void SetVerbosity(Severity verbosity) override OZR_EXCLUDES(mutex);
    Severity GetVerbosity() const override;
    void Shutdown() override OZR_EXCLUDES(mutex);
    bool IsShutdown() const override OZR_EXCLUDES(mutex);
    void Flush(std::shared_ptr<void> done) override OZR_EXCLUDES(queueMutex);

    // Called after each level the settings file puts in force, on the worker, so that a copy of the
    // verbosity kept elsewhere follows it. Takes no lock of the logger's when called.
    void SetWatchedVerbosityObserver(std::function<void()> observer);

    // Called on a new logger, before its first Log, when an earlier logger of the same zone (on the same
    // context) may still have messages to deliver. From now on the predecessor passes the messages
    // logged to it on to this logger, and this logger delivers nothing (and flushes nothing) until
    // everything the predecessor had been given is written, sent or dropped. So two loggers of one zone
    // never write its file at the same time, and a thread's messages keep their order across them.
    void TakeOverFrom(Logger& predecessor) OZR_EXCLUDES(queueMutex);

private:
    // True when the delivery task must start and `startDelivery` left that to the caller.
    bool Queue(std::shared_ptr<Message const> message, bool bounded, bool startDelivery = true)
        OZR_EXCLUDES(queueMutex);
    void ForwardTo(std::shared_ptr<Logger> successor) OZR_EXCLUDES(queueMutex);
    void EndHold() OZR_EXCLUDES(queueMutex);
    void ApplyWatchedVerbosity(Severity level);
    void DispatchDelivery();
    std::exception_ptr DeliverQueued() OZR_EXCLUDES(queueMutex);
    void Deliver(std::shared_ptr<Message const> message) const;

    boost::asio::io_context::strand strand;
    const std::forward_list<std::shared_ptr<ILogAppender>> appenders;
    mutable SharedMutex mutex;
    LoggerConfigProvider configProvider;
    bool shutdown OZR_GUARDED_BY(mutex) = false;
    // In force, and given to SetVerbosity last (what the file gets); both read from the file first.
    std::atomic<Severity> verbosity{Severity::Warning};
    std::atomic<Severity> lastSetVerbosity{Severity::Warning};
    // Read and replaced only through std::atomic_load and std::atomic_store: the worker takes no lock.
    std::shared_ptr<const std::function<void()>> verbosityObserver;
    // What log calls write and what the worker writes sit on cache lines of their own, so that a log
    // call does not wait for a line that the worker is writing while it delivers.
    alignas(64) Mutex queueMutex;
    std::vector<std::shared_ptr<Message const>> queued OZR_GUARDED_BY(queueMutex);
    bool deliveryDispatched OZR_GUARDED_BY(queueMutex) = false;  // a task will take `queued`
    // Waiting for the predecessor (see TakeOverFrom), with the flushes asked for meanwhile; and the logger
    // that takes this one's messages once it has been succeeded.
    bool held OZR_GUARDED_BY(queueMutex) = false;
    std::vector<std::shared_ptr<void>> heldFlushes OZR_GUARDED_BY(queueMutex);
    std::shared_ptr<Logger> successor OZR_GUARDED_BY(queueMutex);
    alignas(64) std::vector<std::shared_ptr<Message const>> delivering;  // on the strand only
    std::unique_ptr<SettingsWatcher> settingsWatcher;  // last: it stops calling back before the rest goes
};

}  // namespace ozr::logging
