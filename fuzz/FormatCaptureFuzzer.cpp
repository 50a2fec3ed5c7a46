// Any printf format and arguments: formatted once by vsnprintf and once from the captured arguments, the
// texts are the same. The format is the input up to its first NUL, the arguments' values follow. This
// program reads the format's conversions on its own (a regular expression and a table of argument types)
// and calls the variadic check through libffi with exactly the arguments they read; it also checks that
// the parser finds capturable exactly the formats this program understands.

#include <ffi.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "ArgumentCapture.h"
#include "FormatCache.h"
#include "FuzzInput.h"
#include "ParsedFormat.h"

namespace
{

using namespace ozr::logging;

// Widths and precisions above it make long texts and slow runs: such inputs are not checked.
constexpr int MaxNumber = 999;
constexpr std::size_t MaxArguments = 64;

enum class Type
{
    Int,
    Unsigned,
    Long,
    UnsignedLong,
    LongLong,
    UnsignedLongLong,
    Double,
    LongDouble,
    String,
    Pointer,
};

struct Argument
{
    Type type;
    bool isStar = false;
    int precision = -1;  // for a %s with a precision given as a number
};

using ozr::fuzzing::Take;

// The argument type of a length modifier and conversion; false for a combination the C standard leaves
// undefined or that is not captured (wide characters and strings, %n).
bool TypeOf(const std::string& length, char conversion, Type& type, bool& takesArgument)
{
    takesArgument = conversion != 'm';
    const bool isSigned = conversion == 'd' || conversion == 'i';
    if (std::strchr("diouxX", conversion) != nullptr)
    {
        if (length.empty() || length == "h" || length == "hh")
        {
            return type = isSigned ? Type::Int : Type::Unsigned, true;
        }
        if (length == "l" || length == "j" || length == "z" || length == "t")
        {
            return type = isSigned ? Type::Long : Type::UnsignedLong, true;
        }
        if (length == "ll" || length == "q")
        {
            return type = isSigned ? Type::LongLong : Type::UnsignedLongLong, true;
        }
        return false;
    }
    if (std::strchr("fFeEgGaA", conversion) != nullptr)
    {
        if (length.empty() || length == "l" || length == "L")
        {
            return type = length == "L" ? Type::LongDouble : Type::Double, true;
        }
        return false;
    }
    if (!length.empty())
    {
        return false;
    }
    type = conversion == 'c' ? Type::Int : conversion == 's' ? Type::String : Type::Pointer;
    return true;
}

enum class Verdict
{
    Capturable,
    NotCapturable,
    TooLarge,
};

// A width or precision given as a number, at most MaxNumber + 1.
int NumberOf(const std::string& digits)
{
    int number = 0;
    for (const char digit : digits)
    {
        number = std::min(number * 10 + (digit - '0'), MaxNumber + 1);
    }
    return number;
}

// Appends a "*" width or precision, or checks a number's size.
bool AddNumber(const std::ssub_match& match, std::vector<Argument>& arguments)
{
    if (match.str() == "*")
    {
        arguments.push_back({Type::Int, true});
        return true;
    }
    return NumberOf(match.str()) <= MaxNumber;
}

Verdict ReadConversions(const std::string& format, std::vector<Argument>& arguments)
{
    static const std::regex conversion(
        R"(%([-+ #0']*)(\*|[1-9][0-9]*)?(\.(\*|[0-9]*))?(hh|h|ll|l|q|j|z|t|L)?([diouxXcspfFeEgGaAm%]))");
    for (std::size_t position = format.find('%'); position != std::string::npos;
         position = format.find('%', position))
    {
        std::smatch match;
        if (!std::regex_search(format.begin() + static_cast<std::ptrdiff_t>(position), format.end(), match,
                               conversion, std::regex_constants::match_continuous))
        {
            return Verdict::NotCapturable;
        }
        position += static_cast<std::size_t>(match.length());
        const char type = match.str(6)[0];
        if (type == '%')
        {
            if (match.length() != 2)
            {
                return Verdict::NotCapturable;
            }
            continue;
        }
        if (!AddNumber(match[2], arguments) || !AddNumber(match[4], arguments))
        {
            return Verdict::TooLarge;
        }
        Argument argument{};
        bool takesArgument = true;
        if (!TypeOf(match.str(5), type, argument.type, takesArgument))
        {
            return Verdict::NotCapturable;
        }
        if (match[3].matched && match.str(4) != "*")
        {
            argument.precision = NumberOf(match.str(4));
        }
        if (takesArgument)
        {
            arguments.push_back(argument);
        }
    }
    return arguments.size() <= MaxArguments ? Verdict::Capturable : Verdict::TooLarge;
}

// The values of the arguments, made from the input, and their libffi description.
class ArgumentValues
{
public:
    ArgumentValues(const std::vector<Argument>& arguments, std::string_view& input)
    {
        values.resize(arguments.size());
        for (std::size_t index = 0; index < arguments.size(); ++index)
        {
            Add(arguments[index], values[index], input);
        }
    }

    std::vector<ffi_type*> types;
    std::vector<void*> addresses;

private:
    union Value
    {
        int integer;
        unsigned int unsignedInteger;
        long longInteger;
        long long longLong;
        double real;
        long double longReal;
        const void* pointer;
    };

