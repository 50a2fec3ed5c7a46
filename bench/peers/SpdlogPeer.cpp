#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "Peer.h"

namespace ozr::bench
{
namespace
{

// An asynchronous logger with spdlog's default queue (8192 entries, the caller blocks when it is full)
// and one worker, writing to a file and to standard output; rejected calls look the logger up by name.
class SpdlogPeer final : public Peer
{
public:
    const char* Name() const override { return "spdlog 1.10 (async)"; }

    void Start(const std::filesystem::path& logDirectory) override
    {
        spdlog::init_thread_pool(8192, 1);
        std::vector<spdlog::sink_ptr> sinks{
            std::make_shared<spdlog::sinks::basic_file_sink_mt>((logDirectory / "spdlog.txt").string()),
            std::make_shared<spdlog::sinks::stdout_sink_mt>()};
        logger = std::make_shared<spdlog::async_logger>(
            "Peer", sinks.begin(), sinks.end(), spdlog::thread_pool(), spdlog::async_overflow_policy::block);
        logger->set_pattern("%s(%#): (TID %t) %Y-%m-%d %H:%M:%S.%f [%l] - %v");
        spdlog::register_logger(logger);
        auto quiet = std::make_shared<spdlog::async_logger>("Quiet", sinks.begin(), sinks.end(),
                                                            spdlog::thread_pool());
        quiet->set_level(spdlog::level::err);
        spdlog::register_logger(quiet);
    }

    void LogRejected() override { spdlog::get("Quiet")->info("rejected {}", 42); }

    void LogAccepted(int index) override
    {
        SPDLOG_LOGGER_INFO(logger, "Message {} of the comparison", index);
    }

    void Stop() override
    {
        logger.reset();
        spdlog::shutdown();  // drains the queue, joins the worker, closes the file
    }

private:
    std::shared_ptr<spdlog::async_logger> logger;
};

// A synchronous logger writing through the same two sinks on the calling thread; the file sink is
// buffered by stdio, as the library's console output is.
class SpdlogSyncPeer final : public Peer
{
public:
    const char* Name() const override { return "spdlog 1.10 (sync, buffered)"; }

    void Start(const std::filesystem::path& logDirectory) override
    {
        std::vector<spdlog::sink_ptr> sinks{
            std::make_shared<spdlog::sinks::basic_file_sink_mt>((logDirectory / "spdlog.txt").string()),
            std::make_shared<spdlog::sinks::stdout_sink_mt>()};
        logger = std::make_shared<spdlog::logger>("Peer", sinks.begin(), sinks.end());
        logger->set_pattern("%s(%#): (TID %t) %Y-%m-%d %H:%M:%S.%f [%l] - %v");
        spdlog::register_logger(logger);
        auto quiet = std::make_shared<spdlog::logger>("Quiet", sinks.begin(), sinks.end());
        quiet->set_level(spdlog::level::err);
        spdlog::register_logger(quiet);
    }

    void LogRejected() override { spdlog::get("Quiet")->info("rejected {}", 42); }

    void LogAccepted(int index) override
    {
        SPDLOG_LOGGER_INFO(logger, "Message {} of the comparison", index);
    }

    void Stop() override
    {
        logger->flush();
        logger.reset();
        spdlog::shutdown();
    }

private:
    std::shared_ptr<spdlog::logger> logger;
};

}  // namespace

std::unique_ptr<Peer> MakeSpdlogPeer()
{
    return std::make_unique<SpdlogPeer>();
}

std::unique_ptr<Peer> MakeSpdlogSyncPeer()
{
    return std::make_unique<SpdlogSyncPeer>();
}

}  // namespace ozr::bench
