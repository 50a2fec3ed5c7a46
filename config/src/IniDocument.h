#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ozr::config::ini::detail
{

// The text of one INI file, read as lines, with lookups and single-value edits that keep every other byte
// of the text as it was. Not thread safe; each call of the public functions builds its own.
//
// A key that appears more than once in a section is found at its first occurrence; a section whose
// header appears more than once holds the keys of all its occurrences. A line that starts with '[' but
// has no ']', or holds no '=' or an empty name before it, belongs to no key and is skipped.
class IniDocument
{
public:
    explicit IniDocument(std::string text);

    // The trimmed value of the first `key` in `section`, or nothing when there is none.
    std::optional<std::string_view> Find(const std::optional<std::string>& section,
                                         std::string_view key) const;

    // Replaces the value text of the line that Find reads, or adds "key=value" after the last non-blank,
    // non-comment line of the section's last occurrence (a disengaged section: of the lines before the
    // first header, else just before that header), or adds the section and the key at the end of the text.
    // New lines end as the text's first line does (CRLF or LF).
    void Set(const std::optional<std::string>& section, std::string_view key, std::string_view value);

    const std::string& Text() const { return text; }

    // Whether Set can store `value` under `key` in `section` so that Find reads it back (trimmed) and no
    // other line changes: names and values of one line, a key that is not empty, holds no '=' and does
    // not start as a section header, a comment or a byte-order mark does, a section without ']'.
    static bool CanStore(const std::optional<std::string>& section, std::string_view key,
                         std::string_view value);

private:
    enum class Kind
    {
        Blank,
        Comment,
        Section,
        Entry,
        Other
    };
    struct Line
    {
        std::size_t begin = 0;
        std::size_t contentEnd = 0;  // Before the line break.
        std::size_t end = 0;         // After the line break.
        Kind kind = Kind::Blank;
        std::size_t nameBegin = 0;
        std::size_t nameEnd = 0;
        std::size_t valueBegin = 0;
        std::size_t valueEnd = 0;
    };

    void Parse();
    Line ParseLine(std::size_t begin, std::size_t contentEnd, std::size_t end) const;
    std::string_view Name(const Line& line) const;
    bool IsSectionStart(const Line& line, const std::optional<std::string>& section) const;
    std::optional<std::size_t> FindEntry(const std::optional<std::string>& section,
                                         std::string_view key) const;
    bool InsertIntoSection(const std::optional<std::string>& section, const std::string& entry);
    void InsertAfterLine(const Line& line, const std::string& entry);
    void AppendLines(const std::string& newLines);
    std::string MissingLineBreak(const Line& line) const;
    std::string LineBreak() const;

    std::string text;
    std::vector<Line> lines;
};

}  // namespace ozr::config::ini::detail
