#pragma once

#include <filesystem>
#include <forward_list>
#include <string>
#include <system_error>

namespace ozr::logging
{

// The first "<directory>/<fileName>" that exists, searching `directories` in order; the candidate in the
// first directory when none exists (reading a missing file yields defaults). `directories` is never empty.
//
// Anything that exists counts, a directory included; status() follows links, so a link to a missing file
// counts as missing. A candidate that cannot be probed (no search permission, a link loop, an overlong
// name) counts as missing too, so a broken settings directory leaves a zone on its defaults instead of
// failing the log call that made the zone. Relative directories resolve against the current directory.
inline std::string FindConfigFile(const std::forward_list<std::filesystem::path>& directories,
                                  const std::string& fileName)
{
    for (const auto& directory : directories)
    {
        std::filesystem::path candidate = directory / fileName;
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::status(candidate, error)))
        {
            return candidate.string();
        }
    }
    return (directories.front() / fileName).string();
}

}  // namespace ozr::logging
