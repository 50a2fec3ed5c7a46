#include "IniDocument.h"

#include <algorithm>

namespace ozr::config::ini::detail
{
namespace
{

constexpr std::string_view g_byteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view g_whiteSpace = " \t\r\v\f";

bool IsWhiteSpace(char c)
{
    return g_whiteSpace.find(c) != std::string_view::npos;
}

char ToLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view left, std::string_view right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(),
                      [](char l, char r) { return ToLowerAscii(l) == ToLowerAscii(r); });
}

std::string_view Trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(g_whiteSpace);
    if (first == std::string_view::npos)
    {
        return {};
    }
    return text.substr(first, text.find_last_not_of(g_whiteSpace) - first + 1);
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

bool IniDocument::CanStore(const std::optional<std::string>& section, std::string_view key,
                           std::string_view value)
{
    const std::size_t keyStart = key.find_first_not_of(" \t\v\f");
    // A key added at the start of a file would otherwise turn into the file's byte-order mark.
    const bool badKey = keyStart == std::string_view::npos || key.find('=') != std::string_view::npos ||
                        key[keyStart] == '[' || key[keyStart] == ';' || key[keyStart] == '#' ||
                        key.substr(keyStart, g_byteOrderMark.size()) == g_byteOrderMark;
    const bool badSection = section && (HasLineBreak(*section) || section->find(']') != std::string::npos);
    return !badKey && !badSection && !HasLineBreak(key) && !HasLineBreak(value);
}

IniDocument::IniDocument(std::string content) : text(std::move(content))
{
    Parse();
}

void IniDocument::Parse()
{
    lines.clear();
    std::size_t begin =
        text.compare(0, g_byteOrderMark.size(), g_byteOrderMark) == 0 ? g_byteOrderMark.size() : 0;
    while (begin < text.size())
    {
        const std::size_t feed = text.find('\n', begin);
        const std::size_t end = feed == std::string::npos ? text.size() : feed + 1;
        std::size_t contentEnd = feed == std::string::npos ? text.size() : feed;
        // A carriage return before the line feed, or at the very end of the file, ends the line too.
        if (contentEnd > begin && text[contentEnd - 1] == '\r')
        {
            --contentEnd;
        }
        lines.push_back(ParseLine(begin, contentEnd, end));
        begin = end;
    }
}

IniDocument::Line IniDocument::ParseLine(std::size_t begin, std::size_t contentEnd, std::size_t end) const
{
    Line line{begin, contentEnd, end};
    std::size_t first = begin;
    while (first < contentEnd && IsWhiteSpace(text[first]))
    {
        ++first;
    }
    if (first == contentEnd)
    {
        return line;
    }
    const std::string_view content(text.data() + first, contentEnd - first);
    const auto setName = [&](std::size_t nameBegin, std::size_t nameLength)
    {
        const std::string_view name = Trim(content.substr(nameBegin, nameLength));
        line.nameBegin = name.empty() ? first : static_cast<std::size_t>(name.data() - text.data());
        line.nameEnd = line.nameBegin + name.size();
    };
    const std::size_t closing = content.find(']');
    const std::size_t equals = content.find('=');
    if (content.front() == ';' || content.front() == '#')
    {
        line.kind = Kind::Comment;
    }
    else if (content.front() == '[')
    {
        line.kind = closing == std::string_view::npos ? Kind::Other : Kind::Section;
        if (line.kind == Kind::Section)
        {
            setName(1, closing - 1);
        }
    }
    else if (equals != std::string_view::npos && !Trim(content.substr(0, equals)).empty())
    {
        line.kind = Kind::Entry;
        setName(0, equals);
        line.valueBegin = first + equals + 1;
        while (line.valueBegin < contentEnd && IsWhiteSpace(text[line.valueBegin]))
        {
            ++line.valueBegin;
        }
        line.valueEnd =
            line.valueBegin +
            Trim(std::string_view(text).substr(line.valueBegin, contentEnd - line.valueBegin)).size();
    }
    else
    {
        line.kind = Kind::Other;
    }
    return line;
}

