#pragma once

#include <unistd.h>

#include <utility>

namespace ozr::config::ini::detail
{

// Owns one open file descriptor and closes it on destruction.
class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor = -1) : fd(descriptor) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        Reset(std::exchange(other.fd, -1));
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return fd; }
    bool IsOpen() const { return fd >= 0; }

    // Closes now and returns close's result, so that a writer can see a late write error.
    int Close() { return fd >= 0 ? ::close(std::exchange(fd, -1)) : 0; }

private:
    void Reset(int replacement = -1)
    {
        if (fd >= 0)
        {
            ::close(fd);
        }
        fd = replacement;
    }

    int fd;
};

}  // namespace ozr::config::ini::detail
