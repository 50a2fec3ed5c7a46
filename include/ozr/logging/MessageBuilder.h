#pragma once

#include <cstdarg>
#include <memory>

#include "ozr/logging/DateTimeProvider.h"
#include "ozr/logging/Message.h"

namespace ozr::logging
{

// Turns one printf-style log call into a Message record. Both forms return an empty pointer when the
// formatted text is empty or the format is rejected. Const and stateless: any thread may build at once.
class OZR_LOGGING_API IMessageBuilder
{
public:
    virtual ~IMessageBuilder() = default;

    virtual std::shared_ptr<Message const> BuildMessage(const char* zone, Severity severity, const char* file,
                                                        unsigned int line, unsigned long threadId,
                                                        const char* fmt, ...) const
        __attribute__((format(printf, 7, 8))) = 0;

    // Leaves `args` untouched: the caller may pass the list on again afterwards.
    virtual std::shared_ptr<Message const> BuildMessage(const char* zone, Severity severity, const char* file,
                                                        unsigned int line, unsigned long threadId,
                                                        const char* fmt, std::va_list& args) const
        __attribute__((format(printf, 7, 0))) = 0;
};

// Formats once onto the stack (a second time, straight into the record's text, only for texts of 512
// characters or more), trims trailing control characters (never the
// first character), stamps local then universal time and keeps only the file name of the source path.
class OZR_LOGGING_API MessageBuilder final : public IMessageBuilder
{
public:
    explicit MessageBuilder(const IDateTimeProvider& dateTimeProvider);

    std::shared_ptr<Message const> BuildMessage(const char* zone, Severity severity, const char* file,
                                                unsigned int line, unsigned long threadId, const char* fmt,
                                                ...) const override __attribute__((format(printf, 7, 8)));
    std::shared_ptr<Message const> BuildMessage(const char* zone, Severity severity, const char* file,
                                                unsigned int line, unsigned long threadId, const char* fmt,
                                                std::va_list& args) const override
        __attribute__((format(printf, 7, 0)));

private:
    const IDateTimeProvider& dateTimeProvider;
};

}  // namespace ozr::logging
