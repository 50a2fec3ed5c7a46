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

}  // namespace ozr::config::ini::detail
