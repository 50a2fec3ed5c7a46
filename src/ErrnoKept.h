#pragma once

#include <cerrno>

namespace ozr::logging
{

// errno as it was when made, again when it goes: for work on a log call's way that may change errno
// before the call has captured it for %m.
class ErrnoKept
{
public:
    ErrnoKept() : kept(errno) {}
    ~ErrnoKept() { errno = kept; }
    ErrnoKept(const ErrnoKept&) = delete;
    ErrnoKept& operator=(const ErrnoKept&) = delete;

private:
    const int kept;
};

}  // namespace ozr::logging
