#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>

#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/MessageFormatter.h"
#include "ozr/logging/appender/file/ConfigProvider.h"

namespace ozr::logging::appender::file
{

// Appends each message as one text line to "<baseName>.00.txt" in the log directory and rotates the
// files once the current one is larger than the limit:
//   <base>.00.txt -> <base>.01.txt -> ... -> <base>.<maxFileCount-1>.txt -> deleted
// `Log` may be called from any thread; all file work runs on the appender's strand. No handle is kept
// between messages, so other tools may move or delete the files at any time. File-system failures are
// absorbed: the message is dropped or the rotation retried with the next message, never reported.
// Each queued write holds the appender, so it may outlive its owners. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender, public std::enable_shared_from_this<Appender>
{
public:
    // Creates the log directory (also when disabled). When it cannot, the appender is made all the same
    // and drops its lines until a write manages to create the directory.
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, Config config);

    void Log(std::shared_ptr<Message const> message) override;

    std::string GetLogFileName(std::uint64_t index) const;
    std::filesystem::path GetLogFilePath(std::uint64_t index) const;
    // Removes the oldest retained file and every consecutive file above it.
    void DeleteOldestLogFile() const;
    // Moves every existing file one index up, from the top down.
    void RotateLogFiles() const;

private:
    // The write job, run on the strand: appends the line, then rotates if the file grew past the limit.
    void WriteMessage(const Message& message) const;
    // Indices below the top retained one whose files exist, found with one directory listing.
    std::vector<std::uint64_t> ListRotatableIndices() const;

    boost::asio::io_context::strand strand;
    const IMessageFormatter& formatter;
    const Config config;
    const std::filesystem::path currentFilePath;  // index 00, written by every message
};

}  // namespace ozr::logging::appender::file
