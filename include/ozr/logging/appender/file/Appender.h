#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/io_context_strand.hpp>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/IFlushable.h"
#include "ozr/logging/ILogAppender.h"
#include "ozr/logging/appender/MessageFormatter.h"
#include "ozr/logging/appender/file/ConfigProvider.h"

namespace ozr::logging::appender
{
class LineBatch;
struct LineLayout;
class PendingLines;
}  // namespace ozr::logging::appender

namespace ozr::logging::appender::file
{

// Appends each message as one line, the formatter's text or a JSON object as the Config's `format` says,
// to "<baseName>.00.txt" in the log directory and rotates the files once the current one is larger than
// the limit:
//   <base>.00.txt -> <base>.01.txt -> ... -> <base>.<maxFileCount-1>.txt -> deleted
// With an hourly or daily rotation interval the files also rotate before the first line whose time stamp
// falls in a later local hour or day than the line before it; after a start, the current file's
// modification time stands for its last line. A time stamp earlier than the line before it (a clock set
// back) rotates nothing. An empty current file is never rotated.
// `Log` may be called from any thread. It adds the line to a batch; the first line of a batch queues
// one write job on the appender's strand, and the lines that arrive before that job runs join it (a full
// batch is written at once). A job opens, measures, writes and closes the current file once, rotating
// after exactly the lines that one-at-a-time writing would rotate after. No handle is kept between
// batches, so other tools may move, truncate or delete the files at any time. Write failures drop lines
// and are never reported; part of a line written is cut off again, unless another writer has appended to
// the file since. A current file that is not a regular file (a FIFO, a device) is neither written nor
// waited for. A write past the process's file-size limit fails instead of raising SIGXFSZ, on any thread.
// Each queued job holds the appender, so it may outlive its owners. Always made with std::make_shared.
class OZR_LOGGING_API Appender final : public ILogAppender,
                                       public IFlushable,
                                       public std::enable_shared_from_this<Appender>
{
public:
    // Creates the log directory (also when disabled); throws std::filesystem::filesystem_error when it
    // cannot. JSON lines name the application as `applicationInfo` gives it, read once here; without it,
    // as ApplicationInfoProvider does.
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, Config config);
    Appender(boost::asio::io_context& ioContext, const IMessageFormatter& formatter, Config config,
             const IApplicationInfoProvider& applicationInfo);
    ~Appender() override;

    void Log(std::shared_ptr<Message const> message) override;
    // Writes the lines handed over so far, then releases `done`.
    void Flush(std::shared_ptr<void> done) override;

    std::string GetLogFileName(std::uint64_t index) const;
    std::filesystem::path GetLogFilePath(std::uint64_t index) const;
    // Removes the oldest retained file and every consecutive file above it.
    void DeleteOldestLogFile() const;
    // Moves every existing file one index up, from the top down.
    void RotateLogFiles() const;

private:
    // Writes one batch of lines: run on the strand by the batch's job, or from `Log` on the worker when a
    // batch is full.
    void WriteBatch(const LineBatch& batch);
    // Whether the file, not yet rotated for `period`, must be rotated before a line of that period.
    bool StartsLaterPeriod(std::int64_t period, std::uint64_t fileSize) const;
    // One past the line after which the file, now `size` bytes long, must be rotated; `last` if none.
    std::size_t EndOfSegment(const LineBatch& batch, std::size_t first, std::size_t last,
                             std::uint64_t size) const;
    // False when a file could not be moved or removed.
    bool Rotate() const;
    // Indices below the top retained one whose files exist, found with one directory listing.
    std::vector<std::uint64_t> ListRotatableIndices() const;

    boost::asio::io_context::strand strand;
    const std::unique_ptr<const LineLayout> layout;
    const Config config;
    const std::filesystem::path currentFilePath;  // index 00, written by every batch

    const std::unique_ptr<PendingLines> pending;
    // The rotation period of the current file's last line; 0 until the first batch after the start has
    // judged the file. Used only by WriteBatch, whose calls PendingLines runs one at a time.
    std::int64_t currentPeriod = 0;
};

}  // namespace ozr::logging::appender::file
