#include "ArgumentCapture.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

namespace ozr::logging
{
namespace
{

// The length recorded for a null %s pointer.
constexpr std::size_t NullString = std::numeric_limits<std::size_t>::max();

// ---- Capture ----

template <typename Bytes, typename Value>
void Put(Bytes& bytes, Value value)
{
    if (unsigned char* const end = bytes.Append(sizeof value))
    {
        std::memcpy(end, &value, sizeof value);
    }
}

template <typename Bytes>
void PutString(Bytes& bytes, const char* string, int precision)
{
    if (string == nullptr)
    {
        Put(bytes, NullString);
        return;
    }
    const std::size_t length =
        precision < 0 ? std::strlen(string) : strnlen(string, static_cast<std::size_t>(precision));
    unsigned char* const end = bytes.Append(sizeof length + length + 1);
    if (end == nullptr)
    {
        return;
    }
    std::memcpy(end, &length, sizeof length);
    std::memcpy(end + sizeof length, string, length);
    end[sizeof length + length] = '\0';
}

template <typename Bytes>
void CaptureArgument(const Conversion& conversion, int precision, std::va_list& arguments, Bytes& bytes)
{
    switch (conversion.argument)
    {
        case ArgumentKind::None:
            return;
        case ArgumentKind::Int:
            return Put(bytes, va_arg(arguments, int));
        case ArgumentKind::UnsignedInt:
            return Put(bytes, va_arg(arguments, unsigned int));
        case ArgumentKind::Long:
            return Put(bytes, va_arg(arguments, long));
        case ArgumentKind::UnsignedLong:
            return Put(bytes, va_arg(arguments, unsigned long));
        case ArgumentKind::LongLong:
            return Put(bytes, va_arg(arguments, long long));
        case ArgumentKind::UnsignedLongLong:
            return Put(bytes, va_arg(arguments, unsigned long long));
        case ArgumentKind::Double:
            return Put(bytes, va_arg(arguments, double));
        case ArgumentKind::LongDouble:
            return Put(bytes, va_arg(arguments, long double));
        case ArgumentKind::String:
            return PutString(bytes, va_arg(arguments, const char*), precision);
        case ArgumentKind::Pointer:
            return Put(bytes, va_arg(arguments, void*));
    }
}

template <typename Bytes>
void CaptureConversion(const Conversion& conversion, std::va_list& arguments, Bytes& bytes)
{
    if (conversion.widthFromArgument)
    {
        Put(bytes, va_arg(arguments, int));
    }
    int precision = conversion.precision;
    if (conversion.precisionFromArgument)
    {
        precision = va_arg(arguments, int);
        Put(bytes, precision);
    }
    CaptureArgument(conversion, precision, arguments, bytes);
}

// ---- Formatting ----

// Reads the captured values in order; a read past the end fails the whole text.
class ByteReader
{
public:
    ByteReader(const unsigned char* bytes, std::size_t size) : position(bytes), end(bytes + size) {}

    template <typename Value>
    Value Take()
    {
        Value value{};
        if (Fits(sizeof value))
        {
            std::memcpy(&value, position, sizeof value);
            position += sizeof value;
        }
        return value;
    }

    // The string of a %s, or null; its characters stay in the captured bytes.
    const char* TakeString(std::size_t& length)
    {
        length = Take<std::size_t>();
        if (length == NullString || !Fits(length + 1))
        {
            length = 0;
            return nullptr;
        }
        const char* const string = reinterpret_cast<const char*>(position);
        position += length + 1;
        return string;
    }

    bool Failed() const { return failed; }
    bool AtEnd() const { return position == end; }

private:
    bool Fits(std::size_t size)
    {
        failed = failed || static_cast<std::size_t>(end - position) < size;
        return !failed;
    }

    const unsigned char* position;
    const unsigned char* end;
    bool failed = false;
};

// Appends one conversion formatted by snprintf: into a stack buffer, or straight into `text` when long.
template <typename... Values>
bool AppendFormatted(std::string& text, const char* directive, Values... values)
{
    char buffer[256];
    const int length = std::snprintf(buffer, sizeof buffer, directive, values...);
    if (length < 0)
    {
        return false;
    }
    const auto size = static_cast<std::size_t>(length);
    if (size < sizeof buffer)
    {
        text.append(buffer, size);
        return true;
    }
    const std::size_t start = text.size();
    text.resize(start + size + 1);
    std::snprintf(text.data() + start, size + 1, directive, values...);
    text.resize(start + size);
    return true;
}

// Passes the "*" width and precision before the value, as the directive reads them.
template <typename... Values>
bool AppendConversion(std::string& text, const char* directive, const Conversion& conversion, int width,
                      int precision, Values... values)
{
    if (conversion.widthFromArgument && conversion.precisionFromArgument)
    {
        return AppendFormatted(text, directive, width, precision, values...);
    }
    if (conversion.widthFromArgument)
    {
        return AppendFormatted(text, directive, width, values...);
    }
    if (conversion.precisionFromArgument)
    {
        return AppendFormatted(text, directive, precision, values...);
    }
    return AppendFormatted(text, directive, values...);
}

template <typename Integer>
void AppendInteger(std::string& text, Integer value, int base)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, base);
    text.append(buffer, result.ptr);
}

