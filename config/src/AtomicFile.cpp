#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <random>

#include "FileDescriptor.h"
#include "SystemError.h"

namespace ozr::config::ini::detail
{
namespace
{

constexpr mode_t g_newFileMode = 0666;        // Narrowed by the umask, as for any new file.
constexpr mode_t g_temporaryFileMode = 0600;  // Until the content and the final mode are in place.
constexpr mode_t g_fallbackUmask = 022;
constexpr int g_maxNameAttempts = 100;

std::atomic<unsigned> g_temporaryCounter{0};

std::filesystem::path DirectoryOf(const std::filesystem::path& path)
{
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

std::string TemporaryName(const std::filesystem::path& path)
{
    static thread_local std::minstd_rand random(std::random_device{}());
    return "." + path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(g_temporaryCounter.fetch_add(1)) + "-" + std::to_string(random());
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::filesystem::path& target)
    {
        for (int attempt = 0; attempt < g_maxNameAttempts && !fd.IsOpen(); ++attempt)
        {
            path = DirectoryOf(target) / TemporaryName(target);
            fd = FileDescriptor(RetryOnInterrupt(
                [this] {
                    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                                  g_temporaryFileMode);
                }));
            if (!fd.IsOpen() && errno != EEXIST)
            {
                break;
            }
        }
        if (!fd.IsOpen())
        {
            ThrowLastError("create a temporary file for", target.string());
        }
    }
    ~TemporaryFile()
    {
        if (!committed)
        {
            fd.Close();
            ::unlink(path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int Fd() const { return fd.Get(); }
    // A close interrupted by a signal has released the descriptor all the same, and the content was
    // synced before.
    int Close() { return fd.Close() == 0 || errno == EINTR ? 0 : -1; }
    const std::filesystem::path& Path() const { return path; }
    void Commit() { committed = true; }

private:
    std::filesystem::path path;
    FileDescriptor fd;
    bool committed = false;
};

void WriteAll(int fd, const std::string& text, const std::string& path)
{
    std::size_t written = 0;
    while (written < text.size())
    {
        const ssize_t result =
            RetryOnInterrupt([&] { return ::write(fd, text.data() + written, text.size() - written); });
        if (result <= 0)
        {
            // A write that makes no progress would be repeated forever.
            ThrowSystemError(result < 0 ? errno : EIO, "write", path);
        }
        written += static_cast<std::size_t>(result);
    }
}

// A privileged writer keeps the owner and the group. Anyone else keeps at least the group, which a member
// of it may give, so that the file's other users can still read and write it. The owner goes first
// because a change of owner clears the set-user-ID and set-group-ID bits that the mode then sets.
void KeepOwnership(int fd, const FileContent& original)
{
    if (::fchown(fd, original.owner, original.group) != 0)
    {
        [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), original.group);
    }
}

// The umask, read without changing it: umask() can only be read by setting it, which would race with
// other threads creating files.
mode_t CurrentUmask()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
    {
        if (line.compare(0, 6, "Umask:") == 0)
        {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
        }
    }
    return g_fallbackUmask;
}

void SetMode(int fd, mode_t mode, const std::string& path)
{
    if (::fchmod(fd, mode) != 0)
    {
        ThrowLastError("set the permissions of", path);
    }
}

// Makes the rename durable. A file system that cannot sync directories has nothing more to do.
void SyncDirectory(const std::filesystem::path& directory)
{
    const FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.IsOpen())
    {
        ::fsync(fd.Get());
    }
}

std::string ReadAll(int fd, const std::string& path)
{
    std::string text;
    char buffer[65536];
    for (;;)
    {
        const ssize_t result = RetryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
        if (result == 0)
        {
            return text;
        }
        if (result < 0)
        {
            ThrowLastError("read", path);
        }
        text.append(buffer, static_cast<std::size_t>(result));
    }
}

}  // namespace

std::optional<FileContent> ReadRegularFile(const std::filesystem::path& path)
{
    const FileDescriptor fd(
        RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
    if (!fd.IsOpen())
    {
        if (errno == ENOENT)
        {
            return std::nullopt;
        }
        ThrowLastError("open", path.string());
    }
    struct stat status = {};
    if (RetryOnInterrupt([&] { return ::fstat(fd.Get(), &status); }) != 0)
    {
        ThrowLastError("inspect", path.string());
    }
    if (!S_ISREG(status.st_mode))
    {
        ThrowSystemError(S_ISDIR(status.st_mode) ? EISDIR : EINVAL, "use as a settings file", path.string());
    }
    return FileContent{ReadAll(fd.Get(), path.string()), static_cast<mode_t>(status.st_mode & 07777),
                       status.st_uid, status.st_gid};
}

void ReplaceFile(const std::filesystem::path& path, const std::string& text,
                 const std::optional<FileContent>& original)
{
    TemporaryFile temporary(path);
    WriteAll(temporary.Fd(), text, temporary.Path().string());
    if (original)
    {
        KeepOwnership(temporary.Fd(), *original);
    }
    SetMode(temporary.Fd(), original ? original->permissions : g_newFileMode & ~CurrentUmask(),
            temporary.Path().string());
    if (RetryOnInterrupt([&] { return ::fsync(temporary.Fd()); }) != 0)
    {
        ThrowLastError("sync", temporary.Path().string());
    }
    if (temporary.Close() != 0)
    {
        ThrowLastError("close", temporary.Path().string());
    }
    if (RetryOnInterrupt([&] { return ::rename(temporary.Path().c_str(), path.c_str()); }) != 0)
    {
        ThrowLastError("replace", path.string());
    }
    temporary.Commit();
    SyncDirectory(DirectoryOf(path));
}

}  // namespace ozr::config::ini::detail
