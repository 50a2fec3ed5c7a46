#include <cstdio>

#include "quill/Backend.h"
#include "quill/Frontend.h"
#include "quill/LogMacros.h"
#include "quill/Logger.h"
#include "quill/sinks/ConsoleSink.h"
#include "quill/sinks/FileSink.h"

#include "Peer.h"

namespace ozr::bench
{
namespace
{

// quill as its documentation sets it up: its default frontend options (unbounded per-thread queues), one
// backend thread, a file sink and a console sink on standard output; rejected calls look the logger up
// by name, as for spdlog.
class QuillPeer final : public Peer
{
public:
    const char* Name() const override { return "quill 12.1 (default)"; }

    void Start(const std::filesystem::path& logDirectory) override
    {
        quill::Backend::start();
        quill::FileSinkConfig fileConfig;
        fileConfig.set_open_mode('w');
        auto file = quill::Frontend::create_or_get_sink<quill::FileSink>(
            (logDirectory / "quill.txt").string(), fileConfig, quill::FileEventNotifier{});
        auto console = quill::Frontend::create_or_get_sink<quill::ConsoleSink>("console");
        const quill::PatternFormatterOptions pattern{
            "%(file_name)(%(line_number)): (TID %(thread_id)) %(time) [%(log_level)] - %(message)",
            "%Y-%m-%d %H:%M:%S.%Qus"};
        logger = quill::Frontend::create_or_get_logger("Peer", {file, console}, pattern);
        quill::Frontend::create_or_get_logger("Quiet", {file, console}, pattern)
            ->set_log_level(quill::LogLevel::Error);
    }

    void LogRejected() override { LOG_INFO(quill::Frontend::get_logger("Quiet"), "rejected {}", 42); }

    void LogAccepted(int index) override { LOG_INFO(logger, "Message {} of the comparison", index); }

    void Stop() override
    {
        logger->flush_log();
        quill::Backend::stop();
        std::fflush(stdout);  // the console sink writes through stdio, which may still hold the last line
    }

private:
    quill::Logger* logger = nullptr;
};

}  // namespace

std::unique_ptr<Peer> MakeQuillPeer()
{
    return std::make_unique<QuillPeer>();
}

}  // namespace ozr::bench
