#include "ozr/logging/appender/console/Appender.h"

#include <iostream>
#include <utility>

#include "LoggingCounters.h"
#include "appender/LineBatch.h"
#include "appender/PendingLines.h"
#include "appender/SharedLine.h"

namespace ozr::logging::appender::console
{
namespace
{

// One write of the whole batch, then a flush: nothing stays behind in the stream's buffer. A failed
// stream swallows the lines; its state is neither examined for the caller nor cleared.
void WriteToStandardOutput(const LineBatch& batch)
{
    if (!batch.IsEmpty())
    {
        std::cout.write(batch.Text().data(), static_cast<std::streamsize>(batch.Text().size()));
    }
    std::cout.flush();
    if (std::cout.good())
    {
        AddTo(g_loggingCounters.consoleLinesWritten, batch.LineCount());
    }
}

}  // namespace

Appender::Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter)
    : strand(ioContext), formatter(formatter), pending(std::make_unique<PendingLines>())
{
}

Appender::~Appender() = default;

void Appender::Log(std::shared_ptr<Message const> message)
{
    if (message == nullptr)
    {
        return;
    }
    pending->Add(FormatSharedLine(formatter, std::move(message)), strand, *this, WriteToStandardOutput);
}

void Appender::Flush(std::shared_ptr<void> done)
{
    pending->Flush(strand, *this, std::move(done), WriteToStandardOutput);
}

}  // namespace ozr::logging::appender::console
