// Defines the C library's file calls in the test executable, so that they replace the C library's for every
// shared library of the process, and forwards each to the next definition (a sanitizer's interceptor or
// the C library) found with dlsym(RTLD_NEXT). A fortified build would declare these as inline wrappers.
#undef _FORTIFY_SOURCE

#include "SyscallFaults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace ozr::testing
{
namespace
{

constexpr std::size_t g_syscallCount = static_cast<std::size_t>(Syscall::Ftruncate) + 1;

struct Rule
{
    Fault fault;
    int seen = 0;
};

// What a call in scope does instead of, or on top of, the real call.
struct Decision
{
    bool fail = false;
    int error = 0;
    std::optional<std::size_t> shortCount;
    std::vector<std::function<void(const std::string& path)>> observers;  // run before the call
};

// Everything the interposed calls share. Never destroyed: calls arrive until the process ends.
struct State
{
    std::mutex mutex;
    std::string scope;
    std::vector<Rule> rules;
    std::map<int, std::string> descriptors;  // Descriptors in scope and the paths they were opened on.
    std::array<int, g_syscallCount> calls{};
    int injected = 0;
};

std::atomic<bool> g_active{false};
std::atomic<bool> g_instanceExists{false};
// Set while an observer runs on this thread: its own calls go straight to the C library.
thread_local bool t_observing = false;

State& Shared()
{
    static State* const state = new State;
    return *state;
}

bool IsUnder(const std::string& path, const std::string& scope)
{
    return !scope.empty() && path.compare(0, scope.size(), scope) == 0 &&
           (path.size() == scope.size() || path[scope.size()] == '/');
}

// The path in scope that `path` (relative to `directory` unless absolute or AT_FDCWD) names, if any.
// Called with the state locked.
std::optional<std::string> ScopedPath(const State& state, int directory, const char* path)
{
    if (path == nullptr)
    {
        return std::nullopt;
    }
    std::string full = path;
    if (path[0] != '/' && directory != AT_FDCWD)
    {
        const auto found = state.descriptors.find(directory);
        if (found == state.descriptors.end())
        {
            return std::nullopt;
        }
        full = found->second + "/" + full;
    }
    return IsUnder(full, state.scope) ? std::optional<std::string>(full) : std::nullopt;
}

// Counts the call and applies the first fault that matches it. Called with the state locked.
Decision Decide(State& state, Syscall call, const std::string& path)
{
    ++state.calls[static_cast<std::size_t>(call)];
    Decision decision;
    bool decided = false;
    for (Rule& rule : state.rules)
    {
        const Fault& fault = rule.fault;
        if (fault.call != call || (!fault.pathPart.empty() && path.find(fault.pathPart) == std::string::npos))
        {
            continue;
        }
        ++rule.seen;
        const bool applies =
            rule.seen >= fault.nth && (fault.times == 0 || rule.seen < fault.nth + fault.times);
        if (applies && fault.observer)
        {
            decision.observers.push_back(fault.observer);
        }
        else if (applies && !decided)
        {
            decided = true;
            decision.shortCount = fault.shortCount;
            decision.fail = !fault.shortCount;
            decision.error = fault.error;
            ++state.injected;
        }
    }
    return decision;
}

// Runs the observers of a decision without the state locked, so that they may make any call.
void RunObservers(const Decision& decision, const std::string& path)
{
    t_observing = true;
    for (const auto& observer : decision.observers)
    {
        observer(path);
    }
    t_observing = false;
}

// The decision for a call on `path`, or nothing when it is out of scope.
std::optional<Decision> DecideForPath(Syscall call, int directory, const char* path,
                                      std::optional<std::string>* scopedPath = nullptr)
{
    if (!g_active.load(std::memory_order_acquire) || t_observing)
    {
        return std::nullopt;
    }
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    std::optional<std::string> scoped = ScopedPath(state, directory, path);
    if (!scoped)
    {
        return std::nullopt;
    }
    const Decision decision = Decide(state, call, *scoped);
    lock.unlock();
    RunObservers(decision, *scoped);
    if (scopedPath != nullptr)
    {
        *scopedPath = std::move(scoped);
    }
    return decision;
}

// The decision for a call on descriptor `fd`, or nothing when it is out of scope. `forget` drops the
// descriptor from the scope (close).
std::optional<Decision> DecideForDescriptor(Syscall call, int fd, bool forget = false)
{
    if (!g_active.load(std::memory_order_acquire) || t_observing)
    {
        return std::nullopt;
    }
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    const auto found = state.descriptors.find(fd);
    if (found == state.descriptors.end())
    {
        return std::nullopt;
    }
    const std::string path = found->second;
    const Decision decision = Decide(state, call, path);
    if (forget)
    {
        state.descriptors.erase(found);
    }
    lock.unlock();
    RunObservers(decision, path);
    return decision;
}

void Track(int fd, std::string path)
{
    State& state = Shared();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.descriptors[fd] = std::move(path);
}

template <typename Function>
Function* Next(const char* name)
{
    void* const symbol = ::dlsym(RTLD_NEXT, name);
    if (symbol == nullptr)
    {
        ::abort();
    }
    return reinterpret_cast<Function*>(symbol);
}

int Failed(int error)
{
    errno = error;
    return -1;
}

using OpenAtFunction = int(int, const char*, int, ...);

int OpenAt(OpenAtFunction* real, int directory, const char* path, int flags, mode_t mode)
{
    std::optional<std::string> scoped;
    const std::optional<Decision> decision = DecideForPath(Syscall::Open, directory, path, &scoped);
    if (decision && decision->fail)
    {
        return Failed(decision->error);
    }
    const int fd = real(directory, path, flags, mode);
    if (fd >= 0 && scoped)
    {
        Track(fd, std::move(*scoped));
    }
    return fd;
}

mode_t ModeArgument(int flags, va_list arguments)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
}

template <typename Function, typename... Arguments>
int FaultOrCall(Syscall call, int fd, Function* real, Arguments... arguments)
{
    const std::optional<Decision> decision = DecideForDescriptor(call, fd);
    return decision && decision->fail ? Failed(decision->error) : real(fd, arguments...);
}

}  // namespace

