#pragma once

// Reading a fuzzer's bytes as fields.

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ozr::fuzzing
{

// The next sizeof(T) bytes as a T (zero-filled where the input ends), taken off the input.
template <typename T>
T Take(std::string_view& input)
{
    T value{};
    const std::size_t size = std::min(sizeof value, input.size());
    std::memcpy(&value, input.data(), size);
    input.remove_prefix(size);
    return value;
}

}  // namespace ozr::fuzzing
