#pragma once

#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "CrashFlush.h"
#include "RegisteredLogger.h"
#include "ozr/logging/LoggerManager.h"

namespace ozr::logging
{

// A worker taken out of the manager to be drained without the registry lock.
struct LoggerManager::DetachedWorker
{
    // Lets the worker finish every queued task and outstanding operation, then joins it.
    void Drain();

    std::unique_ptr<WorkGuard> guard;
    std::deque<std::thread> threads;
    // The registry's references, released with this object after the drain: ShutdownLogger has taken the
    // registry lock again by then, the manager's destructor has not.
    std::vector<std::shared_ptr<RegisteredLogger>> loggers;
    // Answers the crash handler's requests while the worker drains.
    std::unique_ptr<CrashFlushListener> crashFlushListener;
};

}  // namespace ozr::logging
