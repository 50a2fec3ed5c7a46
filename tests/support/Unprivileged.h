#pragma once

// Permission tests that also bind when the tests run as root: the part that must meet the permission
// checks runs as an unprivileged user in a child process.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

namespace ozr::testing
{

constexpr uid_t g_unprivilegedUser = 65534;   // "nobody"
constexpr gid_t g_unprivilegedGroup = 65534;  // "nogroup"

inline bool RunsAsRoot()
{
    return ::geteuid() == 0;
}

// Gives `path` to the unprivileged user when running as root, so that the user may work in it.
inline void GiveToUnprivilegedUser(const std::filesystem::path& path)
{
    if (RunsAsRoot() && ::chown(path.c_str(), g_unprivilegedUser, g_unprivilegedGroup) != 0)
    {
        ADD_FAILURE() << "cannot give " << path << " to the unprivileged user";
    }
}

// Runs `body` as the unprivileged user, with `groups` as its supplementary groups, in a child process
// when running as root; otherwise here, as the user running the tests, whom permissions bind already.
// The child reports its failures itself; any of them fails the calling test.
template <typename Body>
void RunUnprivileged(Body body, const std::vector<gid_t>& groups = {})
{
    if (!RunsAsRoot())
    {
        body();
        return;
    }
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(g_unprivilegedGroup) != 0 ||
            ::setuid(g_unprivilegedUser) != 0)
        {
            std::fprintf(stderr, "cannot become the unprivileged user\n");
            ::_exit(2);
        }
        body();
        std::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the part run as the unprivileged user failed";
}

}  // namespace ozr::testing
