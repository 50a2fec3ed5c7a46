#include "ozr/logging/ApplicationInfoProvider.h"

#include <unistd.h>

#include <array>

namespace ozr::logging
{
namespace
{

// The full path of the running executable, read afresh from the kernel; empty when it cannot be read.
// A target longer than the buffer is cut, as readlink cuts it.
std::filesystem::path GetApplicationExecutableFilePath()
{
    std::array<char, 1024> buffer{};
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length < 0)
    {
        return {};
    }
    buffer[static_cast<std::size_t>(length)] = '\0';
    return std::filesystem::path(buffer.data());
}

}  // namespace

std::string ApplicationInfoProvider::GetApplicationName() const
{
    return GetApplicationExecutableFilePath().filename().string();
}

std::filesystem::path ApplicationInfoProvider::GetApplicationExecutableDirectoryPath() const
{
    return GetApplicationExecutableFilePath().parent_path();
}

}  // namespace ozr::logging
