#pragma once

// A write that would take a file past the process's size limit (RLIMIT_FSIZE) raises SIGXFSZ on the
// writing thread, and its default action ends the process. While the thread blocks the signal, the write
// fails with EFBIG instead, and the writer drops the line as any other it cannot write.

#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace ozr::logging
{

inline sigset_t FileSizeSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGXFSZ);
    return set;
}

// For the worker's whole life: its log files and a standard output sent to a file. A signal raised on it
// stays pending and is never delivered, since the thread never unblocks it; a pending signal does not
// add up, and a child forked from any thread starts with none.
inline void BlockFileSizeSignal()
{
    const sigset_t set = FileSizeSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// For a write on any other thread (the exit drain, an application's own context): blocks the signal while
// it lives; then takes the signal that a write past the limit raised meanwhile and restores the thread's
// mask. A thread that blocks the signal already is left as it is.
class FileSizeSignalBlock
{
public:
    FileSizeSignalBlock() : set(FileSizeSignalSet())
    {
        blockedHere =
            pthread_sigmask(SIG_BLOCK, &set, &previous) == 0 && sigismember(&previous, SIGXFSZ) == 0;
    }
    ~FileSizeSignalBlock()
    {
        if (!blockedHere)
        {
            return;
        }
        if (limitReached)
        {
            const timespec noWait{0, 0};
            sigtimedwait(&set, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    FileSizeSignalBlock(const FileSizeSignalBlock&) = delete;
    FileSizeSignalBlock& operator=(const FileSizeSignalBlock&) = delete;

    // A write failed with EFBIG: the signal it raised is pending.
    void NoteLimitReached() { limitReached = true; }

private:
    const sigset_t set;
    sigset_t previous{};
    bool blockedHere = false;
    bool limitReached = false;
};

}  // namespace ozr::logging