    void Add(const Argument& argument, Value& value, std::string_view& input)
    {
        addresses.push_back(&value);
        switch (argument.type)
        {
            case Type::Int:
                value.integer = Take<int>(input);
                if (argument.isStar)
                {
                    value.integer %= MaxNumber + 1;
                }
                return types.push_back(&ffi_type_sint);
            case Type::Unsigned:
                value.unsignedInteger = Take<unsigned int>(input);
                return types.push_back(&ffi_type_uint);
            case Type::Long:
            case Type::LongLong:
                value.longLong = Take<long long>(input);
                return types.push_back(&ffi_type_sint64);
            case Type::UnsignedLong:
            case Type::UnsignedLongLong:
                value.longLong = Take<long long>(input);
                return types.push_back(&ffi_type_uint64);
            case Type::Double:
                value.real = Take<double>(input);
                return types.push_back(&ffi_type_double);
            case Type::LongDouble:
                value.longReal = 0;
                std::memcpy(&value.longReal, input.data(), std::min<std::size_t>(10, input.size()));
                input.remove_prefix(std::min<std::size_t>(10, input.size()));
                return types.push_back(&ffi_type_longdouble);
            case Type::String:
                value.pointer = AddString(argument.precision, input);
                return types.push_back(&ffi_type_pointer);
            case Type::Pointer:
                value.pointer = reinterpret_cast<const void*>(Take<std::uintptr_t>(input));
                return types.push_back(&ffi_type_pointer);
        }
    }

    // A string of up to 63 characters, or null. With a precision no longer than its text, it is an
    // array of that many characters without a NUL, as a caller may pass.
    const char* AddString(int precision, std::string_view& input)
    {
        const auto control = Take<std::uint8_t>(input);
        if (control == 0xFF)
        {
            return nullptr;
        }
        const std::string text(input.substr(0, control % 64));
        input.remove_prefix(text.size());
        const std::size_t length = std::strlen(text.c_str());
        const bool unterminated = precision > 0 && static_cast<std::size_t>(precision) <= length;
        const std::size_t size = unterminated ? static_cast<std::size_t>(precision) : length + 1;
        strings.push_back(std::make_unique<char[]>(size));
        std::memcpy(strings.back().get(), text.c_str(), size);
        return strings.back().get();
    }

    std::vector<Value> values;
    std::vector<std::unique_ptr<char[]>> strings;
};

int inputErrno = 0;
FormatCache cache(256);

std::string Vsnprintf(const char* format, std::va_list& arguments, int& length)
    __attribute__((format(printf, 1, 0)));
std::string Vsnprintf(const char* format, std::va_list& arguments, int& length)
{
    std::va_list copy;
    va_copy(copy, arguments);
    errno = inputErrno;
    length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
    {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    va_copy(copy, arguments);
    errno = inputErrno;
    std::vsnprintf(text.data(), text.size(), format, copy);
    va_end(copy);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void Fail(const char* what, const char* format, const std::string& expected, const std::string& text)
{
    std::fprintf(stderr, "%s\nformat   [%s]\nvsnprintf[%s] (%zu)\ncaptured [%s] (%zu)\n", what, format,
                 expected.c_str(), expected.size(), text.c_str(), text.size());
    std::abort();
}

// Called through libffi with the arguments the format reads.
int Check(const char* format, ...) __attribute__((format(printf, 1, 2)));
int Check(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    int length = 0;
    const std::string expected = Vsnprintf(format, arguments, length);

    const ParsedFormat parsed(format);
    const ParsedFormat* const cached = cache.Find(format);
    if (cached != nullptr && cached->Text() != format)
    {
        Fail("the cache found another format", format, expected, cached->Text());
    }
    CaptureBuffer bytes;
    errno = inputErrno;
    CaptureArguments(parsed, arguments, bytes);
    va_end(arguments);

    const int otherErrno = inputErrno ^ 1;
    errno = otherErrno;
    std::string text;
    const bool formatted = FormatCapturedArguments(parsed, bytes.Data(), bytes.Size(), text);
    if (errno != otherErrno)
    {
        Fail("errno changed", format, expected, text);
    }
    if (formatted != (length >= 0) || text != expected)
    {
        Fail("the texts differ", format, expected, text);
    }
    return 0;
}

void CallCheck(const std::string& format, ArgumentValues& values)
{
    const char* formatText = format.c_str();
    std::vector<ffi_type*> types{&ffi_type_pointer};
    types.insert(types.end(), values.types.begin(), values.types.end());
    std::vector<void*> addresses{&formatText};
    addresses.insert(addresses.end(), values.addresses.begin(), values.addresses.end());
    ffi_cif cif;
    if (ffi_prep_cif_var(&cif, FFI_DEFAULT_ABI, 1, static_cast<unsigned>(types.size()), &ffi_type_sint,
                         types.data()) != FFI_OK)
    {
        std::abort();
    }
    ffi_arg result = 0;
    ffi_call(&cif, reinterpret_cast<void (*)()>(&Check), &result, addresses.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string format(input.substr(0, input.find('\0')));
    input.remove_prefix(std::min(format.size() + 1, input.size()));

    std::vector<Argument> arguments;
    const Verdict verdict = ReadConversions(format, arguments);
    if (verdict == Verdict::TooLarge)
    {
        return 0;
    }
    if (ParsedFormat(format.c_str()).Capturable() != (verdict == Verdict::Capturable))
    {
        Fail(verdict == Verdict::Capturable ? "not capturable" : "capturable", format.c_str(), "", "");
    }
    if (verdict == Verdict::Capturable)
    {
        inputErrno = Take<int>(input);
        ArgumentValues values(arguments, input);
        CallCheck(format, values);
    }
    return 0;
}
