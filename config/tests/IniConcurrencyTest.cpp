#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TempDirectory.h"
#include "ozr/config/Ini.h"

namespace
{

using ozr::config::ini::ReadString;
using ozr::config::ini::WriteString;
using ozr::testing::TempDirectory;

constexpr int g_writers = 2;
constexpr int g_keysPerWriter = 40;

std::string KeyName(int writer, int index)
{
    return "W" + std::to_string(writer) + "K" + std::to_string(index);
}

void WriteKeys(int writer, const std::string& file)
{
    for (int index = 0; index < g_keysPerWriter; ++index)
    {
        WriteString("Section" + std::to_string(index % 3), KeyName(writer, index), std::to_string(index),
                    file);
    }
}

void ExpectAllKeys(const std::string& file)
{
    for (int writer = 0; writer < g_writers; ++writer)
    {
        for (int index = 0; index < g_keysPerWriter; ++index)
        {
            EXPECT_EQ(ReadString("Section" + std::to_string(index % 3), KeyName(writer, index), "lost", file),
                      std::to_string(index))
                << KeyName(writer, index);
        }
    }
}

// A child forked while another thread of the parent is in the middle of a write must not inherit that
// write's file lock: its own write of the same file would then wait for itself. The parent writes every
// millisecond, as a busy writer elsewhere would, leaving gaps in which the child can take its turn.
TEST(IniConcurrencyTest, AChildForkedDuringAWriteCanWriteTheFileItself)
{
    const TempDirectory directory;
    const std::string file = directory / "shared.ini";
    std::atomic<bool> stop{false};
    std::thread writer(
        [&]
        {
            for (int index = 0; !stop; ++index)
            {
                WriteString("Parent", "Counter", std::to_string(index), file);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    for (int round = 0; round < 10; ++round)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            alarm(20);  // a child stuck on an inherited lock is killed and reported below
            WriteString("Child", "Round", std::to_string(round), file);
            _exit(ReadString("Child", "Round", "", file) == std::to_string(round) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child of round " << round;
    }
    stop = true;
    writer.join();
}

TEST(IniConcurrencyTest, WritersInSeveralProcessesLoseNoKey)
{
    const TempDirectory directory;
    const std::string file = directory / "shared.ini";
    std::vector<pid_t> children;
    for (int writer = 0; writer < g_writers; ++writer)
    {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            try
            {
                WriteKeys(writer, file);
            }
            catch (...)
            {
                _exit(1);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllKeys(file);
}

// A reader running alongside must see the whole old or the whole new file, never a part of one.
TEST(IniConcurrencyTest, WritersInSeveralThreadsLoseNoKeyAndReadersSeeWholeFiles)
{
    const TempDirectory directory;
    const std::string file = directory / "shared.ini";
    WriteString("Section0", "Stable", "yes", file);
    std::atomic<bool> writing{true};
    std::atomic<int> torn{0};
    std::thread reader(
        [&]
        {
            while (writing)
            {
                torn += ReadString("Section0", "Stable", "missing", file) != "yes";
            }
        });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < g_writers; ++writer)
    {
        writers.emplace_back(WriteKeys, writer, file);
    }
    for (std::thread& writer : writers)
    {
        writer.join();
    }
    writing = false;
    reader.join();
    EXPECT_EQ(torn, 0);
    ExpectAllKeys(file);
}

}  // namespace
