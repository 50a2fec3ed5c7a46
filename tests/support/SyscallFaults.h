#pragma once

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace ozr::testing
{

// The system calls that a test can make fail. A test executable that links ozr_syscall_faults defines
// these functions itself (open, open64, openat, openat64, write, fstat, fstat64, fsync, rename, renameat,
// close, ftruncate, ftruncate64), so they replace the C library's for the libraries under test as well;
// each forwards to the real one unless a scripted fault applies.
enum class Syscall
{
    Open,  // open, open64, openat, openat64
    Write,
    Fstat,
    Fsync,
    Rename,  // rename, renameat
    Close,
    Ftruncate
};

const char* NameOf(Syscall call);

// One scripted fault: the `nth` matching call of `call` (counted from 1) and the `times - 1` matching calls
// after it (times 0: every one from the nth on) fail with `error`, or, with `shortCount`, a write writes
// at most that many bytes and returns the count it wrote.
struct Fault
{
    static Fault Failing(Syscall call, int nth, int error)
    {
        Fault fault;
        fault.call = call;
        fault.nth = nth;
        fault.error = error;
        return fault;
    }
    // Not a fault: the `nth` matching call first shows `observer` the path it is made on, then goes ahead
    // (or fails, when a fault matches it too). The observer runs inside the call, on its thread; the calls
    // it makes itself are neither counted nor faulted, so it can act as another process would.
    static Fault Observing(Syscall call, int nth, std::function<void(const std::string& path)> observer)
    {
        Fault fault;
        fault.call = call;
        fault.nth = nth;
        fault.observer = std::move(observer);
        return fault;
    }
    static Fault ShortWrite(int nth, std::size_t bytes)
    {
        Fault fault;
        fault.call = Syscall::Write;
        fault.nth = nth;
        fault.shortCount = bytes;
        return fault;
    }
    Fault& Times(int count)
    {
        times = count;
        return *this;
    }
    Fault& OnPathsContaining(std::string part)
    {
        pathPart = std::move(part);
        return *this;
    }

    Syscall call = Syscall::Write;
    int nth = 1;
    int error = EIO;
    std::optional<std::size_t> shortCount;
    int times = 1;
    std::string pathPart;  // when not empty, only calls on paths containing it match
    std::function<void(const std::string& path)> observer;
};

// Scripts faults for calls on paths under `scope` and on descriptors opened on such paths; every other
// call (the test framework's output, other files) goes straight to the C library. At most one instance
// may exist at a time. The calls may come from any thread; set faults up before starting the code under
// test. A descriptor is in scope when open or openat returned it for a path in scope (a relative openat
// path when its directory descriptor is in scope), until it is closed.
class SyscallFaults
{
public:
    explicit SyscallFaults(const std::filesystem::path& scope);
    ~SyscallFaults();
    SyscallFaults(const SyscallFaults&) = delete;
    SyscallFaults& operator=(const SyscallFaults&) = delete;

    SyscallFaults& Add(const Fault& fault);
    // Forgets the faults and the counts, keeping the scope.
    void Reset();

    // Calls of `call` in scope so far, faulted or not.
    int Calls(Syscall call) const;
    // Calls that a fault changed so far.
    int Injected() const;
};

}  // namespace ozr::testing
