#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "FormatCache.h"
#include "ParsedFormat.h"

namespace ozr::logging
{
namespace
{

// What the differential fuzzer cannot show: which formats go back to vsnprintf on the calling thread.
TEST(ParsedFormatTest, CapturesOnlyConversionsItFormatsExactly)
{
    struct Case
    {
        const char* format;
        bool capturable;
    };
    const Case cases[] = {
        {"no conversion", true},
        {"100%% of %s", true},
        {"%-+ #0'12.*lld|%*.*s|%.s|%zu %td %jd %qd", true},
        {"%hhd %hx %c %p %m %#m", true},
        {"%f %lf %Lf %La %.0e %G", true},
        {"%n", false},
        {"%1$d", false},
        {"%*1$d", false},
        {"%.*2$d", false},
        {"%ls", false},
        {"%lc", false},
        {"%S %C", false},
        {"%y", false},
        {"%Id", false},
        {"%5%", false},
        {"%hf", false},
        {"%zf", false},
        {"%llf", false},
        {"%Ld", false},
        {"%hc", false},
        {"%3000000000d", false},
        {"ends in %", false},
        {"ends in %-5.2l", false},
    };
    for (const Case& testCase : cases)
    {
        EXPECT_EQ(ParsedFormat(testCase.format).Capturable(), testCase.capturable) << testCase.format;
    }
}

TEST(FormatCacheTest, FindsAReusedBufferOnlyWithTheContentItWasParsedWith)
{
    FormatCache cache;
    char buffer[] = "first %d";
    const ParsedFormat* const first = cache.Find(buffer);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Text(), "first %d");

    std::strcpy(buffer, "other %s");
    EXPECT_EQ(cache.Find(buffer), nullptr);
    EXPECT_EQ(first->Text(), "first %d");

    std::strcpy(buffer, "first %d");
    EXPECT_EQ(cache.Find(buffer), first);
}

TEST(FormatCacheTest, GoesBackToTheCallerForFormatsItCannotCaptureOrHold)
{
    FormatCache cache;
    EXPECT_EQ(cache.Find("%n"), nullptr);
    const std::string tooLong(FormatCache::MaxFormatLength + 1, 'x');
    EXPECT_EQ(cache.Find(tooLong.c_str()), nullptr);
    const std::string longest(FormatCache::MaxFormatLength, 'x');
    EXPECT_NE(cache.Find(longest.c_str()), nullptr);
}

}  // namespace
}  // namespace ozr::logging
