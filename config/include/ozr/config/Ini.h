#pragma once

// Reading and writing single values of INI settings files.
//
// Format: "[Section]" lines, "Key=Value" lines, full-line comments starting with ';' or '#', blank lines.
// Names and values are trimmed of surrounding white space; section and key names compare without regard
// to ASCII case. A disengaged section names the keys that come before the first section header.
//
// Both functions may be called from any thread and any process at the same time: a write replaces the
// file atomically under an advisory lock, so readers see the old or the new file, never a mix, and two
// writers of different keys both keep their values.

#include <optional>
#include <string>
#include <string_view>

#define OZR_CONFIG_API __attribute__((visibility("default")))

namespace ozr::config::ini
{

// The value of `key` in `section` of `file`, or `defaultValue` when the file cannot be read or holds no
// such section or key. Never throws for a missing or unreadable file.
OZR_CONFIG_API std::string ReadString(const std::optional<std::string>& section, const std::string_view& key,
                                      const std::string_view& defaultValue, const std::string& file);

// Stores `value` under `key` in `section` of `file`, changing no other byte of the file. A missing key is
// added at the end of its section, a missing section at the end of the file; a missing file and its
// missing parent directories are created. Throws std::system_error or std::filesystem::filesystem_error,
// naming the path, when the write cannot be done; the file is then left as it was.
OZR_CONFIG_API void WriteString(const std::optional<std::string>& section, const std::string& key,
                                const std::string& value, const std::string& file);

}  // namespace ozr::config::ini
