#include "ozr/logging/appender/console/Appender.h"

#include <iostream>
#include <utility>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>

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
    const PendingLines::Added added = pending->Add(FormatSharedLine(formatter, std::move(message)));
    if (added.queueJob)
    {
        boost::asio::post(strand, [self = shared_from_this()] { self->WriteQueuedBatch(); });
    }
    // On the worker a full batch is written now; on any other thread the queued job writes it.
    if (added.full && strand.context().get_executor().running_in_this_thread())
    {
        WritePendingLines();
    }
}

void Appender::Flush(std::shared_ptr<void> done)
{
    boost::asio::dispatch(strand,
                          [self = shared_from_this(), done = std::move(done)] { self->WritePendingLines(); });
}

void Appender::WriteQueuedBatch()
{
    pending->JobStarted();
    WritePendingLines();
}

void Appender::WritePendingLines()
{
    pending->WriteWith(WriteToStandardOutput);
}

}  // namespace ozr::logging::appender::console
