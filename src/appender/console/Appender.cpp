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
    boost::asio::dispatch(strand, [self = shared_from_this(), message = std::move(message)]
                          { self->formatter.PrintMessage(std::cout, *message); });
}

}  // namespace ozr::logging::appender::console
