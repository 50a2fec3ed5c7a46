#include "ozr/logging/CallSiteLimit.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "TextTrim.h"

namespace ozr::logging
{
namespace
{

// The text of `fmt` and `args`; empty when the format fails.
std::string Format(const char* fmt, std::va_list args) __attribute__((format(printf, 1, 0)));
std::string Format(const char* fmt, std::va_list args)
{
    std::va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, measuring);
    va_end(measuring);
    if (length <= 0)
    {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');  // vsnprintf writes its NUL too
    if (std::vsnprintf(text.data(), text.size(), fmt, args) != length)
    {
        return {};
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

std::string TextWithSuppressedCount(std::uint64_t suppressed, const char* fmt, ...)
{
    std::string text;
    std::va_list args;
    va_start(args, fmt);
    try
    {
        text = Format(fmt, args);
    }
    catch (...)  // out of memory: the list is ended all the same
    {
        va_end(args);
        throw;
    }
    va_end(args);
    if (text.empty())
    {
        return text;
    }
    text.resize(TrimmedLength(text.data(), text.size()));  // as every log call's text is trimmed
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, " (%" PRIu64 " suppressed)", suppressed);
    return text.append(suffix);
}

}  // namespace ozr::logging
