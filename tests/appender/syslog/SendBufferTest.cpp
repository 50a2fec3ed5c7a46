#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "appender/syslog/SendBuffer.h"

namespace
{

using ozr::logging::appender::syslog::SendBuffer;

SendBuffer::Frame FrameOf(const std::string& text)
{
    return std::make_shared<const std::string>(text);
}

std::vector<std::string> Texts(const std::vector<SendBuffer::Frame>& batch)
{
    std::vector<std::string> texts;
    for (const auto& frame : batch)
    {
        texts.push_back(*frame);
    }
    return texts;
}

TEST(SendBufferTest, HandsOutBatchesInOrderWithinTheirSizeButAtLeastOneRecord)
{
    SendBuffer buffer(10);
    buffer.Push(FrameOf("aaaa"));
    buffer.Push(FrameOf("bbbb"));
    buffer.Push(FrameOf("cccccccccc"));

    EXPECT_EQ(Texts(buffer.TakeBatch(8)), (std::vector<std::string>{"aaaa", "bbbb"}));
    EXPECT_TRUE(buffer.TakeBatch(100).empty()) << "a batch is in flight";
    buffer.BatchWritten(0, 8, true);
    EXPECT_EQ(Texts(buffer.TakeBatch(4)), (std::vector<std::string>{"cccccccccc"}));
}

TEST(SendBufferTest, RemovesOnlyRecordsWhoseLastByteIsAcknowledged)
{
    SendBuffer buffer(10);
    for (const char* text : {"aaaa", "bbbb", "cccc"})
    {
        buffer.Push(FrameOf(text));
    }
    buffer.TakeBatch(100);
    buffer.BatchWritten(100, 112, true);  // ends at 104, 108 and 112

    EXPECT_EQ(buffer.Acknowledge(103), 0u);
    EXPECT_EQ(buffer.Acknowledge(108), 2u);
    EXPECT_EQ(buffer.Size(), 1u);
    EXPECT_EQ(buffer.Acknowledge(112), 1u);
    EXPECT_TRUE(buffer.Empty());
}

// Under TLS the stream's bytes are not the records': a batch counts as acknowledged as a whole.
TEST(SendBufferTest, WithoutExactOffsetsEveryRecordOfABatchEndsWhereTheBatchEnds)
{
    SendBuffer buffer(10);
    buffer.Push(FrameOf("aaaa"));
    buffer.Push(FrameOf("bbbb"));
    buffer.TakeBatch(100);
    buffer.BatchWritten(500, 590, false);

    EXPECT_EQ(buffer.Acknowledge(589), 0u);
    EXPECT_EQ(buffer.Acknowledge(590), 2u);
}

TEST(SendBufferTest, ANewConnectionWritesEveryUnacknowledgedRecordAgainAndCountsThem)
{
    SendBuffer buffer(10);
    buffer.Push(FrameOf("aaaa"));
    buffer.Push(FrameOf("bbbb"));
    buffer.TakeBatch(100);
    EXPECT_EQ(buffer.BatchWritten(0, 8, true).firstTime, 2u);
    buffer.Push(FrameOf("cccc"));
    buffer.Acknowledge(4);

    buffer.Rewind();
    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"bbbb", "cccc"}));
    const SendBuffer::Written written = buffer.BatchWritten(0, 8, true);

    EXPECT_EQ(written.again, 1u);      // "bbbb"
    EXPECT_EQ(written.firstTime, 1u);  // "cccc"
}

TEST(SendBufferTest, BeyondItsCapacityTheOldestRecordGoesWhateverItsState)
{
    SendBuffer buffer(2);
    EXPECT_EQ(buffer.Push(FrameOf("aaaa")), 0u);
    EXPECT_EQ(buffer.Push(FrameOf("bbbb")), 0u);
    buffer.TakeBatch(100);

    EXPECT_EQ(buffer.Push(FrameOf("cccc")), 1u);  // "aaaa", in flight, goes; its bytes still count
    buffer.BatchWritten(0, 8, true);
    EXPECT_EQ(buffer.Acknowledge(7), 0u);
    EXPECT_EQ(buffer.Acknowledge(8), 1u);
    EXPECT_TRUE(buffer.HasUnwritten());
    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"cccc"}));
}

// A failed batch is handed out again; the records that began within the bytes the stream took before it
// failed may have arrived, so they count as written, and their next write as written again.
TEST(SendBufferTest, AFailedBatchIsHandedOutAgainAndWhatMayHaveGoneOutCountsAsWritten)
{
    SendBuffer buffer(4);
    buffer.Push(FrameOf("aaaa"));
    buffer.Push(FrameOf("bbbb"));
    buffer.Push(FrameOf("cccc"));
    buffer.TakeBatch(100);
    EXPECT_EQ(buffer.BatchFailed(5, true).firstTime, 2u);  // "aaaa" whole, "bbbb" begun

    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"aaaa", "bbbb", "cccc"}));
    const SendBuffer::Written written = buffer.BatchWritten(0, 12, true);
    EXPECT_EQ(written.again, 2u);
    EXPECT_EQ(written.firstTime, 1u);
    EXPECT_EQ(buffer.Clear(), 3u);
    EXPECT_TRUE(buffer.Empty());
}

// Acknowledged records within the bound of what the collector may not have read stay, are written again
// on a new connection (not acknowledged a second time) and give way, uncounted, to new records; an
// orderly close by the collector forgets them.
TEST(SendBufferTest, KeepsTheRecentlyAcknowledgedRecordsForTheNextConnection)
{
    SendBuffer buffer(3);
    for (const char* text : {"aaaa", "bbbb", "cccc"})
    {
        buffer.Push(FrameOf(text));
    }
    buffer.TakeBatch(100);
    buffer.BatchWritten(0, 12, true);
    EXPECT_EQ(buffer.Acknowledge(12, 6), 3u);  // "aaaa" ends 8 bytes before: surely read
    EXPECT_EQ(buffer.Size(), 2u);
    EXPECT_FALSE(buffer.HasPending());

    buffer.Rewind();
    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"bbbb", "cccc"}));
    EXPECT_EQ(buffer.BatchWritten(0, 8, true).again, 2u);
    EXPECT_EQ(buffer.Acknowledge(8, 100), 0u);
    EXPECT_EQ(buffer.Push(FrameOf("dddd")), 0u);
    EXPECT_EQ(buffer.Push(FrameOf("eeee")), 0u);  // "bbbb" goes, acknowledged: not dropped
    EXPECT_EQ(buffer.Size(), 3u);
    buffer.ForgetAcknowledged();
    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"dddd", "eeee"}));
    EXPECT_EQ(buffer.Clear(), 2u);
}

}  // namespace
