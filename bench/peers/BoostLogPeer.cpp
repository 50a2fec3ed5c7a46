#include <iostream>
#include <string>

#include <boost/core/null_deleter.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/async_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_channel_logger.hpp>
#include <boost/log/support/date_time.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>

#include "Peer.h"

namespace ozr::bench
{
namespace
{

namespace logging = boost::log;
namespace expressions = boost::log::expressions;

BOOST_LOG_ATTRIBUTE_KEYWORD(severity, "Severity", int)
BOOST_LOG_ATTRIBUTE_KEYWORD(channel, "Channel", std::string)
BOOST_LOG_ATTRIBUTE_KEYWORD(timeStamp, "TimeStamp", boost::posix_time::ptime)

constexpr int InfoLevel = 4;
constexpr int ErrorLevel = 0;

using FileSink = logging::sinks::asynchronous_sink<logging::sinks::text_file_backend>;
using ConsoleSink = logging::sinks::asynchronous_sink<logging::sinks::text_ostream_backend>;
using ChannelLogger = logging::sources::severity_channel_logger_mt<int, std::string>;

// Two asynchronous sinks (a file and standard output), each with its own feeding thread and unbounded
// queue. Loggers are objects with a channel attribute; the core's filter rejects the channel "Quiet"
// below errors (Boost.Log has no lookup of a logger by name).
class BoostLogPeer final : public Peer
{
public:
    const char* Name() const override { return "Boost.Log 1.74 (async sinks)"; }

    void Start(const std::filesystem::path& logDirectory) override
    {
        logging::add_common_attributes();
        const auto format = expressions::stream
                            << expressions::format_date_time(timeStamp, "%Y-%b-%d %H:%M:%S.%f") << " ["
                            << severity << "] - " << expressions::smessage;
        auto fileBackend = boost::make_shared<logging::sinks::text_file_backend>(
            logging::keywords::file_name = (logDirectory / "boostlog.txt").string());
        fileSink = boost::make_shared<FileSink>(fileBackend);
        fileSink->set_formatter(format);
        auto consoleBackend = boost::make_shared<logging::sinks::text_ostream_backend>();
        consoleBackend->add_stream(boost::shared_ptr<std::ostream>(&std::cout, boost::null_deleter()));
        consoleSink = boost::make_shared<ConsoleSink>(consoleBackend);
        consoleSink->set_formatter(format);
        logging::core::get()->add_sink(fileSink);
        logging::core::get()->add_sink(consoleSink);
        logging::core::get()->set_filter(channel != "Quiet" || severity <= ErrorLevel);
    }

    void LogRejected() override { BOOST_LOG_SEV(quietLogger, InfoLevel) << "rejected " << 42; }

    void LogAccepted(int index) override
    {
        BOOST_LOG_SEV(logger, InfoLevel) << "Message " << index << " of the comparison";
    }

    void Stop() override
    {
        for (const auto& sink : {boost::static_pointer_cast<logging::sinks::sink>(fileSink),
                                 boost::static_pointer_cast<logging::sinks::sink>(consoleSink)})
        {
            logging::core::get()->remove_sink(sink);
        }
        fileSink->stop();
        fileSink->flush();
        consoleSink->stop();
        consoleSink->flush();
        fileSink.reset();
        consoleSink.reset();
    }

private:
    ChannelLogger logger{logging::keywords::channel = "Peer"};
    ChannelLogger quietLogger{logging::keywords::channel = "Quiet"};
    boost::shared_ptr<FileSink> fileSink;
    boost::shared_ptr<ConsoleSink> consoleSink;
};

}  // namespace

std::unique_ptr<Peer> MakeBoostLogPeer()
{
    return std::make_unique<BoostLogPeer>();
}

}  // namespace ozr::bench
