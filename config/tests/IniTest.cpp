#include "ozr/config/Ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "TempDirectory.h"
#include "Unprivileged.h"

namespace
{

namespace fs = std::filesystem;
using ozr::config::ini::ReadString;
using ozr::config::ini::WriteString;
using ozr::testing::GiveToUnprivilegedUser;
using ozr::testing::ReadFile;
using ozr::testing::RunUnprivileged;
using ozr::testing::TempDirectory;
using ozr::testing::WriteFile;

const std::string g_bom = "\xEF\xBB\xBF";

struct ReadCase
{
    const char* name;
    std::string content;
    std::optional<std::string> section;
    std::string key;
    std::string expected;
};

class IniReadTest : public ::testing::TestWithParam<ReadCase>
{
};

TEST_P(IniReadTest, FindsTheValueOrTheDefault)
{
    const TempDirectory directory;
    const std::string file = directory / "settings.ini";
    WriteFile(file, GetParam().content);
    EXPECT_EQ(ReadString(GetParam().section, GetParam().key, "default", file), GetParam().expected);
}

const std::string g_garbage("[S]\n\0\xff\xfe\x80 no equals sign\n[Unclosed\nKey=v\n", 39);

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    ::testing::Values(ReadCase{"Plain", "[S]\nKey=Value\n", "S", "Key", "Value"},
                      ReadCase{"NamesIgnoreCase", "[sEcTiOn]\nkEy=v\n", "SECTION", "KEY", "v"},
                      ReadCase{"Trimmed", "  [ S ]  \n \t Key  =  a value \t\n", "S", "Key", "a value"},
                      ReadCase{"Crlf", "[S]\r\nKey=v\r\n", "S", "Key", "v"},
                      ReadCase{"ByteOrderMark", g_bom + "[S]\nKey=v\n", "S", "Key", "v"},
                      ReadCase{"LastLineWithoutLineFeed", "[S]\nKey=v", "S", "Key", "v"},
                      ReadCase{"CommentsSkipped", "[S]\n;Key=c\n#Key=d\nKey=v\n", "S", "Key", "v"},
                      ReadCase{"KeyInOtherSection", "[A]\nKey=a\n[S]\nOther=x\n", "S", "Key", "default"},
                      ReadCase{"MissingSection", "[A]\nKey=a\n", "S", "Key", "default"},
                      ReadCase{"KeysBeforeFirstHeader", "Key=top\n[S]\nKey=s\n", std::nullopt, "Key", "top"},
                      ReadCase{"NoKeyBeforeFirstHeader", "[S]\nKey=s\n", std::nullopt, "Key", "default"},
                      ReadCase{"FirstOfRepeatedKeys", "[S]\nKey=first\nKey=second\n", "S", "Key", "first"},
                      ReadCase{"RepeatedSectionMerged", "[S]\nA=1\n[T]\nKey=t\n[S]\nKey=v\n", "S", "Key",
                               "v"},
                      ReadCase{"EqualsInValue", "[S]\nKey=a=b\n", "S", "Key", "a=b"},
                      ReadCase{"EmptyValueIsNotMissing", "[S]\nKey=\n", "S", "Key", ""},
                      ReadCase{"QuotesKept", "[S]\nKey=\"q\" ; x\n", "S", "Key", "\"q\" ; x"},
                      ReadCase{"BinaryGarbageAndUnclosedHeader", g_garbage, "S", "Key", "v"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct WriteCase
{
    const char* name;
    std::string before;
    std::optional<std::string> section;
    std::string key;
    std::string after;
};

class IniWriteTest : public ::testing::TestWithParam<WriteCase>
{
};

// Every byte but the one value stays: the whole file is compared.
TEST_P(IniWriteTest, ChangesOnlyTheOneValue)
{
    const TempDirectory directory;
    const std::string file = directory / "settings.ini";
    WriteFile(file, GetParam().before);
    WriteString(GetParam().section, GetParam().key, "new", file);
    EXPECT_EQ(ReadFile(file), GetParam().after);
    EXPECT_EQ(ReadString(GetParam().section, GetParam().key, "default", file), "new");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    ::testing::Values(
        WriteCase{"ReplacesValueOnly", "; top\n[A]\nKey = 1\n\n[S]\n# c\n  Key = old  \nB=o\n", "S", "Key",
                  "; top\n[A]\nKey = 1\n\n[S]\n# c\n  Key = new  \nB=o\n"},
        WriteCase{"KeepsSpellingOfNames", "[s]\nKEY=old\n", "S", "key", "[s]\nKEY=new\n"},
        WriteCase{"FillsEmptyValue", "[S]\nKey =  \r\n", "S", "Key", "[S]\nKey =  new\r\n"},
        WriteCase{"FillsEmptyValueBeforeAFinalCarriageReturn", "[S]\nKey =  \r", "S", "Key",
                  "[S]\nKey =  new\r"},
        WriteCase{"AddsAfterALastLineEndingInACarriageReturn", "[S]\nA=1\r", "S", "Key",
                  "[S]\nA=1\r\nKey=new\n"},
        WriteCase{"AddsAfterACrlfFileEndingInACarriageReturn", "[S]\r\nA=1\r", "S", "Key",
                  "[S]\r\nA=1\r\nKey=new\r\n"},
        WriteCase{"EditsFirstOfRepeatedKeys", "[S]\nKey=1\nKey=2\n", "S", "Key", "[S]\nKey=new\nKey=2\n"},
        WriteCase{"CrlfStaysCrlf", "[S]\r\nA=1\r\n", "S", "Key", "[S]\r\nA=1\r\nKey=new\r\n"},
        WriteCase{"ByteOrderMarkKept", g_bom + "[S]\nKey=old\n", "S", "Key", g_bom + "[S]\nKey=new\n"},
        WriteCase{"ReplacesInLastLineWithoutLineFeed", "[S]\nKey=old", "S", "Key", "[S]\nKey=new"},
        WriteCase{"AddsAfterLastLineWithoutLineFeed", "[S]\nA=1", "S", "Key", "[S]\nA=1\nKey=new\n"},
        WriteCase{"AddsAfterLastKeyOfSection", "[S]\nA=1\n\n; T\n[T]\nB=2\n", "S", "Key",
                  "[S]\nA=1\nKey=new\n\n; T\n[T]\nB=2\n"},
        WriteCase{"AddsAfterHeaderOfEmptySection", "[S]\n; c\n", "S", "Key", "[S]\nKey=new\n; c\n"},
        WriteCase{"AddsToLastOccurrenceOfSection", "[S]\nA=1\n[T]\n[S]\nB=2\n", "S", "Key",
                  "[S]\nA=1\n[T]\n[S]\nB=2\nKey=new\n"},
        WriteCase{"AddsSectionAtEnd", "[T]\r\nB=2", "S", "Key", "[T]\r\nB=2\r\n[S]\r\nKey=new\r\n"},
        WriteCase{"AddsSectionToEmptyFile", "", "S", "Key", "[S]\nKey=new\n"},
        WriteCase{"AddsBeforeFirstHeader", g_bom + "; c\n[S]\nA=1\n", std::nullopt, "Key",
                  g_bom + "; c\nKey=new\n[S]\nA=1\n"},
        WriteCase{"AddsAfterKeysBeforeFirstHeader", "Top=1\n\n[S]\n", std::nullopt, "Key",
                  "Top=1\nKey=new\n\n[S]\n"},
        WriteCase{"AddsToFileWithoutHeaders", "Top=1", std::nullopt, "Key", "Top=1\nKey=new\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(IniTest, ReadsTheDefaultFromWhatIsNoRegularFile)
{
    const TempDirectory directory;
    const std::string fifo = directory / "fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& file : {(directory / "missing.ini").string(), directory.Path().string(), fifo,
                                    (directory / "missing" / "x.ini").string()})
    {
        EXPECT_EQ(ReadString("S", "Key", "default", file), "default") << file;
    }
}

TEST(IniTest, SurvivesRandomBytesAndHugeLines)
{
    const TempDirectory directory;
    const std::string file = directory / "garbage.ini";
    std::mt19937 random(42);
    std::string garbage(1 << 16, '\0');
    for (char& byte : garbage)
    {
        byte = static_cast<char>(random());
    }
    WriteFile(file, garbage + "\n[S]\nHuge=" + std::string(1 << 20, 'x') + "\n[" + std::string(1 << 20, 'y'));
    EXPECT_EQ(ReadString("S", "Huge", "", file).size(), 1u << 20);
    WriteString("S", "Key", "v", file);
    EXPECT_EQ(ReadString("S", "Key", "", file), "v");
    EXPECT_EQ(ReadFile(file).compare(0, garbage.size(), garbage), 0);
}

TEST(IniTest, CreatesMissingDirectoriesAndANormalFile)
{
    const TempDirectory directory;
    const fs::path file = directory / "a" / "b" / "settings.ini";
    const mode_t mask = umask(022);
    WriteString("S", "Key", "v", file);
    umask(mask);
    EXPECT_EQ(ReadString("S", "Key", "", file), "v");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
}

TEST(IniTest, KeepsPermissionBitsAndSymbolicLinks)
{
    const TempDirectory directory;
    const fs::path target = directory / "target.ini";
    const fs::path link = directory / "link.ini";
    WriteFile(target, "[S]\nKey=old\n");
    fs::permissions(target, fs::perms(0640));
    fs::create_symlink(target, link);
    WriteString("S", "Key", "new", link);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[S]\nKey=new\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));

    // A link to a file yet to be made, through a relative link to another link.
    const fs::path dangling = directory / "dangling.ini";
    fs::create_symlink("sub/made.ini", directory / "chain.ini");
    fs::create_symlink("chain.ini", dangling);
    WriteString("S", "Key", "made", dangling);
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(ReadFile(directory / "sub" / "made.ini"), "[S]\nKey=made\n");
}

// A file shared by a group, written by a member who is not its owner, stays the group's: otherwise the
// other members could no longer read or write it.
TEST(IniTest, KeepsTheGroupOfASharedFileWrittenByAnotherMember)
{
    if (!ozr::testing::RunsAsRoot())
    {
        GTEST_SKIP() << "only root can make a file that another user shares through a group";
    }
    constexpr gid_t sharedGroup = 65533;
    const TempDirectory directory;
    const fs::path file = directory / "settings.ini";
    WriteFile(file, "[S]\nKey=old\n");
    for (const auto& [path, mode] : {std::pair{directory.Path(), 0770}, std::pair{file, 0660}})
    {
        ASSERT_EQ(chown(path.c_str(), 0, sharedGroup), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }
    RunUnprivileged([&] { WriteString("S", "Key", "new", file); }, {sharedGroup});
    struct stat status = {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, sharedGroup);
    EXPECT_EQ(status.st_mode & 07777, 0660u);
    EXPECT_EQ(ReadFile(file), "[S]\nKey=new\n");
}

std::size_t CountEntries(const fs::path& directory)
{
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

TEST(IniTest, ReadOnlySettingsFileIsNotReplaced)
{
    const TempDirectory directory;
    const fs::path file = directory / "settings.ini";
    WriteFile(file, "[S]\nKey=old\n");
    fs::permissions(file, fs::perms::owner_read);
    GiveToUnprivilegedUser(directory.Path());
    GiveToUnprivilegedUser(file);
    RunUnprivileged([&] { EXPECT_THROW(WriteString("S", "Key", "new", file), std::system_error); });
    EXPECT_EQ(ReadFile(file), "[S]\nKey=old\n");
}

// Runs as root too, so failures come from the file system's shape rather than from permissions.
TEST(IniTest, FailedWriteThrowsNamingThePathAndLeavesTheFile)
{
    const TempDirectory directory;
    const fs::path file = directory / "settings.ini";
    const std::string before = "[S]\nKey=old\n";
    WriteFile(file, before);
    fs::create_directory(directory / "settings.ini.lock");
    WriteFile(directory / "plain", "");
    fs::create_directory(directory / "folder.ini");
    const std::size_t entries = CountEntries(directory.Path());

    for (const fs::path& target : {file, directory / "plain" / "x.ini", directory / "folder.ini"})
    {
        try
        {
            WriteString("S", "Key", "new", target);
            ADD_FAILURE() << "no exception for " << target;
        }
        catch (const std::system_error& error)
        {
            EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos) << error.what();
        }
    }
    EXPECT_THROW(WriteString("S", "Key", "two\nlines", file), std::invalid_argument);
    EXPECT_THROW(WriteString("S", "Bad=Key", "v", file), std::invalid_argument);
    // Added at the start of a file, it would read back as the file's byte-order mark and a comment.
    EXPECT_THROW(WriteString(std::nullopt, g_bom + ";Key", "v", file), std::invalid_argument);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(CountEntries(directory.Path()), entries);
}

}  // namespace
