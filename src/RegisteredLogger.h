#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "ZoneTable.h"
#include "ozr/logging/Logger.h"

namespace ozr::logging
{

// A zone's logger as the manager hands it out while it is registered. It forwards to the zone's Logger
// and keeps the zone's entry in step with the logger's verbosity, so that log calls test the verbosity
// in the entry, without a lock and without reaching the logger, which a full shutdown may release.
//
// Its shutdown flag is the zone's: ShutdownLogger sets it, InitialiseLogger clears it again. Any thread
// may call any operation; SetVerbosity holds no lock of the manager's.
class RegisteredLogger final : public ILogger
{
public:
    RegisteredLogger(std::shared_ptr<Logger> logger, std::shared_ptr<ZoneEntry> entry,
                     std::uint32_t generation);

    void Log(std::shared_ptr<Message const> message) override;
    void SetVerbosity(Severity verbosity) override;
    Severity GetVerbosity() const override;
    void Shutdown() override;
    bool IsShutdown() const override;

    // Distinguishes this registration from every other logger the zone's entry has had.
    std::uint32_t Generation() const noexcept { return generation; }

    // The zone's name as the registry keeps it, for the zone's records: unlike the caller's text it
    // outlives every record. Null for the default zone.
    const char* ZoneName() const noexcept { return entry->Key() ? entry->Key()->c_str() : nullptr; }

    const ZoneEntry& Entry() const noexcept { return *entry; }

    // The zone was initialised again.
    void Reactivate() noexcept;

    // Passes a flush request on to the zone's logger (see IFlushable).
    void Flush(std::shared_ptr<void> done) const;

private:
    void PublishVerbosity() noexcept;

    const std::shared_ptr<Logger> logger;
    const std::shared_ptr<ZoneEntry> entry;
    const std::uint32_t generation;
    std::atomic<bool> shutdown{false};
};

}  // namespace ozr::logging
