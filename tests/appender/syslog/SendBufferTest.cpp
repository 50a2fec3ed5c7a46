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

    EXPECT_EQ(buffer.RemoveAcknowledged(103), 0u);
    EXPECT_EQ(buffer.RemoveAcknowledged(108), 2u);
    EXPECT_EQ(buffer.Size(), 1u);
    EXPECT_EQ(buffer.RemoveAcknowledged(112), 1u);
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

    EXPECT_EQ(buffer.RemoveAcknowledged(589), 0u);
    EXPECT_EQ(buffer.RemoveAcknowledged(590), 2u);
}

TEST(SendBufferTest, ANewConnectionWritesEveryUnacknowledgedRecordAgainAndCountsThem)
{
    SendBuffer buffer(10);
    buffer.Push(FrameOf("aaaa"));
    buffer.Push(FrameOf("bbbb"));
    buffer.TakeBatch(100);
    EXPECT_EQ(buffer.BatchWritten(0, 8, true).firstTime, 2u);
    buffer.Push(FrameOf("cccc"));
    buffer.RemoveAcknowledged(4);

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
    EXPECT_EQ(buffer.RemoveAcknowledged(7), 0u);
    EXPECT_EQ(buffer.RemoveAcknowledged(8), 1u);
    EXPECT_TRUE(buffer.HasUnwritten());
    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"cccc"}));
}

TEST(SendBufferTest, AFailedBatchIsHandedOutAgain)
{
    SendBuffer buffer(4);
    buffer.Push(FrameOf("aaaa"));
    buffer.TakeBatch(100);
    buffer.BatchFailed();

    EXPECT_EQ(Texts(buffer.TakeBatch(100)), (std::vector<std::string>{"aaaa"}));
    EXPECT_EQ(buffer.Clear(), 1u);
    EXPECT_TRUE(buffer.Empty());
}

}  // namespace