// A conversion without flags, width or precision, as vsnprintf writes it.
template <typename Value>
void AppendPlain(std::string& text, char conversion, Value value)
{
    if (conversion == 'c')
    {
        text.push_back(static_cast<char>(static_cast<unsigned char>(value)));
        return;
    }
    AppendInteger(text, value, conversion == 'x' ? 16 : 10);
}

template <typename Value>
bool AppendValue(std::string& text, const char* directive, const Conversion& conversion, int width,
                 int precision, ByteReader& reader)
{
    const auto value = reader.Take<Value>();
    if constexpr (std::is_integral_v<Value>)
    {
        if (conversion.plain)
        {
            AppendPlain(text, conversion.conversion, value);
            return true;
        }
    }
    return AppendConversion(text, directive, conversion, width, precision, value);
}

bool AppendString(std::string& text, const char* directive, const Conversion& conversion, int width,
                  int precision, ByteReader& reader)
{
    std::size_t length = 0;
    const char* const string = reader.TakeString(length);
    if (reader.Failed())
    {
        return false;
    }
    if (conversion.plain && string != nullptr)
    {
        text.append(string, length);
        return true;
    }
    return AppendConversion(text, directive, conversion, width, precision, string);
}

// %m: snprintf reads errno, set to the captured value for the call. The 0 passed is never read.
bool AppendErrno(std::string& text, const char* directive, const Conversion& conversion, int width,
                 int precision, int capturedErrno)
{
    const int savedErrno = errno;
    errno = capturedErrno;
    const bool formatted = AppendConversion(text, directive, conversion, width, precision, 0);
    errno = savedErrno;
    return formatted;
}

bool AppendArgument(std::string& text, const char* directive, const Conversion& conversion, int width,
                    int precision, int capturedErrno, ByteReader& reader)
{
    switch (conversion.argument)
    {
        case ArgumentKind::None:
            return AppendErrno(text, directive, conversion, width, precision, capturedErrno);
        case ArgumentKind::Int:
            return AppendValue<int>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::UnsignedInt:
            return AppendValue<unsigned int>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::Long:
            return AppendValue<long>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::UnsignedLong:
            return AppendValue<unsigned long>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::LongLong:
            return AppendValue<long long>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::UnsignedLongLong:
            return AppendValue<unsigned long long>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::Double:
            return AppendValue<double>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::LongDouble:
            return AppendValue<long double>(text, directive, conversion, width, precision, reader);
        case ArgumentKind::String:
            return AppendString(text, directive, conversion, width, precision, reader);
        case ArgumentKind::Pointer:
            return AppendValue<void*>(text, directive, conversion, width, precision, reader);
    }
    return false;
}

bool AppendCapturedConversion(std::string& text, const ParsedFormat& format, const Conversion& conversion,
                              int capturedErrno, ByteReader& reader)
{
    const int width = conversion.widthFromArgument ? reader.Take<int>() : 0;
    const int precision = conversion.precisionFromArgument ? reader.Take<int>() : conversion.precision;
    const char* const directive = format.Directives().data() + conversion.directive;
    return !reader.Failed() &&
           AppendArgument(text, directive, conversion, width, precision, capturedErrno, reader) &&
           !reader.Failed();
}

}  // namespace

void CaptureBuffer::Grow(std::size_t count)
{
    const std::size_t needed = size + count;
    std::size_t grown = capacity < 64 ? 64 : capacity * 2;
    while (grown < needed)
    {
        grown *= 2;
    }
    std::unique_ptr<unsigned char[]> grownData(new unsigned char[grown]);
    if (size != 0)
    {
        std::memcpy(grownData.get(), data.get(), size);
    }
    data = std::move(grownData);
    capacity = grown;
}

template <typename Bytes>
void CaptureArguments(const ParsedFormat& format, std::va_list& arguments, Bytes& bytes)
{
    if (format.UsesErrno())
    {
        Put(bytes, errno);
    }
    std::va_list copy;
    va_copy(copy, arguments);
    for (const Conversion& conversion : format.Conversions())
    {
        CaptureConversion(conversion, copy, bytes);
    }
    va_end(copy);
}

template void CaptureArguments(const ParsedFormat&, std::va_list&, CaptureBuffer&);
template void CaptureArguments(const ParsedFormat&, std::va_list&, BoundedBytes&);

bool FormatCapturedArguments(const ParsedFormat& format, const unsigned char* bytes, std::size_t size,
                             std::string& text)
{
    text.clear();
    ByteReader reader(bytes, size);
    const int capturedErrno = format.UsesErrno() ? reader.Take<int>() : 0;
    const std::string& literals = format.Literals();
    std::size_t literalStart = 0;
    for (const Conversion& conversion : format.Conversions())
    {
        text.append(literals, literalStart, conversion.literalEnd - literalStart);
        literalStart = conversion.literalEnd;
        if (!AppendCapturedConversion(text, format, conversion, capturedErrno, reader))
        {
            return false;
        }
    }
    text.append(literals, literalStart, std::string::npos);
    return reader.AtEnd() && text.size() <= static_cast<std::size_t>(INT_MAX);
}

}  // namespace ozr::logging
