#pragma once

#include <filesystem>
#include <memory>
#include <vector>

namespace ozr::bench
{

// One logging library under comparison, set up the way its documentation suggests for "log to a file
// and to the console": asynchronous where the library offers it.
class Peer
{
public:
    virtual ~Peer() = default;
    virtual const char* Name() const = 0;
    // Sets up a logger that writes to a file in `logDirectory` and to the console, plus a logger (or
    // level) that rejects everything below errors.
    virtual void Start(const std::filesystem::path& logDirectory) = 0;
    // One call that the verbosity rejects.
    virtual void LogRejected() = 0;
    // One call that is written, numbered `index`.
    virtual void LogAccepted(int index) = 0;
    // Returns once every accepted call has reached the file; the next Start begins afresh.
    virtual void Stop() = 0;
};

std::unique_ptr<Peer> MakeOstrelPeer();        // through the call-site macros
std::unique_ptr<Peer> MakeOstrelByNamePeer();  // through ToLog, finding the zone by name
std::unique_ptr<Peer> MakeSpdlogPeer();
std::unique_ptr<Peer> MakeSpdlogSyncPeer();
std::unique_ptr<Peer> MakeGlogPeer();
std::unique_ptr<Peer> MakeBoostLogPeer();
std::unique_ptr<Peer> MakeQuillPeer();  // built only where quill's headers are given

}  // namespace ozr::bench
