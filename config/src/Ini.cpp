#include "ozr/config/Ini.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "AtomicFile.h"
#include "FileLock.h"
#include "IniDocument.h"
#include "SystemError.h"

namespace ozr::config::ini
{
namespace
{

namespace fs = std::filesystem;

constexpr int g_maxLinkHops = 40;  // As the kernel allows in one path.

// Names and values that would not read back as written, or would break the file's line structure.
void CheckWritable(const std::optional<std::string>& section, const std::string& key,
                   const std::string& value, const std::string& file)
{
    if (!detail::IniDocument::CanStore(section, key, value))
    {
        throw std::invalid_argument("ozr::config::ini: cannot store key \"" + key + "\" in " + file +
                                    ": names and values must be one line, keys non-empty without '='");
    }
}

// A settings file reached through symbolic links is replaced at the last link's target, so the links
// survive; a link to a missing file makes the write create that file.
fs::path ResolveTarget(const std::string& file)
{
    fs::path path(file);
    for (int hops = 0; fs::is_symlink(path); ++hops)
    {
        if (hops == g_maxLinkHops)
        {
            detail::ThrowSystemError(ELOOP, "resolve", file);
        }
        const fs::path target = fs::read_symlink(path);
        path = target.is_absolute() || !path.has_parent_path() ? target : path.parent_path() / target;
    }
    return path;
}

void CreateParentDirectories(const fs::path& path)
{
    if (path.empty())
    {
        detail::ThrowSystemError(ENOENT, "write", "an empty path");
    }
    std::error_code error;
    if (path.has_parent_path() && !fs::create_directories(path.parent_path(), error) && error)
    {
        throw fs::filesystem_error("ozr::config::ini: cannot create the directory of", path,
                                   path.parent_path(), error);
    }
    if (fs::is_directory(path))
    {
        detail::ThrowSystemError(EISDIR, "write", path.string());
    }
}

}  // namespace

std::string ReadString(const std::optional<std::string>& section, const std::string_view& key,
                       const std::string_view& defaultValue, const std::string& file)
{
    try
    {
        const std::optional<detail::FileContent> content = detail::ReadRegularFile(file);
        if (content)
        {
            const detail::IniDocument document(content->text);
            if (const std::optional<std::string_view> value = document.Find(section, key))
            {
                return std::string(*value);
            }
        }
    }
    catch (const std::exception&)
    {
        // An unreadable file reads as a missing one.
    }
    return std::string(defaultValue);
}

void WriteString(const std::optional<std::string>& section, const std::string& key, const std::string& value,
                 const std::string& file)
{
    CheckWritable(section, key, value, file);
    const fs::path path = ResolveTarget(file);
    CreateParentDirectories(path);
    const detail::FileLock lock(path.string() + ".lock");
    const std::optional<detail::FileContent> original = detail::ReadRegularFile(path);
    // The file is replaced, not written in place; a file its owner made read-only stays unchanged all the
    // same, as an in-place write would leave it.
    if (original && ::access(path.c_str(), W_OK) != 0)
    {
        detail::ThrowLastError("write", path.string());
    }
    detail::IniDocument document(original ? original->text : std::string());
    document.Set(section, key, value);
    if (!original || document.Text() != original->text)
    {
        detail::ReplaceFile(path, document.Text(), original);
    }
}

}  // namespace ozr::config::ini
