#pragma once

#include <string_view>

namespace ozr::logging
{

// Null and the empty text both name the default zone, for which the application name stands in
// wherever a file name or a tag needs a name.
inline bool IsDefaultZone(const char* zone) noexcept
{
    return zone == nullptr || *zone == '\0';
}

// A zone name that can be part of a file name inside its directory: no '/' that would reach another
// directory and no ".." that could climb out of it.
inline bool IsPlaceableZoneName(std::string_view zone) noexcept
{
    return zone.find('/') == std::string_view::npos && zone.find("..") == std::string_view::npos;
}

}  // namespace ozr::logging
