#include "ReadValue.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "TempDirectory.h"

namespace ozr::config::ini
{
namespace
{

TEST(ReadValue, ReadsTheLeadingNumberOrGivesTheDefault)
{
    const ozr::testing::TempDirectory directory;
    const std::string file = (directory / "values.ini").string();
    ozr::testing::WriteFile(file,
                            "[Numbers]\n"
                            "Plain=12\n"
                            "WithUnit=12MB\n"
                            "Padded=   7\n"
                            "Letters=abc\n"
                            "Blanks=   \n"
                            "Huge=18446744073709551616\n"
                            "Largest=18446744073709551615\n"
                            "Negative=-1\n");
    const std::optional<std::string> section = "Numbers";
    struct Case
    {
        const char* key;
        std::uint64_t expected;
    };
    const Case cases[] =
        {
            {"Plain", 12},
            {"WithUnit", 12},
            {"Padded", 7},
            {"Letters", 99},
            {"Blanks", 99},
            {"Huge", 99},
            {"Missing", 99},
            {"Largest", UINT64_MAX},
            {"Negative", UINT64_MAX},  // the stream reads a negative number modulo 2^64, as strtoul does
        };
    for (const auto& c : cases)
    {
        EXPECT_EQ(ReadValue<std::uint64_t>(section, c.key, 99, file), c.expected) << c.key;
    }
    EXPECT_EQ(ReadValue<std::uint64_t>(section, "Plain", 99, (directory / "missing.ini").string()), 99u);
}

}  // namespace
}  // namespace ozr::config::ini
