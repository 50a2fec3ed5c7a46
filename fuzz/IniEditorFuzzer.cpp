// Any file plus any edit: the written value reads back, and every other line stays byte for byte as it
// was (a last line without a line break may gain one).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IniDocument.h"

namespace
{

using ozr::config::ini::detail::IniDocument;

std::string_view Trim(std::string_view text)
{
    constexpr std::string_view whiteSpace = " \t\r\v\f";
    const std::size_t first = text.find_first_not_of(whiteSpace);
    return first == std::string_view::npos
               ? std::string_view()
               : text.substr(first, text.find_last_not_of(whiteSpace) - first + 1);
}

// The lines of `text`, each with its line feed.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty())
    {
        const std::size_t feed = text.find('\n');
        const std::size_t end = feed == std::string_view::npos ? text.size() : feed + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

bool IsValueReplaced(std::string_view before, std::string_view after, std::string_view oldValue,
                     std::string_view newValue)
{
    for (std::size_t at = before.find(oldValue); at != std::string_view::npos;
         at = before.find(oldValue, at + 1))
    {
        std::string replaced(before);
        replaced.replace(at, oldValue.size(), newValue);
        if (replaced == after)
        {
            return true;
        }
    }
    return false;
}

// `after` is `before` with lines inserted at one place; the line before them may have gained the line
// break it lacked.
bool AreLinesInserted(const std::vector<std::string_view>& before, const std::vector<std::string_view>& after)
{
    std::size_t common = 0;
    while (common < before.size() && common < after.size() && before[common] == after[common])
    {
        ++common;
    }
    std::size_t tail = 0;
    while (tail < before.size() - common && tail < after.size() - common &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
    {
        ++tail;
    }
    const std::size_t removed = before.size() - common - tail;
    const std::size_t added = after.size() - common - tail;
    if (removed == 0)
    {
        return added >= 1 && added <= 2;
    }
    // The unterminated (or carriage-return-ended) last line, now ended, followed by the new lines.
    return removed == 1 && tail == 0 && added >= 2 && added <= 3 &&
           after[common].substr(0, before[common].size()) == before[common] && before[common].back() != '\n';
}

}  // namespace

// Input: section, key and value, each ended by a NUL byte, then the file ("-" as section: none).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view fields[3];
    for (std::string_view& field : fields)
    {
        const std::size_t end = input.find('\0');
        if (end == std::string_view::npos)
        {
            return 0;
        }
        field = input.substr(0, end);
        input.remove_prefix(end + 1);
    }
    const std::optional<std::string> section =
        fields[0] == "-" ? std::nullopt : std::optional<std::string>(fields[0]);
    const std::string_view key = fields[1];
    const std::string_view value = fields[2];
    if (!IniDocument::CanStore(section, key, value))
    {
        return 0;
    }
    const std::string before(input);
    const IniDocument original(before);
    const std::optional<std::string_view> oldValue = original.Find(section, key);

    IniDocument edited(before);
    edited.Set(section, key, value);
    const std::string& after = edited.Text();
    if (IniDocument(after).Find(section, key) != Trim(value))
    {
        std::abort();
    }
    // A byte-order mark is kept and is no part of the first line.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    const bool marked = std::string_view(before).substr(0, 3) == byteOrderMark;
    if (marked && std::string_view(after).substr(0, 3) != byteOrderMark)
    {
        std::abort();
    }
    const auto beforeLines = Lines(std::string_view(before).substr(marked ? 3 : 0));
    const auto afterLines = Lines(std::string_view(after).substr(marked ? 3 : 0));
    if (oldValue)
    {
        if (!IsValueReplaced(before, after, *oldValue, value) || beforeLines.size() != afterLines.size())
        {
            std::abort();
        }
    }
    else if (!AreLinesInserted(beforeLines, afterLines))
    {
        std::abort();
    }
    return 0;
}