std::string_view IniDocument::Name(const Line& line) const
{
    return std::string_view(text).substr(line.nameBegin, line.nameEnd - line.nameBegin);
}

bool IniDocument::IsSectionStart(const Line& line, const std::optional<std::string>& section) const
{
    return line.kind == Kind::Section && section && EqualsIgnoringCase(Name(line), Trim(*section));
}

std::optional<std::size_t> IniDocument::FindEntry(const std::optional<std::string>& section,
                                                  std::string_view key) const
{
    bool inSection = !section;
    for (std::size_t index = 0; index < lines.size(); ++index)
    {
        const Line& line = lines[index];
        if (line.kind == Kind::Section)
        {
            inSection = IsSectionStart(line, section);
        }
        else if (inSection && line.kind == Kind::Entry && EqualsIgnoringCase(Name(line), Trim(key)))
        {
            return index;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> IniDocument::Find(const std::optional<std::string>& section,
                                                  std::string_view key) const
{
    const std::optional<std::size_t> index = FindEntry(section, key);
    if (!index)
    {
        return std::nullopt;
    }
    const Line& line = lines[*index];
    return std::string_view(text).substr(line.valueBegin, line.valueEnd - line.valueBegin);
}

void IniDocument::Set(const std::optional<std::string>& section, std::string_view key, std::string_view value)
{
    if (const std::optional<std::size_t> index = FindEntry(section, key))
    {
        const Line& line = lines[*index];
        text.replace(line.valueBegin, line.valueEnd - line.valueBegin, value);
    }
    else
    {
        const std::string entry = std::string(Trim(key)) + "=" + std::string(value) + LineBreak();
        if (!InsertIntoSection(section, entry))
        {
            AppendLines("[" + std::string(Trim(*section)) + "]" + LineBreak() + entry);
        }
    }
    Parse();
}

// Finds where the section's keys end; false when an engaged section has no header in the text.
bool IniDocument::InsertIntoSection(const std::optional<std::string>& section, const std::string& entry)
{
    const auto firstHeader =
        std::find_if(lines.begin(), lines.end(), [](const Line& line) { return line.kind == Kind::Section; });
    const Line* anchor = nullptr;
    bool inSection = !section;
    for (const Line& line : lines)
    {
        if (line.kind == Kind::Section)
        {
            inSection = IsSectionStart(line, section);
            anchor = inSection ? &line : anchor;
        }
        else if (inSection && (line.kind == Kind::Entry || line.kind == Kind::Other))
        {
            anchor = &line;
        }
    }
    if (anchor != nullptr)
    {
        InsertAfterLine(*anchor, entry);
        return true;
    }
    if (section)
    {
        return false;
    }
    if (firstHeader == lines.end())
    {
        AppendLines(entry);
    }
    else
    {
        text.insert(firstHeader->begin, entry);
    }
    return true;
}

void IniDocument::InsertAfterLine(const Line& line, const std::string& entry)
{
    text.insert(line.end, MissingLineBreak(line) + entry);
}

// Ends an unterminated last line before adding the new lines at the end of the text.
void IniDocument::AppendLines(const std::string& newLines)
{
    if (!lines.empty())
    {
        text += MissingLineBreak(lines.back());
    }
    text += newLines;
}

// What ends an unterminated last line: nothing after a line feed, a line feed after a lone carriage
// return, otherwise the file's own line break.
std::string IniDocument::MissingLineBreak(const Line& line) const
{
    const char last = line.end > line.begin ? text[line.end - 1] : '\0';
    return last == '\n' ? "" : last == '\r' ? "\n" : LineBreak();
}

std::string IniDocument::LineBreak() const
{
    const std::size_t feed = text.find('\n');
    return feed != std::string::npos && feed > 0 && text[feed - 1] == '\r' ? "\r\n" : "\n";
}

}  // namespace ozr::config::ini::detail
