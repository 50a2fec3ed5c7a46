#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <boost/asio/io_context.hpp>

namespace ozr::logging
{

// What a fatal-signal handler shares with the worker, which writes the queue out for it. The handler's
// side is async-signal-safe: atomics, one write to an eventfd, no lock and no allocation.
namespace crash_flush
{

// Any thread, once, before the first request: makes the process's request descriptor. False when none
// could be made (requests then find no worker).
bool Prepare() noexcept;

// Async-signal-safe: asks the worker to write out everything queued, and returns the request's number;
// 0 when no worker listens or the calling thread is the worker itself (it cannot wait for itself).
std::uint64_t Request() noexcept;

// Async-signal-safe: whether request `number` has been completed.
bool Completed(std::uint64_t number) noexcept;

// On the worker thread, while it runs a context: a crash on it must not wait for itself.
void EnterWorker() noexcept;
void LeaveWorker() noexcept;

}  // namespace crash_flush

// Runs on the worker: waits on the process's request descriptor and answers each request by handing one
// shared `done` token to `flushAll`; when the last holder lets go of it, the request is complete. The
// wait does not count as work of the context, so drains and joins never wait for it. `flushAll` returns
// false when it cannot take its lock without waiting, and is then tried again a millisecond later.
//
// Made and destroyed under the owner's lock on any thread; `flushAll` is never called once the destructor
// has returned. Lock order: the listener's own mutex is held only around the call of `flushAll`, which
// may only try its locks.
class CrashFlushListener
{
public:
    using FlushAll = std::function<bool(const std::shared_ptr<void>& done)>;

    CrashFlushListener(boost::asio::io_context& ioContext, FlushAll flushAll);
    ~CrashFlushListener();
    CrashFlushListener(const CrashFlushListener&) = delete;
    CrashFlushListener& operator=(const CrashFlushListener&) = delete;

private:
    class Listen;
    std::shared_ptr<Listen> listen;
};

}  // namespace ozr::logging
