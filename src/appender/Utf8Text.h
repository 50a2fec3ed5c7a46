#pragma once

// Well-formed UTF-8 out of any bytes, for receivers that must be given UTF-8 (the syslog record's text
// under its byte-order mark, its structured data). Pure functions of their arguments.

#include <cstddef>
#include <string>
#include <string_view>

namespace ozr::logging::appender
{

// U+FFFD, the replacement character, in UTF-8.
constexpr std::string_view Utf8ReplacementCharacter = "\xEF\xBF\xBD";

// Appends `text` with each maximal ill-formed part of a UTF-8 sequence (a stray byte, an overlong or
// truncated sequence, a surrogate, anything past U+10FFFF) replaced by one U+FFFD, as Unicode recommends;
// well-formed UTF-8 is kept as it is. Stops once `out` is longer than `stopAfter` bytes: what follows
// would be cut anyway.
void AppendWellFormedUtf8(std::string& out, std::string_view text, std::size_t stopAfter);

// The non-ASCII sequence at `position` of `text`: its length when it is well-formed, else the length of
// its maximal ill-formed part, which one U+FFFD replaces (at least the lead byte).
struct Utf8Sequence
{
    std::size_t length;
    bool wellFormed;
};
Utf8Sequence Utf8SequenceAt(std::string_view text, std::size_t position);

// Whether the byte continues a UTF-8 sequence rather than starting a character.
inline bool IsUtf8Continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The largest position at most `position` in well-formed UTF-8 `text` that starts a character (or is its
// end), but not below `floor`.
std::size_t Utf8CharacterBoundary(std::string_view text, std::size_t position, std::size_t floor);

}  // namespace ozr::logging::appender
