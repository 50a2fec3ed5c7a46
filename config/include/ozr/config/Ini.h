#pragma once

// Reading and writing single values of INI settings files.
//
// Format: "[Section]" lines, "Key=Value" lines, full-line comments starting with ';' or '#', blank lines.
// Names and values are trimmed of surrounding white space; section and key names compare without regard
// to ASCII case. A disengaged section names the keys that come before the first section header.
//
// Values are the text between the trimmed boundaries, exactly as stored: no quoting, escapes or trailing
// comments are interpreted. A key that appears twice in a section is read and written at its first
// occurrence; a section whose header appears twice holds the keys of all its occurrences. Lines that are
// none of the above (no '=', an unclosed '[', binary bytes) are skipped. A UTF-8 byte-order mark and the
// file's line endings (LF or CRLF) are kept.
//
// Both functions may be called from any thread and any process at the same time: a write replaces the
// file atomically under an advisory lock, so readers see the old or the new file, never a mix, and two
// writers of different keys both keep their values. The lock is an flock on "<file>.lock" beside the
// settings file, created on the first write and left in place.

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
// added as "Key=Value" after the last key line of its section (before blank and comment lines that follow
// it; for a disengaged section, before the first header); a missing section is added at the end of the
// file; a missing file and its missing parent directories are created. New lines use the file's line
// ending. The file keeps its permission bits, its owner where the writer may give it, and otherwise its
// group; a symbolic link is followed and stays a link (a link to a missing file creates that file). Since
// values are read trimmed, white space around `value` does not survive. Throws std::invalid_argument
// naming the path when a name or the value holds a line break, the key is empty, holds '=' or starts with
// '[', ';', '#' or a UTF-8 byte-order mark, or the section holds ']'. Throws std::system_error or
// std::filesystem::filesystem_error, naming the path, when the write cannot be done, also when another
// process keeps the lock for more than 3 s; the file is then left as it was, with no temporary file behind.
OZR_CONFIG_API void WriteString(const std::optional<std::string>& section, const std::string& key,
                                const std::string& value, const std::string& file);

}  // namespace ozr::config::ini
