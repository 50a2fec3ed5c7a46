// A log call that the zone's verbosity rejects must cost no formatting and no allocation, whatever the
// length of the zone name. Counted with a replaced global operator new, which the library uses too, per
// thread, so that the worker writing earlier messages meanwhile does not count.

#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "Scenario.h"

namespace
{

thread_local long g_allocations = 0;

}  // namespace

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size))
    {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace
{

using namespace ozr::logging;
using RejectedCallTest = ozr::testing::Scenario;

TEST_F(RejectedCallTest, AllocatesNothingAndFormatsNothingWhateverTheZoneName)
{
    static const std::string longZone(300, 'Z');
    for (const char* zone : {"Net", longZone.c_str()})
    {
        WriteZoneSettings(zone, "[OZRLogging]\nLogLevel=Warning\n");
        InitialiseLogging(zone);
        ToLog(zone, Severity::Warning, __FILE__, __LINE__, 1, "accepted, so the builder exists");

        const long before = g_allocations;
        for (int i = 0; i < 1000; ++i)
        {
            // Formatting it would allocate the record and its text.
            ToLog(zone, Severity::Info, __FILE__, __LINE__, 1, "rejected %s %d", longZone.c_str(), i);
        }
        EXPECT_EQ(g_allocations - before, 0) << "zone of " << std::string(zone).size() << " characters";
        ShutdownLogging(zone);
    }
}

}  // namespace
