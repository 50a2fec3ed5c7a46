#pragma once

// Which lock guards which data, and which functions need, take or must not hold which lock, written so
// that clang's thread-safety analysis (-Wthread-safety) checks it at compile time. The attributes expand
// to nothing for other compilers. The standard library's mutexes carry no such attributes, so the
// library's own locks are these thin wrappers around them, with scoped guards the analysis understands.

#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define OZR_THREAD_ANNOTATION(attribute) __attribute__((attribute))
#else
#define OZR_THREAD_ANNOTATION(attribute)
#endif

#define OZR_CAPABILITY(name) OZR_THREAD_ANNOTATION(capability(name))
#define OZR_SCOPED_CAPABILITY OZR_THREAD_ANNOTATION(scoped_lockable)
#define OZR_GUARDED_BY(lock) OZR_THREAD_ANNOTATION(guarded_by(lock))
#define OZR_PT_GUARDED_BY(lock) OZR_THREAD_ANNOTATION(pt_guarded_by(lock))
#define OZR_ACQUIRED_AFTER(...) OZR_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define OZR_REQUIRES(...) OZR_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define OZR_REQUIRES_SHARED(...) OZR_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define OZR_ACQUIRE(...) OZR_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define OZR_ACQUIRE_SHARED(...) OZR_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define OZR_RELEASE(...) OZR_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define OZR_RELEASE_SHARED(...) OZR_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define OZR_TRY_ACQUIRE(...) OZR_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define OZR_EXCLUDES(...) OZR_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define OZR_ASSERT_CAPABILITY(lock) OZR_THREAD_ANNOTATION(assert_capability(lock))
#define OZR_NO_THREAD_SAFETY_ANALYSIS OZR_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace ozr::logging
{

// std::mutex, known to the analysis.
class OZR_CAPABILITY("mutex") Mutex
{
public:
    void lock() OZR_ACQUIRE() { mutex.lock(); }
    void unlock() OZR_RELEASE() { mutex.unlock(); }
    bool try_lock() OZR_TRY_ACQUIRE(true) { return mutex.try_lock(); }
    // Tells the analysis, in a function that runs with the lock held but cannot say so in its declaration
    // (the lock's owner is not complete there), that it is held. Checks nothing at run time.
    void AssertHeld() const OZR_ASSERT_CAPABILITY(this) {}

private:
    std::mutex mutex;
};

// std::recursive_mutex, known to the analysis (which does not model re-entry: a function that may run
// with the lock held and take it again says so by REQUIRES or by taking it through a guard only once).
class OZR_CAPABILITY("mutex") RecursiveMutex
{
public:
    void lock() OZR_ACQUIRE() { mutex.lock(); }
    void unlock() OZR_RELEASE() { mutex.unlock(); }
    bool try_lock() OZR_TRY_ACQUIRE(true) { return mutex.try_lock(); }

private:
    std::recursive_mutex mutex;
};

// std::shared_mutex, known to the analysis.
class OZR_CAPABILITY("shared mutex") SharedMutex
{
public:
    void lock() OZR_ACQUIRE() { mutex.lock(); }
    void unlock() OZR_RELEASE() { mutex.unlock(); }
    void lock_shared() OZR_ACQUIRE_SHARED() { mutex.lock_shared(); }
    void unlock_shared() OZR_RELEASE_SHARED() { mutex.unlock_shared(); }

private:
    std::shared_mutex mutex;
};

// Holds `Lockable` exclusively for its scope; Unlock and Lock let a scope give the lock up for a while.
template <typename Lockable>
class OZR_SCOPED_CAPABILITY LockGuard
{
public:
    explicit LockGuard(Lockable& lockable) OZR_ACQUIRE(lockable) : lockable(lockable) { lockable.lock(); }
    // Takes over a lock the caller holds already (after a successful try_lock).
    LockGuard(Lockable& lockable, std::adopt_lock_t) OZR_REQUIRES(lockable) : lockable(lockable) {}
    ~LockGuard() OZR_RELEASE()
    {
        if (held)
        {
            lockable.unlock();
        }
    }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

    void Unlock() OZR_RELEASE()
    {
        lockable.unlock();
        held = false;
    }
    void Lock() OZR_ACQUIRE()
    {
        lockable.lock();
        held = true;
    }

private:
    Lockable& lockable;
    bool held = true;
};

// Holds a SharedMutex shared for its scope.
class OZR_SCOPED_CAPABILITY SharedLockGuard
{
public:
    explicit SharedLockGuard(SharedMutex& mutex) OZR_ACQUIRE_SHARED(mutex) : mutex(mutex)
    {
        mutex.lock_shared();
    }
    ~SharedLockGuard() OZR_RELEASE() { mutex.unlock_shared(); }
    SharedLockGuard(const SharedLockGuard&) = delete;
    SharedLockGuard& operator=(const SharedLockGuard&) = delete;

private:
    SharedMutex& mutex;
};

}  // namespace ozr::logging
