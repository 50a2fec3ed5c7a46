#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace ozr::testing
{

// A fresh directory under the system's temporary directory, removed with everything in it on
// destruction.
class TempDirectory
{
public:
    TempDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ozr-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
        {
            throw std::runtime_error("mkdtemp failed for " + pattern);
        }
        path = pattern;
    }
    ~TempDirectory()
    {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }

private:
    std::filesystem::path path;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& content)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << content;
}

// In blocks, not character by character: scenarios read growing log files often, under sanitizers too.
inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::string content;
    char block[65536];
    while (stream.read(block, sizeof block) || stream.gcount() > 0)
    {
        content.append(block, static_cast<std::size_t>(stream.gcount()));
    }
    return content;
}

}  // namespace ozr::testing
