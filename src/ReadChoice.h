#pragma once

#include <strings.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ozr/config/Ini.h"

namespace ozr::config::ini
{

// One of a few words from a settings file, compared without regard to ASCII case: the value paired with
// the word, or `defaultValue` when the key is absent, its text empty, or it names none of them.
template <typename T>
T ReadChoice(const std::optional<std::string>& section, const std::string_view& key,
             std::initializer_list<std::pair<std::string_view, T>> choices, T defaultValue,
             const std::string& file)
{
    const std::string text = ReadString(section, key, std::string_view{}, file);
    for (const auto& [word, value] : choices)
    {
        if (text.size() == word.size() && strncasecmp(text.data(), word.data(), word.size()) == 0)
        {
            return value;
        }
    }
    return defaultValue;
}

}  // namespace ozr::config::ini
