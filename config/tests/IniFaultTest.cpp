// Settings writes whose system calls fail: every call of every kind, in turn, fails in each way a disk
// or a signal can make it fail.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "SyscallFaults.h"
#include "TempDirectory.h"
#include "ozr/config/Ini.h"

namespace
{

namespace fs = std::filesystem;
using ozr::config::ini::WriteString;
using ozr::testing::Fault;
using ozr::testing::NameOf;
using ozr::testing::ReadFile;
using ozr::testing::Syscall;
using ozr::testing::SyscallFaults;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

const std::string g_before = "; shared settings\n[S]\nKey=old\nOther=" + std::string(5000, 'x') + "\n";
const std::string g_after = "; shared settings\n[S]\nKey=new\nOther=" + std::string(5000, 'x') + "\n";

struct Attempt
{
    bool written = false;
    std::optional<std::string> content;  // Nothing: no settings file.
    std::vector<std::string> entries;
};

// One write of "Key" with `faults` in force, into a fresh directory that holds `original` if any.
Attempt WriteWith(const std::optional<std::string>& original, const std::vector<Fault>& faults,
                  std::array<int, 7>* calls = nullptr)
{
    const TempDirectory directory;
    const fs::path file = directory / "settings.ini";
    if (original)
    {
        WriteFile(file, *original);
    }
    Attempt attempt;
    {
        SyscallFaults injected(directory.Path());
        for (const Fault& fault : faults)
        {
            injected.Add(fault);
        }
        try
        {
            WriteString("S", "Key", "new", file);
            attempt.written = true;
        }
        catch (const std::system_error&)
        {
        }
        for (int call = 0; calls != nullptr && call < 7; ++call)
        {
            (*calls)[call] = injected.Calls(static_cast<Syscall>(call));
        }
    }
    if (fs::exists(file))
    {
        attempt.content = ReadFile(file);
    }
    for (const auto& entry : fs::directory_iterator(directory.Path()))
    {
        attempt.entries.push_back(entry.path().filename().string());
    }
    std::sort(attempt.entries.begin(), attempt.entries.end());
    return attempt;
}

std::vector<std::pair<std::string, Fault>> FaultsAt(Syscall call, int nth)
{
    std::vector<std::pair<std::string, Fault>> faults{
        {"EINTR", Fault::Failing(call, nth, EINTR)},
        {"EIO", Fault::Failing(call, nth, EIO)},
        {"ENOSPC from then on", Fault::Failing(call, nth, ENOSPC).Times(0)},
    };
    if (call == Syscall::Write)
    {
        faults.emplace_back("a short count", Fault::ShortWrite(nth, 7));
    }
    return faults;
}

// The settings file is never lost or half-written: a failed write leaves the old file (or none), a
// successful one the new file, whole; an interrupted call or a short count is no failure; no temporary
// file is ever left behind.
TEST(IniFaultTest, EveryFailingCallLeavesTheOldOrTheNewFileWholeAndNothingElse)
{
    const std::vector<std::string> expectedEntries{"settings.ini", "settings.ini.lock"};
    for (const std::optional<std::string>& original :
         {std::optional<std::string>(g_before), std::optional<std::string>()})
    {
        const std::string expectedNew = original ? g_after : "[S]\nKey=new\n";
        std::array<int, 7> calls{};
        ASSERT_TRUE(WriteWith(original, {}, &calls).written);
        for (const Syscall call :
             {Syscall::Open, Syscall::Write, Syscall::Fstat, Syscall::Fsync, Syscall::Rename, Syscall::Close})
        {
            for (int nth = 1; nth <= calls[static_cast<std::size_t>(call)]; ++nth)
            {
                for (const auto& [name, fault] : FaultsAt(call, nth))
                {
                    const Attempt attempt = WriteWith(original, {fault});
                    const std::string where = std::string(NameOf(call)) + " call " + std::to_string(nth) +
                                              " failing with " + name + (original ? "" : ", new file");
                    if (attempt.written)
                    {
                        EXPECT_EQ(attempt.content, expectedNew) << where;
                        EXPECT_EQ(attempt.entries, expectedEntries) << where;
                    }
                    else
                    {
                        EXPECT_EQ(attempt.content, original) << where;
                        EXPECT_TRUE(std::includes(expectedEntries.begin(), expectedEntries.end(),
                                                  attempt.entries.begin(), attempt.entries.end()))
                            << where;
                    }
                    if (name == "EINTR" || name == "a short count")
                    {
                        EXPECT_TRUE(attempt.written) << where;
                    }
                }
            }
        }
    }
}

// The replacement is readable by its owner alone until its content and final mode are in place, even when
// the file it replaces, or the umask, lets everyone in.
TEST(IniFaultTest, TheReplacementIsOwnerOnlyWhileItIsWritten)
{
    const mode_t mask = umask(0);
    for (const bool exists : {true, false})
    {
        const TempDirectory directory;
        const fs::path file = directory / "settings.ini";
        if (exists)
        {
            WriteFile(file, g_before);
            fs::permissions(file, fs::perms(0666));
        }
        std::optional<mode_t> modeWhileWritten;
        {
            SyscallFaults faults(directory.Path());
            faults.Add(Fault::Observing(Syscall::Write, 1,
                                        [&](const std::string& path)
                                        {
                                            struct stat status = {};
                                            if (stat(path.c_str(), &status) == 0)
                                            {
                                                modeWhileWritten = status.st_mode & 07777;
                                            }
                                        })
                           .OnPathsContaining(".tmp-"));
            WriteString("S", "Key", "new", file);
        }
        EXPECT_EQ(modeWhileWritten, std::optional<mode_t>(0600)) << (exists ? "replacing" : "creating");
        EXPECT_EQ(fs::status(file).permissions(), fs::perms(0666)) << (exists ? "replacing" : "creating");
    }
    umask(mask);
}

}  // namespace
