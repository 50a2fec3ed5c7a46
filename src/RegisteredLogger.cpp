#include "RegisteredLogger.h"

namespace ozr::logging
{

namespace
{

// Publishes the logger's verbosity, and again if it changed meanwhile: whichever caller publishes last
// has seen the logger's final value afterwards.
void Publish(ZoneEntry& entry, std::uint32_t generation, const ILogger& logger) noexcept
{
    for (;;)
    {
        const Severity verbosity = logger.GetVerbosity();
        if (!entry.Update(generation, verbosity) || logger.GetVerbosity() == verbosity)
        {
            return;
        }
    }
}

}  // namespace

RegisteredLogger::RegisteredLogger(std::shared_ptr<Logger> logger, std::shared_ptr<ZoneEntry> entry,
                                   std::uint32_t generation)
    : logger(std::move(logger)), entry(std::move(entry)), generation(generation)
{
    // A level that the zone's settings file puts in force reaches log calls too. The logger, which calls
    // the observer, may outlive this registration; the entry is held weakly, since it holds the logger.
    this->logger->SetWatchedVerbosityObserver(
        [weakEntry = std::weak_ptr<ZoneEntry>(this->entry), generation, watched = this->logger.get()]
        {
            if (const auto entry = weakEntry.lock())
            {
                Publish(*entry, generation, *watched);
            }
        });
}

void RegisteredLogger::Flush(std::shared_ptr<void> done) const
{
    logger->Flush(std::move(done));
}

void RegisteredLogger::Log(std::shared_ptr<Message const> message)
{
    logger->Log(std::move(message));
}

// The new value reaches log calls at once, before the settings file is written, as the logger's own
// value does; afterwards the entry is brought in line with whatever the logger holds, so that
// concurrent changes end with the value of the last one (also when the write throws).
void RegisteredLogger::SetVerbosity(Severity verbosity)
{
    entry->Update(generation, verbosity);
    try
    {
        logger->SetVerbosity(verbosity);
    }
    catch (...)
    {
        PublishVerbosity();
        throw;
    }
    PublishVerbosity();
}

Severity RegisteredLogger::GetVerbosity() const
{
    return logger->GetVerbosity();
}

void RegisteredLogger::Shutdown()
{
    shutdown.store(true, std::memory_order_relaxed);
}

bool RegisteredLogger::IsShutdown() const
{
    return shutdown.load(std::memory_order_relaxed);
}

void RegisteredLogger::Reactivate() noexcept
{
    shutdown.store(false, std::memory_order_relaxed);
}

void RegisteredLogger::PublishVerbosity() noexcept
{
    Publish(*entry, generation, *logger);
}

}  // namespace ozr::logging
