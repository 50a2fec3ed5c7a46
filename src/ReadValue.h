#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "ozr/config/Ini.h"

namespace ozr::config::ini
{

// A number (or any stream-extractable value) from a settings file: the default when the key is absent,
// its text empty, or the text does not start with a readable T. Text after the value is ignored.
template <typename T>
T ReadValue(const std::optional<std::string>& section, const std::string_view& key, const T& defaultValue,
            const std::string& file)
{
    const std::string text = ReadString(section, key, std::string_view{}, file);
    if (text.empty())
    {
        return defaultValue;
    }
    std::istringstream stream(text);
    T value{};
    stream >> value;
    return stream.fail() ? defaultValue : value;
}

// A switch written as a number: only a text whose leading number is 0 turns it off. Empty, 1, and texts
// that do not read as a boolean number (2, -1, true, false, no) leave it on.
inline bool ReadSwitch(const std::optional<std::string>& section, const std::string_view& key,
                       const std::string& file)
{
    const std::string text = ReadString(section, key, std::string_view{}, file);
    if (text.empty())
    {
        return true;
    }
    std::istringstream stream(text);
    bool value = true;
    stream >> value;
    return stream.fail() || value;
}

}  // namespace ozr::config::ini