const char* NameOf(Syscall call)
{
    static constexpr std::array<const char*, g_syscallCount> names = {"open",   "write", "fstat",    "fsync",
                                                                      "rename", "close", "ftruncate"};
    return names[static_cast<std::size_t>(call)];
}

SyscallFaults::SyscallFaults(const std::filesystem::path& scope)
{
    if (g_instanceExists.exchange(true))
    {
        throw std::logic_error("only one SyscallFaults may exist at a time");
    }
    std::string normalised = scope.lexically_normal().string();
    while (normalised.size() > 1 && normalised.back() == '/')
    {
        normalised.pop_back();
    }
    State& state = Shared();
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.scope = std::move(normalised);
    }
    g_active.store(true, std::memory_order_release);
}

SyscallFaults::~SyscallFaults()
{
    g_active.store(false, std::memory_order_release);
    Reset();
    State& state = Shared();
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.scope.clear();
        state.descriptors.clear();
    }
    g_instanceExists.store(false);
}

SyscallFaults& SyscallFaults::Add(const Fault& fault)
{
    State& state = Shared();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.rules.push_back(Rule{fault});
    return *this;
}

void SyscallFaults::Reset()
{
    State& state = Shared();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.rules.clear();
    state.calls.fill(0);
    state.injected = 0;
}

int SyscallFaults::Calls(Syscall call) const
{
    State& state = Shared();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.calls[static_cast<std::size_t>(call)];
}

int SyscallFaults::Injected() const
{
    State& state = Shared();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.injected;
}

}  // namespace ozr::testing

using ozr::testing::Decision;
using ozr::testing::Syscall;

