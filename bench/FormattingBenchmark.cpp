// The text line of the console and file appenders (both PrintMessage overloads, and the text and JSON
// lines as the worker builds them, into one reused string) and the syslog datagram payload, each on its
// own, for a short and a long message text. And a typical printf format:
// formatted by vsnprintf, as the calling thread does it today; its arguments captured, as the calling
// thread would instead; and formatted from the captured arguments, as the worker would.

#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>

#include "ArgumentCapture.h"
#include "FormatCache.h"
#include "MessageFactory.h"
#include "appender/JsonLine.h"
#include "appender/TextLine.h"
#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/appender/MessageFormatter.h"
#include "ozr/logging/appender/syslog/Appender.h"

namespace
{

// Accepts and forgets every character, so that only the formatting is measured.
class DiscardingBuffer final : public std::streambuf
{
protected:
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    int_type overflow(int_type character) override { return traits_type::not_eof(character); }
};

std::string TextOfLength(benchmark::State& state)
{
    return std::string(static_cast<std::size_t>(state.range(0)), 'x');
}

void PrintMessageToStream(benchmark::State& state)
{
    const ozr::logging::appender::MessageFormatter formatter;
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    DiscardingBuffer buffer;
    std::ostream stream(&buffer);
    for (auto _ : state)
    {
        formatter.PrintMessage(stream, *message);
    }
}

void PrintMessageToString(benchmark::State& state)
{
    const ozr::logging::appender::MessageFormatter formatter;
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(formatter.PrintMessage(*message));
    }
}

void AppendTextLineToReusedString(benchmark::State& state)
{
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    std::string line;
    for (auto _ : state)
    {
        line.clear();
        ozr::logging::appender::AppendTextLine(line, *message);
        benchmark::DoNotOptimize(line.data());
    }
}

void AppendJsonLineToReusedString(benchmark::State& state)
{
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    std::string line;
    for (auto _ : state)
    {
        line.clear();
        ozr::logging::appender::AppendJsonLine(line, *message, "gatewayd");
        benchmark::DoNotOptimize(line.data());
    }
}

void FormatSyslogPayload(benchmark::State& state)
{
    boost::asio::io_context ioContext;
    const ozr::logging::ApplicationInfoProvider applicationInfo;
    ozr::logging::appender::syslog::Appender appender(ioContext, applicationInfo, {"127.0.0.1", 514});
    const auto message = ozr::testing::MakeMessage(TextOfLength(state));
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(appender.FormatLogMessage(*message));
    }
}

constexpr const char* TypicalFormat = "connection to %s lost after %d tries (%.2f s)";

#define OZR_TYPICAL_ARGUMENTS "db-primary.example.org", 3, 12.3456

int Vsnprintf(char* buffer, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int Vsnprintf(char* buffer, std::size_t size, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    return length;
}

const ozr::logging::ParsedFormat* Capture(ozr::logging::FormatCache& cache,
                                          ozr::logging::CaptureBuffer& bytes, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
const ozr::logging::ParsedFormat* Capture(ozr::logging::FormatCache& cache,
                                          ozr::logging::CaptureBuffer& bytes, const char* format, ...)
{
    const ozr::logging::ParsedFormat* const parsed = cache.Find(format);
    std::va_list arguments;
    va_start(arguments, format);
    ozr::logging::CaptureArguments(*parsed, arguments, bytes);
    va_end(arguments);
    return parsed;
}

void FormatWithVsnprintf(benchmark::State& state)
{
    char buffer[512];
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(Vsnprintf(buffer, sizeof buffer, TypicalFormat, OZR_TYPICAL_ARGUMENTS));
        benchmark::ClobberMemory();
    }
}

void CaptureArguments(benchmark::State& state)
{
    ozr::logging::FormatCache cache;
    ozr::logging::CaptureBuffer bytes;
    for (auto _ : state)
    {
        bytes.Clear();
        benchmark::DoNotOptimize(Capture(cache, bytes, TypicalFormat, OZR_TYPICAL_ARGUMENTS));
        benchmark::ClobberMemory();
    }
}

void FormatCapturedArguments(benchmark::State& state)
{
    ozr::logging::FormatCache cache;
    ozr::logging::CaptureBuffer bytes;
    const ozr::logging::ParsedFormat* const parsed =
        Capture(cache, bytes, TypicalFormat, OZR_TYPICAL_ARGUMENTS);
    std::string text;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(
            ozr::logging::FormatCapturedArguments(*parsed, bytes.Data(), bytes.Size(), text));
    }
}

}  // namespace

BENCHMARK(FormatWithVsnprintf);
BENCHMARK(CaptureArguments);
BENCHMARK(FormatCapturedArguments);
BENCHMARK(PrintMessageToStream)->Arg(20)->Arg(200);
BENCHMARK(PrintMessageToString)->Arg(20)->Arg(200);
BENCHMARK(AppendTextLineToReusedString)->Arg(20)->Arg(200);
BENCHMARK(AppendJsonLineToReusedString)->Arg(20)->Arg(200);
BENCHMARK(FormatSyslogPayload)->Arg(20)->Arg(200);

BENCHMARK_MAIN();
