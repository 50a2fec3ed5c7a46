#include "appender/Utf8Text.h"

#include <algorithm>

namespace ozr::logging::appender
{

namespace
{

// What a UTF-8 lead byte starts: the length of its sequence and the range its second byte must lie in,
// as Unicode's table of well-formed byte sequences gives them (which excludes overlong forms, surrogates
// and code points past U+10FFFF). Length 0: the byte starts no sequence.
struct LeadByte
{
    std::size_t length;
    unsigned char secondLow;
    unsigned char secondHigh;
};

LeadByte RuleOf(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        return {2, 0x80, 0xBF};
    }
    if (lead >= 0xE0 && lead <= 0xEF)
    {
        return {3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
    }
    if (lead >= 0xF0 && lead <= 0xF4)
    {
        return {4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
    }
    return {0, 0, 0};
}

}  // namespace

Utf8Sequence Utf8SequenceAt(std::string_view text, std::size_t position)
{
    const LeadByte rule = RuleOf(static_cast<unsigned char>(text[position]));
    if (rule.length == 0)
    {
        return {1, false};
    }
    std::size_t length = 1;
    for (; length < rule.length && position + length < text.size(); ++length)
    {
        const auto next = static_cast<unsigned char>(text[position + length]);
        const bool second = length == 1;
        if (next < (second ? rule.secondLow : 0x80) || next > (second ? rule.secondHigh : 0xBF))
        {
            break;
        }
    }
    return {length, length == rule.length};
}

void AppendWellFormedUtf8(std::string& out, std::string_view text, std::size_t stopAfter)
{
    std::size_t position = 0;
    while (position < text.size() && out.size() <= stopAfter)
    {
        // A run of ASCII goes out in one append.
        std::size_t end = position;
        while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80)
        {
            ++end;
        }
        out.append(text, position, std::min(end, position + stopAfter + 1 - out.size()) - position);
        position = end;
        if (position == text.size() || out.size() > stopAfter)
        {
            break;
        }
        const Utf8Sequence sequence = Utf8SequenceAt(text, position);
        if (sequence.wellFormed)
        {
            out.append(text, position, sequence.length);
        }
        else
        {
            out += Utf8ReplacementCharacter;
        }
        position += sequence.length;
    }
}

std::size_t Utf8CharacterBoundary(std::string_view text, std::size_t position, std::size_t floor)
{
    position = std::min(position, text.size());
    while (position > floor && position < text.size() && IsUtf8Continuation(text[position]))
    {
        --position;
    }
    return position;
}

}  // namespace ozr::logging::appender