extern "C"
{
    int open(const char* path, int flags, ...)
    {
        va_list arguments;
        va_start(arguments, flags);
        const mode_t mode = ozr::testing::ModeArgument(flags, arguments);
        va_end(arguments);
        static auto* const real = ozr::testing::Next<ozr::testing::OpenAtFunction>("openat");
        return ozr::testing::OpenAt(real, AT_FDCWD, path, flags, mode);
    }

    int open64(const char* path, int flags, ...)
    {
        va_list arguments;
        va_start(arguments, flags);
        const mode_t mode = ozr::testing::ModeArgument(flags, arguments);
        va_end(arguments);
        static auto* const real = ozr::testing::Next<ozr::testing::OpenAtFunction>("openat64");
        return ozr::testing::OpenAt(real, AT_FDCWD, path, flags, mode);
    }

    int openat(int directory, const char* path, int flags, ...)
    {
        va_list arguments;
        va_start(arguments, flags);
        const mode_t mode = ozr::testing::ModeArgument(flags, arguments);
        va_end(arguments);
        static auto* const real = ozr::testing::Next<ozr::testing::OpenAtFunction>("openat");
        return ozr::testing::OpenAt(real, directory, path, flags, mode);
    }

    int openat64(int directory, const char* path, int flags, ...)
    {
        va_list arguments;
        va_start(arguments, flags);
        const mode_t mode = ozr::testing::ModeArgument(flags, arguments);
        va_end(arguments);
        static auto* const real = ozr::testing::Next<ozr::testing::OpenAtFunction>("openat64");
        return ozr::testing::OpenAt(real, directory, path, flags, mode);
    }

    ssize_t write(int fd, const void* buffer, size_t count)
    {
        static auto* const real = ozr::testing::Next<ssize_t(int, const void*, size_t)>("write");
        const std::optional<Decision> decision = ozr::testing::DecideForDescriptor(Syscall::Write, fd);
        if (decision && decision->fail)
        {
            return ozr::testing::Failed(decision->error);
        }
        if (decision && decision->shortCount && *decision->shortCount < count)
        {
            return *decision->shortCount == 0 ? 0 : real(fd, buffer, *decision->shortCount);
        }
        return real(fd, buffer, count);
    }

    int fstat(int fd, struct stat* status) noexcept
    {
        static auto* const real = ozr::testing::Next<int(int, struct stat*)>("fstat");
        return ozr::testing::FaultOrCall(Syscall::Fstat, fd, real, status);
    }

    int fstat64(int fd, struct stat64* status) noexcept
    {
        static auto* const real = ozr::testing::Next<int(int, struct stat64*)>("fstat64");
        return ozr::testing::FaultOrCall(Syscall::Fstat, fd, real, status);
    }

    int fsync(int fd)
    {
        static auto* const real = ozr::testing::Next<int(int)>("fsync");
        return ozr::testing::FaultOrCall(Syscall::Fsync, fd, real);
    }

    int ftruncate(int fd, off_t length) noexcept
    {
        static auto* const real = ozr::testing::Next<int(int, off_t)>("ftruncate");
        return ozr::testing::FaultOrCall(Syscall::Ftruncate, fd, real, length);
    }

    int ftruncate64(int fd, off64_t length) noexcept
    {
        static auto* const real = ozr::testing::Next<int(int, off64_t)>("ftruncate64");
        return ozr::testing::FaultOrCall(Syscall::Ftruncate, fd, real, length);
    }

    // A failing close still releases the descriptor, as Linux's does.
    int close(int fd)
    {
        static auto* const real = ozr::testing::Next<int(int)>("close");
        const std::optional<Decision> decision = ozr::testing::DecideForDescriptor(Syscall::Close, fd, true);
        const int result = real(fd);
        return decision && decision->fail ? ozr::testing::Failed(decision->error) : result;
    }

    int renameat(int oldDirectory, const char* oldPath, int newDirectory, const char* newPath) noexcept
    {
        static auto* const real = ozr::testing::Next<int(int, const char*, int, const char*)>("renameat");
        std::optional<Decision> decision =
            ozr::testing::DecideForPath(Syscall::Rename, oldDirectory, oldPath);
        if (!decision)
        {
            decision = ozr::testing::DecideForPath(Syscall::Rename, newDirectory, newPath);
        }
        return decision && decision->fail ? ozr::testing::Failed(decision->error)
                                          : real(oldDirectory, oldPath, newDirectory, newPath);
    }

    int rename(const char* oldPath, const char* newPath) noexcept
    {
        return renameat(AT_FDCWD, oldPath, AT_FDCWD, newPath);
    }

}  // extern "C"
