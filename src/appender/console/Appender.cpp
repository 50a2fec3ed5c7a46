#include "ozr/logging/appender/console/Appender.h"

#include <iostream>

#include <boost/asio/dispatch.hpp>

namespace ozr::logging::appender::console
{

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter)
    : strand(ioContext), formatter(formatter)
{
}

void Appender::Log(std::shared_ptr<Message const> message)
{
    boost::asio::dispatch(
        strand, [this, message = std::move(message)] { formatter.PrintMessage(std::cout, *message); });
}

}  // namespace ozr::logging::appender::console
