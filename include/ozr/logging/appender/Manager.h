#pragma once

#include <forward_list>
#include <memory>

#include <boost/asio/io_context.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/ConfigLocator.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/MessageFormatter.h"

namespace ozr::logging::appender
{

using AppenderList = std::forward_list<std::shared_ptr<ILogAppender>>;

// Decides which appenders a zone writes to: a new file appender of its own, then the global appenders
// (console unless console.ini turns it off, then syslog when a collector is configured). Has no lock: calls
// must not overlap; the logger manager makes them all under its registry lock, never on the worker.
class OZR_LOGGING_API IManager
{
public:
    virtual ~IManager() = default;
    virtual void LoadGlobalAppenders() = 0;
    virtual void ShutdownGlobalAppenders() = 0;
    virtual AppenderList GetAppenders(char const* zone) const = 0;
};

class OZR_LOGGING_API Manager final : public IManager
{
public:
    Manager(boost::asio::io_context& ioContext, const IApplicationInfoProvider& applicationInfoProvider,
            const IConfigLocator& configLocator);
    ~Manager() override;

    void LoadGlobalAppenders() override;
    void ShutdownGlobalAppenders() override;
    AppenderList GetAppenders(char const* zone) const override;

private:
    boost::asio::io_context& ioContext;
    std::unique_ptr<IMessageFormatter> formatter;
    const IApplicationInfoProvider& applicationInfoProvider;
    const IConfigLocator& configLocator;
    AppenderList globalAppenders;
};

}  // namespace ozr::logging::appender
