#include "ozr/logging/MessageBuilder.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace ozr::logging
{
namespace
{

// The length of the formatted text, without its terminating NUL; negative when the format is rejected.
// Formats from its own copy, so `args` stays usable.
int _vscprintf(const char* fmt, std::va_list& args) __attribute__((format(printf, 1, 0)));
int _vscprintf(const char* fmt, std::va_list& args)
{
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    return length;
}

// Formats into a string of exactly `length` + 1 characters (the text and vsnprintf's NUL); false when
// the format is rejected.
bool FormatInto(std::string& text, int length, const char* fmt, std::va_list& args)
    __attribute__((format(printf, 3, 0)));
bool FormatInto(std::string& text, int length, const char* fmt, std::va_list& args)
{
    text.assign(static_cast<std::size_t>(length) + 1, '\0');
    std::va_list copy;
    va_copy(copy, args);
    const int written = std::vsnprintf(text.data(), text.size(), fmt, copy);
    va_end(copy);
    return written > 0;
}

// Removes trailing control characters (the NUL among them), never the first character.
void TrimTrailingControlCharacters(std::string& text)
{
    std::size_t end = text.size();
    while (end > 1 && std::iscntrl(static_cast<unsigned char>(text[end - 1])))
    {
        --end;
    }
    text.resize(end);
}

// The file-name component of a "/"-separated path, as std::filesystem::path::filename gives it (empty
// for an empty path, a root or a trailing "/"), without building a path: that would cost five
// allocations on a typical __FILE__ where this costs at most one.
std::string FileNameOf(const char* path)
{
    if (path == nullptr)
    {
        return {};
    }
    const char* lastSeparator = std::strrchr(path, '/');
    return lastSeparator == nullptr ? path : lastSeparator + 1;
}

}  // namespace

MessageBuilder::MessageBuilder(const IDateTimeProvider& dateTimeProvider) : dateTimeProvider(dateTimeProvider)
{
}

std::shared_ptr<Message const> MessageBuilder::BuildMessage(const char* zone, Severity severity,
                                                            const char* file, unsigned int line,
                                                            unsigned long threadId, const char* fmt,
                                                            ...) const
{
    std::va_list args;
    va_start(args, fmt);
    auto message = MessageBuilder::BuildMessage(zone, severity, file, line, threadId, fmt, args);
    va_end(args);
    return message;
}

std::shared_ptr<Message const> MessageBuilder::BuildMessage(const char* zone, Severity severity,
                                                            const char* file, unsigned int line,
                                                            unsigned long threadId, const char* fmt,
                                                            std::va_list& args) const
{
    if (fmt == nullptr)
    {
        return nullptr;
    }
    const int length = _vscprintf(fmt, args);
    if (length <= 0)
    {
        return nullptr;
    }
    std::string text;
    if (!FormatInto(text, length, fmt, args))
    {
        return nullptr;
    }
    TrimTrailingControlCharacters(text);

    const auto localTime = dateTimeProvider.GetLocalNow();
    const auto universalTime = dateTimeProvider.GetUniversalNow();
    return std::make_shared<const Message>(
        Message{localTime, universalTime, FileNameOf(file), std::move(text), severity, line, threadId, zone});
}

}  // namespace ozr::logging
