#include "ozr/logging/MessageBuilder.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "FormatText.h"
#include "RecordPool.h"
#include "TextTrim.h"

namespace ozr::logging
{
namespace
{

// Texts shorter than this are formatted once, onto the stack; longer ones are formatted again, straight
// into the record's string, once their length is known.
constexpr std::size_t StackTextCapacity = 512;

// Formats into `buffer` (truncating); returns the full length the text needs, negative when the format
// is rejected. Formats from its own copy, so `args` stays usable.
int FormatInto(char* buffer, std::size_t size, const char* fmt, std::va_list& args)
    __attribute__((format(printf, 3, 0)));
int FormatInto(char* buffer, std::size_t size, const char* fmt, std::va_list& args)
{
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(buffer, size, fmt, copy);
    va_end(copy);
    return length;
}

// Copies into the string's own buffer when it is large enough, as a recycled record's usually is; else
// into a new buffer of the exact size, not the doubled one that assign would grow the string to.
void AssignText(std::string& target, const char* text, std::size_t length)
{
    if (length > target.capacity())
    {
        target = std::string(text, length);
        return;
    }
    target.assign(text, length);
}

}  // namespace

bool FormatText(std::string& text, const char* fmt, std::va_list& args)
{
    char buffer[StackTextCapacity];
    const int length = FormatInto(buffer, sizeof buffer, fmt, args);
    if (length <= 0)
    {
        return false;
    }
    const auto size = static_cast<std::size_t>(length);
    if (size < sizeof buffer)
    {
        AssignText(text, buffer, TrimmedLength(buffer, size));
        return true;
    }
    text.assign(size + 1, '\0');  // vsnprintf writes its NUL too
    if (FormatInto(text.data(), text.size(), fmt, args) <= 0)
    {
        return false;
    }
    text.resize(TrimmedLength(text.data(), size));
    return true;
}

namespace
{

// Assigns the file-name component of a "/"-separated path, as std::filesystem::path::filename gives it
// (empty for an empty path, a root or a trailing "/"), without building a path: that would cost five
// allocations on a typical __FILE__ where this costs at most one, none in a recycled record.
void AssignFileName(std::string& fileName, const char* path)
{
    if (path == nullptr)
    {
        fileName.clear();
        return;
    }
    const char* lastSeparator = std::strrchr(path, '/');
    const char* const name = lastSeparator == nullptr ? path : lastSeparator + 1;
    AssignText(fileName, name, std::strlen(name));
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
    // Filled in on this thread and released on the worker after delivery: the pool recycles the record,
    // with its strings' buffers, across them. Every field is assigned, since a recycled record holds
    // the values of its last use.
    std::shared_ptr<Message> message = RecordPool::Acquire();
    if (!FormatText(message->text, fmt, args))
    {
        return nullptr;
    }
    message->localTime = dateTimeProvider.GetLocalNow();
    message->universalTime = dateTimeProvider.GetUniversalNow();
    AssignFileName(message->file, file);
    message->severity = severity;
    message->line = line;
    message->threadId = threadId;
    message->zone = zone;
    return message;
}

}  // namespace ozr::logging
