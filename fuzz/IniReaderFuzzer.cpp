// Any bytes as an INI file: parsing never fails, and whatever a lookup finds is one trimmed line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "IniDocument.h"

namespace
{

bool IsTrimmedLine(std::string_view value)
{
    constexpr std::string_view whiteSpace = " \t\r\v\f";
    return value.find('\n') == std::string_view::npos &&
           (value.empty() || (whiteSpace.find(value.front()) == std::string_view::npos &&
                              whiteSpace.find(value.back()) == std::string_view::npos));
}

}  // namespace

// The first line names the section ("-" for none) and the key to look up; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t firstLine = input.find('\n');
    const std::string query = input.substr(0, firstLine);
    const std::string text = firstLine == std::string::npos ? input : input.substr(firstLine + 1);
    const std::size_t separator = query.find('=');
    const std::string sectionName = query.substr(0, separator);
    const std::optional<std::string> section =
        sectionName == "-" ? std::nullopt : std::optional<std::string>(sectionName);
    const std::string key = separator == std::string::npos ? "Key" : query.substr(separator + 1);

    const ozr::config::ini::detail::IniDocument document(text);
    if (const std::optional<std::string_view> value = document.Find(section, key))
    {
        const char* begin = document.Text().data();
        if (value->data() < begin || value->data() + value->size() > begin + document.Text().size() ||
            !IsTrimmedLine(*value))
        {
            std::abort();
        }
    }
    if (document.Text() != text)
    {
        std::abort();
    }
    return 0;
}
