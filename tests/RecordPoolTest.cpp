#include "RecordPool.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ozr::logging
{
namespace
{

using Records = std::vector<std::shared_ptr<Message>>;

// This executable has a pool of its own (RecordPool.cpp is compiled into it), empty at the start.
// Records are released on another thread than the one that made them, as the worker releases them;
// the releasing thread exits, handing over what it still holds.
TEST(RecordPoolTest, RecyclesRecordsReleasedOnAnotherThreadUpToItsBound)
{
    constexpr std::size_t released = RecordPool::MaxPooledRecords + 3 * RecordPool::ChainLength + 5;
    Records records;
    std::thread(
        [&records]
        {
            for (std::size_t index = 0; index < released; ++index)
            {
                records.push_back(RecordPool::Acquire());
                records.back()->line = static_cast<std::uint32_t>(index + 1);  // a new record's line is 0
                records.back()->text.assign(4 * RecordPool::MaxRetainedCapacity, 'x');
            }
        })
        .join();
    std::thread([&records] { records.clear(); }).join();

    std::size_t recycled = 0;
    std::size_t largestKeptCapacity = 0;
    std::thread(
        [&]
        {
            Records again;
            for (std::size_t index = 0; index < released; ++index)
            {
                again.push_back(RecordPool::Acquire());
                if (again.back()->line != 0)
                {
                    ++recycled;
                    largestKeptCapacity = std::max(largestKeptCapacity, again.back()->text.capacity());
                }
            }
        })
        .join();
    EXPECT_EQ(recycled, RecordPool::MaxPooledRecords);
    EXPECT_LE(largestKeptCapacity, RecordPool::MaxRetainedCapacity);
}

}  // namespace
}  // namespace ozr::logging
