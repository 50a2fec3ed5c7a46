#include <string>

#include "Peer.h"
#include "TempDirectory.h"
#include "ozr/logging/Log.h"

namespace ozr::bench
{
namespace
{

const char* const AcceptingZone = "Peer";
const char* const RejectingZone = "Quiet";

class OstrelPeer : public Peer
{
public:
    const char* Name() const override { return "Ostrel (macros)"; }

    void Start(const std::filesystem::path& logDirectory) override
    {
        const auto configDirectory = logDirectory / "config";
        std::filesystem::create_directories(configDirectory);
        ozr::testing::WriteFile(configDirectory / "Peer.Logging.ini",
                                "[OZRLogging]\nLogLevel=Info\n[FileAppender]\nMaxFileSizeMB=4096\n");
        ozr::testing::WriteFile(configDirectory / "Quiet.Logging.ini", "[OZRLogging]\nLogLevel=Error\n");
        ozr::logging::SetLoggingConfigDirectoryPath(configDirectory.c_str());
        ozr::logging::SetLoggingLogsDirectoryPath(logDirectory.c_str());
        ozr::logging::InitialiseLogging(AcceptingZone);
        ozr::logging::InitialiseLogging(RejectingZone);
    }

    void LogRejected() override { OZR_LOG_INFO(RejectingZone, "rejected %d", 42); }

    void LogAccepted(int index) override
    {
        OZR_LOG_INFO(AcceptingZone, "Message %d of the comparison", index);
    }

    void Stop() override
    {
        ozr::logging::ShutdownLogging(RejectingZone);
        ozr::logging::ShutdownLogging(AcceptingZone);
    }
};

class OstrelByNamePeer final : public OstrelPeer
{
public:
    const char* Name() const override { return "Ostrel (ToLog by name)"; }

    void LogRejected() override
    {
        ozr::logging::ToLog(RejectingZone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1, "rejected %d",
                            42);
    }

    void LogAccepted(int index) override
    {
        ozr::logging::ToLog(AcceptingZone, ozr::logging::Severity::Info, __FILE__, __LINE__, 1,
                            "Message %d of the comparison", index);
    }
};

}  // namespace

std::unique_ptr<Peer> MakeOstrelPeer()
{
    return std::make_unique<OstrelPeer>();
}

std::unique_ptr<Peer> MakeOstrelByNamePeer()
{
    return std::make_unique<OstrelByNamePeer>();
}

}  // namespace ozr::bench
