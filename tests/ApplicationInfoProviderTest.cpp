#include "ozr/logging/ApplicationInfoProvider.h"

#include <unistd.h>

#include <gtest/gtest.h>

namespace ozr::logging
{
namespace
{

TEST(ApplicationInfoProvider, NamesTheRunningExecutableAndItsDirectory)
{
    const ApplicationInfoProvider provider;
    char buffer[1024] = {};
    ASSERT_GT(readlink("/proc/self/exe", buffer, sizeof(buffer) - 1), 0);
    const std::filesystem::path executable(buffer);

    EXPECT_EQ(provider.GetApplicationName(), "ApplicationInfoProviderTest");
    EXPECT_EQ(provider.GetApplicationName(), executable.filename().string());
    EXPECT_EQ(provider.GetApplicationExecutableDirectoryPath(), executable.parent_path());
    EXPECT_EQ(provider.GetApplicationName(), provider.GetApplicationName());
}

}  // namespace
}  // namespace ozr::logging
