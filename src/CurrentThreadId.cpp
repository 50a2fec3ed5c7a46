#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>

#include "ozr/logging/Log.h"

namespace ozr::logging
{

namespace
{

// 0: not read yet. Kernel thread ids are never 0. Initial-exec, like the thread state: read without a
// call on every log call.
__thread unsigned long t_threadId __attribute__((tls_model("initial-exec"))) = 0;
std::once_flag g_forkHandlerRegistered;

// Runs in the child on the thread that called fork(), the child's only thread: its cached id is the
// parent thread's, so it is read again at the next call.
void ForgetThreadIdInChild()
{
    t_threadId = 0;
}

}  // namespace

unsigned long CurrentThreadId() noexcept
{
    if (t_threadId == 0)
    {
        // Registered before any thread caches its id, so no fork can leave a stale id behind.
        std::call_once(g_forkHandlerRegistered,
                       [] { pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild); });
        t_threadId = static_cast<unsigned long>(::syscall(SYS_gettid));
    }
    return t_threadId;
}

}  // namespace ozr::logging
