#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ozr::logging
{

// The type a conversion reads from the argument list, after the default promotions; None for %m, which
// reads errno instead.
enum class ArgumentKind : unsigned char
{
    None,
    Int,
    UnsignedInt,
    Long,
    UnsignedLong,
    LongLong,
    UnsignedLongLong,
    Double,
    LongDouble,
    String,
    Pointer,
};

// One conversion of a printf format, with the literal text that precedes it.
struct Conversion
{
    std::size_t literalEnd = 0;  // where the literal text before it ends in ParsedFormat::Literals()
    std::size_t directive =
        0;  // offset of its own NUL-terminated directive ("%-*.3lld") in ParsedFormat::Directives()
    int precision = -1;  // a precision given as a number, else -1
    ArgumentKind argument = ArgumentKind::None;
    char conversion = '\0';  // d i u o x X c s p f F e E g G a A m
    bool widthFromArgument = false;
    bool precisionFromArgument = false;
    bool plain = false;  // no flags, width, precision or hh/h: formatted without snprintf
};

// A printf format split into its literal text (with "%%" made "%") and its conversions, made once per
// format string. It owns copies of everything, so that the format's own memory may change or go once it
// is made. It is capturable when every conversion is one whose argument can be copied and formatted
// later to the same text: no %n, no positional arguments, no wide characters or strings, no conversion
// unknown to this parser, no length modifier that the C standard does not define for the conversion, and
// no format ending inside a conversion. Immutable once made, so any thread may read it.
//
// The text made later reads the locale then, on the thread that makes it: the decimal point, the
// grouping of the ' flag and the messages of %m are that thread's, not those of a caller that set a
// locale of its own with uselocale. Conversions that a program redefines with register_printf_specifier
// are not known here.
class ParsedFormat
{
public:
    explicit ParsedFormat(const char* format);

    bool Capturable() const { return capturable; }
    bool UsesErrno() const { return usesErrno; }
    const std::string& Text() const { return text; }
    const std::string& Literals() const { return literals; }
    const std::string& Directives() const { return directives; }
    const std::vector<Conversion>& Conversions() const { return conversions; }

private:
    bool ParseConversion(const char*& position);

    std::string text;
    std::string literals;
    std::string directives;
    std::vector<Conversion> conversions;
    bool capturable = true;
    bool usesErrno = false;
};

}  // namespace ozr::logging
