#include "appender/JsonLine.h"

#include <pthread.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "ZoneName.h"
#include "appender/SplitTime.h"
#include "appender/TextAppend.h"
#include "appender/Utf8Text.h"

// The JSON text is written by hand: Boost 1.74 has no JSON library yet, and the JSON libraries of the
// distribution build a document per message or stop at the first byte that is not UTF-8, where a log
// line must go on and show U+FFFD instead.

namespace ozr::logging::appender
{
namespace
{

using boost::posix_time::ptime;

constexpr std::int64_t TicksPerSecond = boost::posix_time::time_duration::ticks_per_second();
static_assert(TicksPerSecond % 1'000'000 == 0, "the time is written in microseconds");
constexpr std::int64_t TicksPerMicrosecond = TicksPerSecond / 1'000'000;
constexpr std::int64_t TicksPerMinute = 60 * TicksPerSecond;
constexpr std::int64_t MinutesPerDay = 24 * 60;

// ---- Strings

// Printable ASCII other than the quotation mark and the backslash stands in a JSON string as it is.
bool IsPlainAscii(unsigned char byte)
{
    return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
}

// The escape of an ASCII byte that cannot stand as it is: the short form where JSON has one, else \u00XX.
void AppendEscape(std::string& out, unsigned char byte)
{
    constexpr std::string_view shortForms[] = {"\\\"", "\\\\", "\\b", "\\f", "\\n", "\\r", "\\t"};
    constexpr std::string_view escaped = "\"\\\b\f\n\r\t";
    const std::size_t form = escaped.find(static_cast<char>(byte));
    if (form != std::string_view::npos)
    {
        out += shortForms[form];
        return;
    }
    const std::array<char, 6> escape{'\\', 'u', '0', '0', HexPairs[2 * byte], HexPairs[2 * byte + 1]};
    out.append(escape.data(), escape.size());
}

// Whether any of the eight bytes of `word` is not plain ASCII (a control character, '"', '\\' or a byte of
// 0x80 or more), tested on all eight at once; a byte found here is then looked at on its own.
bool HasSpecialByte(std::uint64_t word)
{
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highBits = 0x8080808080808080;
    const auto hasZeroByte = [](std::uint64_t value) { return (value - ones) & ~value & highBits; };
    const std::uint64_t belowSpace = (word - ones * 0x20) & ~word & highBits;
    return ((word & highBits) | belowSpace | hasZeroByte(word ^ (ones * '"')) |
            hasZeroByte(word ^ (ones * '\\'))) != 0;
}

// Where the bytes from `position` on stop going out as they are: at the end, or at a byte to escape or
// replace. Plain ASCII is skipped eight bytes at a time.
std::size_t EndOfPlainRun(std::string_view text, std::size_t position)
{
    while (position < text.size())
    {
        std::uint64_t word = 0;
        if (text.size() - position >= sizeof word)
        {
            std::memcpy(&word, text.data() + position, sizeof word);
            if (!HasSpecialByte(word))
            {
                position += sizeof word;
                continue;
            }
        }
        const auto byte = static_cast<unsigned char>(text[position]);
        if (IsPlainAscii(byte))
        {
            ++position;
            continue;
        }
        if (byte < 0x80)
        {
            return position;
        }
        const Utf8Sequence sequence = Utf8SequenceAt(text, position);
        if (!sequence.wellFormed)
        {
            return position;
        }
        position += sequence.length;
    }
    return position;
}

// Appends what stands for the byte or ill-formed sequence at `position` and returns the position after it.
std::size_t AppendReplacement(std::string& out, std::string_view text, std::size_t position)
{
    const auto byte = static_cast<unsigned char>(text[position]);
    if (byte < 0x80)
    {
        AppendEscape(out, byte);
        return position + 1;
    }
    out += Utf8ReplacementCharacter;
    return position + Utf8SequenceAt(text, position).length;
}

// The content of a JSON string holding `text`, without its quotes.
void AppendEscaped(std::string& out, std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size())
    {
        const std::size_t runEnd = EndOfPlainRun(text, position);
        out.append(text.data() + position, runEnd - position);
        position = runEnd < text.size() ? AppendReplacement(out, text, runEnd) : runEnd;
    }
}

// ---- Time

// "2026-03-05T14:07:09": the date and time of day of a whole second.
constexpr std::size_t DateTimeLength = 19;
// "\"" date and time ".123456+01:00\"", the longest the time value can be.
constexpr std::size_t MaxTimeLength = 1 + DateTimeLength + 7 + 6 + 1;

// "2026-03-05T14:07:09".
void WriteDateTime(char* out, const ptime& time)
{
    const auto date = time.date().year_month_day();
    out = WriteDigits(out, date.year, 4);
    *out++ = '-';
    out = WriteDigits(out, date.month, 2);
    *out++ = '-';
    out = WriteDigits(out, date.day, 2);
    *out++ = 'T';
    WriteTimeOfDay(out, time);
}

thread_local SecondTextCache<DateTimeLength, WriteDateTime> t_dateTime;

// Local time minus universal time in whole minutes, rounded to the nearest (the two are read one after
// the other, microseconds apart). None when the universal time is missing or the difference is a day or
// more, which no time zone has.
std::optional<std::int64_t> OffsetMinutes(const Message& message)
{
    if (message.universalTime.is_special())
    {
        return std::nullopt;
    }
    const std::int64_t ticks = (message.localTime - message.universalTime).ticks();
    const std::int64_t minutes =
        (ticks + (ticks < 0 ? -TicksPerMinute : TicksPerMinute) / 2) / TicksPerMinute;
    if (minutes <= -MinutesPerDay || minutes >= MinutesPerDay)
    {
        return std::nullopt;
    }
    return minutes;
}

// "+01:00", or "-00:00", which stands for an unknown offset.
char* WriteOffset(char* out, std::optional<std::int64_t> minutes)
{
    if (!minutes)
    {
        return WriteLiteral(out, "-00:00");
    }
    *out++ = *minutes < 0 ? '-' : '+';
    const auto magnitude = static_cast<std::uint64_t>(*minutes < 0 ? -*minutes : *minutes);
    out = WriteDigits(out, magnitude / 60, 2);
    *out++ = ':';
    return WriteDigits(out, magnitude % 60, 2);
}

// The quoted time "2026-03-05T14:07:09.123456+01:00", or null for a record without a local time.
char* WriteTime(char* out, const Message& message)
{
    const ptime& time = message.localTime;
    if (time.is_special())
    {
        return WriteLiteral(out, "null");
    }
    const SplitTime split = Split(time);
    const auto& dateTime = t_dateTime.TextOf(time, split.second);
    *out++ = '"';
    std::memcpy(out, dateTime.data(), dateTime.size());
    out += dateTime.size();
    *out++ = '.';
    out = WriteDigits(out, static_cast<std::uint64_t>(split.fraction / TicksPerMicrosecond), 6);
    out = WriteOffset(out, OffsetMinutes(message));
    *out++ = '"';
    return out;
}

// ---- Other fields

std::atomic<pid_t> g_processId{0};

void ForgetProcessId()
{
    g_processId.store(0, std::memory_order_relaxed);
}

// The process id, asked of the kernel once per process: a forked child forgets its parent's.
pid_t ProcessId()
{
    static const int forgottenInChild = pthread_atfork(nullptr, nullptr, &ForgetProcessId);
    static_cast<void>(forgottenInChild);
    pid_t id = g_processId.load(std::memory_order_relaxed);
    if (id == 0)
    {
        id = getpid();
        g_processId.store(id, std::memory_order_relaxed);
    }
    return id;
}

// The keys, punctuation and numbers of a line at their longest, with room to spare: what the strings
// take beyond their own length, for escapes, the line grows for.
constexpr std::size_t FixedLengthEstimate = 192;

// The numbers and the time go through a buffer on the stack, so that a line takes about ten appends.
constexpr std::size_t MaxPieceLength = 64;
static_assert(MaxPieceLength >= 8 + MaxTimeLength + 13);
static_assert(MaxPieceLength >= 24 + 2 * MaxDecimalDigits);

template <std::size_t Size>
void AppendUpTo(std::string& out, const std::array<char, Size>& piece, const char* end)
{
    out.append(piece.data(), static_cast<std::size_t>(end - piece.data()));
}

// {"time":"...","severity":"
char* WriteTimeAndSeverityKey(char* out, const Message& message)
{
    out = WriteTime(WriteLiteral(out, "{\"time\":"), message);
    return WriteLiteral(out, ",\"severity\":\"");
}

// ","pid":4242,"tid":2684,"file":"
char* WriteProcessAndThread(char* out, const Message& message)
{
    out = WriteDecimal(WriteLiteral(out, "\",\"pid\":"), static_cast<std::uint64_t>(ProcessId()));
    out = WriteDecimal(WriteLiteral(out, ",\"tid\":"), message.threadId);
    return WriteLiteral(out, ",\"file\":\"");
}

// ","line":42,"message":"
char* WriteLineNumber(char* out, const Message& message)
{
    out = WriteDecimal(WriteLiteral(out, "\",\"line\":"), message.line);
    return WriteLiteral(out, ",\"message\":\"");
}

// ","zone":"Net","app":"  or  ","zone":null,"app":"
void AppendZone(std::string& out, const char* zone)
{
    if (IsDefaultZone(zone))
    {
        out += "\",\"zone\":null,\"app\":\"";
        return;
    }
    out += "\",\"zone\":\"";
    AppendEscaped(out, zone);
    out += "\",\"app\":\"";
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    out.push_back('"');
    AppendEscaped(out, text);
    out.push_back('"');
}

void AppendJsonLine(std::string& out, const Message& message, std::string_view applicationName)
{
    const std::string_view severity = SeverityToString(message.severity);
    out.reserve(out.size() + FixedLengthEstimate + applicationName.size() + message.file.size() +
                message.text.size());
    std::array<char, MaxPieceLength> piece;
    AppendUpTo(out, piece, WriteTimeAndSeverityKey(piece.data(), message));
    out += severity;  // the canonical names are plain ASCII words
    AppendZone(out, message.zone);
    AppendEscaped(out, applicationName);
    AppendUpTo(out, piece, WriteProcessAndThread(piece.data(), message));
    AppendEscaped(out, message.file);
    AppendUpTo(out, piece, WriteLineNumber(piece.data(), message));
    AppendEscaped(out, message.text);
    out += "\"}\n";
}

}  // namespace ozr::logging::appender
