#include "CrashFlush.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <utility>

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "ozr/logging/ThreadSafety.h"

namespace ozr::logging
{

namespace
{

std::atomic<int> g_requestDescriptor{-1};
std::atomic<int> g_listeners{0};
std::atomic<long> g_workerThread{0};
std::atomic<std::uint64_t> g_requested{0};
std::atomic<std::uint64_t> g_completed{0};

long ThisThread() noexcept
{
    return ::syscall(SYS_gettid);
}

// A forked child must not wake its parent's worker, nor take its parent's requests: it gets a request
// descriptor of its own under the same number (the only thread of the child is the one running this, so
// nobody writes to the number meanwhile), and none of its parent's listeners.
void RenewInChild()
{
    const int descriptor = g_requestDescriptor.load(std::memory_order_relaxed);
    const int fresh = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fresh >= 0)
    {
        ::dup2(fresh, descriptor);
        ::close(fresh);
    }
    g_listeners.store(0, std::memory_order_relaxed);
    g_workerThread.store(0, std::memory_order_relaxed);
}

void MarkCompleted(std::uint64_t number) noexcept
{
    std::uint64_t completed = g_completed.load(std::memory_order_relaxed);
    while (completed < number &&
           !g_completed.compare_exchange_weak(completed, number, std::memory_order_release))
    {
    }
}

}  // namespace

namespace crash_flush
{

bool Prepare() noexcept
{
    static const bool prepared = []
    {
        const int descriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (descriptor < 0)
        {
            return false;
        }
        g_requestDescriptor.store(descriptor, std::memory_order_release);
        ::pthread_atfork(nullptr, nullptr, &RenewInChild);
        return true;
    }();
    return prepared;
}

std::uint64_t Request() noexcept
{
    const int descriptor = g_requestDescriptor.load(std::memory_order_acquire);
    if (descriptor < 0 || g_listeners.load(std::memory_order_acquire) == 0 ||
        g_workerThread.load(std::memory_order_relaxed) == ThisThread())
    {
        return 0;
    }
    const std::uint64_t number = g_requested.fetch_add(1, std::memory_order_acq_rel) + 1;
    const std::uint64_t one = 1;
    if (::write(descriptor, &one, sizeof one) != sizeof one)
    {
        return 0;
    }
    return number;
}

bool Completed(std::uint64_t number) noexcept
{
    return g_completed.load(std::memory_order_acquire) >= number;
}

void EnterWorker() noexcept
{
    g_workerThread.store(ThisThread(), std::memory_order_relaxed);
}

void LeaveWorker() noexcept
{
    long self = ThisThread();
    g_workerThread.compare_exchange_strong(self, 0, std::memory_order_relaxed);
}

}  // namespace crash_flush

// The state shared between the listener and the wait on the context, which may outlive it. The wait is
// for readability only: a listener that was stopped consumes no request meant for its successor.
class CrashFlushListener::Listen : public std::enable_shared_from_this<Listen>
{
public:
    Listen(boost::asio::io_context& ioContext, FlushAll flushAll)
        : executor(ioContext.get_executor()),
          descriptor(ioContext),
          retry(ioContext),
          flushAll(std::move(flushAll))
    {
    }

    // A descriptor of our own for the process's request descriptor, which is never closed, so that a
    // handler writing to it never reaches a descriptor number given to something else meanwhile.
    bool Open()
    {
        const int own = ::dup(g_requestDescriptor.load(std::memory_order_acquire));
        boost::system::error_code error;
        if (own < 0 || (descriptor.assign(own, error), error))
        {
            if (own >= 0)
            {
                ::close(own);
            }
            return false;
        }
        g_listeners.fetch_add(1, std::memory_order_acq_rel);
        return true;
    }

    // The wait counts as work of the context like any operation; that count is given back at once, so
    // that it never keeps a run loop alive. OnReadable takes it again.
    void Arm()
    {
        descriptor.async_wait(boost::asio::posix::descriptor_base::wait_read,
                              [self = shared_from_this()](const boost::system::error_code& error)
                              { self->OnReadable(error); });
        executor.on_work_finished();
    }

    // Called by the listener's destructor, on any thread.
    void Stop() noexcept
    {
        {
            const LockGuard<Mutex> lock(mutex);
            if (!flushAll)
            {
                return;
            }
            flushAll = nullptr;
        }
        g_listeners.fetch_sub(1, std::memory_order_acq_rel);
        try
        {
            boost::asio::post(executor, [self = shared_from_this()] { self->Close(); });
        }
        catch (...)
        {
            // Out of memory: the descriptor stays open until the context is destroyed.
        }
    }

private:
    void OnReadable(const boost::system::error_code& error)
    {
        executor.on_work_started();
        if (error || !IsListening())
        {
            return;
        }
        std::uint64_t count = 0;
        if (::read(descriptor.native_handle(), &count, sizeof count) == sizeof count)
        {
            FlushFor(g_requested.load(std::memory_order_acquire));
        }
        Arm();
    }

    bool IsListening()
    {
        const LockGuard<Mutex> lock(mutex);
        return static_cast<bool>(flushAll);
    }

    // Completes every request made up to `number` once what was queued before it is written out.
    void FlushFor(std::uint64_t number)
    {
        const std::shared_ptr<void> done(nullptr, [number](void*) { MarkCompleted(number); });
        bool handedOut = false;
        {
            const LockGuard<Mutex> lock(mutex);
            handedOut = !flushAll || flushAll(done);
        }
        if (!handedOut)
        {
            retry.expires_after(std::chrono::milliseconds(1));
            retry.async_wait(
                [self = shared_from_this(), number](const boost::system::error_code& error)
                {
                    if (!error)
                    {
                        self->FlushFor(number);
                    }
                });
        }
    }

    void Close()
    {
        boost::system::error_code ignored;
        retry.cancel();
        descriptor.close(ignored);
    }

    boost::asio::io_context::executor_type executor;
    boost::asio::posix::stream_descriptor descriptor;
    boost::asio::steady_timer retry;
    Mutex mutex;
    FlushAll flushAll OZR_GUARDED_BY(mutex);  // empty once stopped
};

CrashFlushListener::CrashFlushListener(boost::asio::io_context& ioContext, FlushAll flushAll)
{
    if (!crash_flush::Prepare())
    {
        return;
    }
    auto candidate = std::make_shared<Listen>(ioContext, std::move(flushAll));
    if (candidate->Open())
    {
        candidate->Arm();
        listen = std::move(candidate);
    }
}

CrashFlushListener::~CrashFlushListener()
{
    if (listen)
    {
        listen->Stop();
    }
}

}  // namespace ozr::logging
