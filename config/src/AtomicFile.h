#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace ozr::config::ini::detail
{

// The content of a regular file and the attributes a replacement keeps.
struct FileContent
{
    std::string text;
    mode_t permissions = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

// The whole content of the regular file at `path`, or nothing when it does not exist. Throws
// std::system_error naming the path when it cannot be read or is not a regular file (a directory, a
// FIFO: it is opened without blocking, so a FIFO never stalls the caller).
std::optional<FileContent> ReadRegularFile(const std::filesystem::path& path);

// Replaces the file at `path` with `text` so that readers see the old or the new file and a crash never
// leaves a partial one: writes a uniquely named temporary file (owner-only until it is complete) in the
// same directory, gives it the owner and group of `original` (the group alone when the owner cannot be
// kept) and its permission bits, syncs it, renames it over `path` and syncs the directory. A new file gets
// mode 0666 narrowed by the umask. Calls interrupted by a signal are repeated. Throws std::system_error
// naming the path on failure and then removes the temporary file, leaving `path` as it was.
void ReplaceFile(const std::filesystem::path& path, const std::string& text,
                 const std::optional<FileContent>& original);

}  // namespace ozr::config::ini::detail
