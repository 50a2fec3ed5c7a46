#pragma once

#include <cctype>
#include <cstddef>

namespace ozr::logging
{

// The length of a log text without its trailing control characters; the first character always stays.
inline std::size_t TrimmedLength(const char* text, std::size_t length)
{
    while (length > 1 && std::iscntrl(static_cast<unsigned char>(text[length - 1])))
    {
        --length;
    }
    return length;
}

}  // namespace ozr::logging
