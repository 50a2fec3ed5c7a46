#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace ozr::config::ini::detail
{

// A std::system_error for `error` whose what() names the action and the path it failed on.
[[noreturn]] inline void ThrowSystemError(int error, const std::string& action, const std::string& path)
{
    throw std::system_error(error, std::generic_category(),
                            "ozr::config::ini: cannot " + action + " " + path);
}

// The same for the calling thread's errno.
[[noreturn]] inline void ThrowLastError(const std::string& action, const std::string& path)
{
    ThrowSystemError(errno, action, path);
}

// Repeats a system call that a signal interrupted; any other result is returned as it is.
template <typename Call>
auto RetryOnInterrupt(Call call)
{
    for (;;)
    {
        const auto result = call();
        if (result >= 0 || errno != EINTR)
        {
            return result;
        }
    }
}

}  // namespace ozr::config::ini::detail
