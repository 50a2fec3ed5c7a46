#include <glog/logging.h>

#include "Peer.h"

namespace ozr::bench
{
namespace
{

// glog writes on the calling thread (it has no asynchronous mode) to its INFO file and, as the console,
// to standard error. It has no named loggers; the rejected call is a VLOG above the verbosity.
class GlogPeer final : public Peer
{
public:
    const char* Name() const override { return "glog 0.6 (synchronous)"; }

    void Start(const std::filesystem::path& logDirectory) override
    {
        static const bool initialised = []
        {
            google::InitGoogleLogging("ostrel-peer");
            return true;
        }();
        static_cast<void>(initialised);
        FLAGS_alsologtostderr = true;
        FLAGS_colorlogtostderr = false;
        FLAGS_v = 0;
        google::SetLogDestination(google::GLOG_INFO, (logDirectory / "glog.").c_str());
    }

    void LogRejected() override { VLOG(1) << "rejected " << 42; }

    void LogAccepted(int index) override { LOG(INFO) << "Message " << index << " of the comparison"; }

    void Stop() override { google::FlushLogFiles(google::GLOG_INFO); }
};

}  // namespace

std::unique_ptr<Peer> MakeGlogPeer()
{
    return std::make_unique<GlogPeer>();
}

}  // namespace ozr::bench
