#include "ParsedFormat.h"

#include <climits>
#include <cstring>

namespace ozr::logging
{
namespace
{

enum class Length
{
    None,
    Char,      // hh
    Short,     // h
    Long,      // l
    Sized,     // j z t, whose types are long and unsigned long on this platform
    LongLong,  // ll, q
    LongDouble,
};

static_assert(sizeof(long) == 8 && sizeof(long long) == 8 && sizeof(void*) == 8, "an LP64 platform");
static_assert(sizeof(std::size_t) == sizeof(long) && sizeof(std::ptrdiff_t) == sizeof(long) &&
                  sizeof(intmax_t) == sizeof(long),
              "j, z and t take long-sized arguments");

bool IsDigit(char character)
{
    return character >= '0' && character <= '9';
}

// Reads a decimal number; false when it does not fit an int.
bool ReadNumber(const char*& position, int& value)
{
    long long number = 0;
    while (IsDigit(*position))
    {
        number = number * 10 + (*position++ - '0');
        if (number > INT_MAX)
        {
            return false;
        }
    }
    value = static_cast<int>(number);
    return true;
}

// A width or precision given as "*"; false for the positional "*n$" form.
bool ReadStar(const char*& position, bool& fromArgument)
{
    if (*position != '*')
    {
        return true;
    }
    ++position;
    fromArgument = true;
    return !IsDigit(*position);
}

Length ReadLength(const char*& position)
{
    switch (*position)
    {
        case 'h':
            ++position;
            return *position == 'h' ? (++position, Length::Char) : Length::Short;
        case 'l':
            ++position;
            return *position == 'l' ? (++position, Length::LongLong) : Length::Long;
        case 'q':
            return ++position, Length::LongLong;
        case 'j':
        case 'z':
        case 't':
            return ++position, Length::Sized;
        case 'L':
            return ++position, Length::LongDouble;
        default:
            return Length::None;
    }
}

ArgumentKind IntegerKind(Length length, bool isSigned)
{
    switch (length)
    {
        case Length::None:
        case Length::Char:
        case Length::Short:
            return isSigned ? ArgumentKind::Int : ArgumentKind::UnsignedInt;
        case Length::Long:
        case Length::Sized:
            return isSigned ? ArgumentKind::Long : ArgumentKind::UnsignedLong;
        case Length::LongLong:
            return isSigned ? ArgumentKind::LongLong : ArgumentKind::UnsignedLongLong;
        default:
            return ArgumentKind::None;
    }
}

// The argument the conversion reads; false when it is not one this parser covers exactly.
bool ArgumentOf(char conversion, Length length, ArgumentKind& kind)
{
    kind = ArgumentKind::None;
    if (std::strchr("di", conversion) != nullptr)
    {
        kind = IntegerKind(length, true);
        return kind != ArgumentKind::None;
    }
    if (std::strchr("ouxX", conversion) != nullptr)
    {
        kind = IntegerKind(length, false);
        return kind != ArgumentKind::None;
    }
    if (std::strchr("fFeEgGaA", conversion) != nullptr &&
        (length == Length::None || length == Length::Long || length == Length::LongDouble))
    {
        kind = length == Length::LongDouble ? ArgumentKind::LongDouble : ArgumentKind::Double;
        return true;
    }
    if (length != Length::None)
    {
        return false;
    }
    switch (conversion)
    {
        case 'c':
            return kind = ArgumentKind::Int, true;
        case 's':
            return kind = ArgumentKind::String, true;
        case 'p':
            return kind = ArgumentKind::Pointer, true;
        case 'm':
            return true;
        default:
            return false;
    }
}

bool IsPlain(const Conversion& conversion, bool hasFlags, bool hasWidth, Length length)
{
    return !hasFlags && !hasWidth && conversion.precision < 0 && !conversion.precisionFromArgument &&
           length != Length::Char && length != Length::Short &&
           std::strchr("diuxsc", conversion.conversion) != nullptr;
}

}  // namespace

ParsedFormat::ParsedFormat(const char* format) : text(format)
{
    const char* position = format;
    while (*position != '\0' && capturable)
    {
        if (*position != '%')
        {
            literals += *position++;
            continue;
        }
        ++position;
        if (*position == '%')
        {
            literals += *position++;
            continue;
        }
        capturable = ParseConversion(position);
    }
}

// Parses what follows a '%': flags, width, precision, length and conversion, as glibc's printf reads them.
bool ParsedFormat::ParseConversion(const char*& position)
{
    const char* const start = position - 1;
    Conversion conversion;
    conversion.literalEnd = literals.size();
    const char* const flagsStart = position;
    while (*position != '\0' && std::strchr("-+ #0'", *position) != nullptr)
    {
        ++position;
    }
    const bool hasFlags = position != flagsStart;
    const char* const widthStart = position;
    int width = 0;
    if (!ReadStar(position, conversion.widthFromArgument) || !ReadNumber(position, width) || *position == '$')
    {
        return false;
    }
    const bool hasWidth = position != widthStart;
    if (*position == '.')
    {
        ++position;
        conversion.precision = 0;
        if (!ReadStar(position, conversion.precisionFromArgument) ||
            !ReadNumber(position, conversion.precision) || *position == '$')
        {
            return false;
        }
        if (conversion.precisionFromArgument)
        {
            conversion.precision = -1;
        }
    }
    const Length length = ReadLength(position);
    conversion.conversion = *position;
    if (conversion.conversion == '\0' || !ArgumentOf(conversion.conversion, length, conversion.argument))
    {
        return false;
    }
    ++position;
    usesErrno = usesErrno || conversion.conversion == 'm';
    conversion.plain = IsPlain(conversion, hasFlags, hasWidth, length);
    conversion.directive = directives.size();
    directives.append(start, position).push_back('\0');
    conversions.push_back(conversion);
    return true;
}

}  // namespace ozr::logging
