#include "platform/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

class FileIdentityTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.IsValid()); }

    platform::FileIdentity Read(const std::string& name) {
        platform::FileIdentity identity;
        EXPECT_TRUE(platform::ReadFileIdentity(m_dir.WidePathOf(name), identity)) << name;
        return identity;
    }

    Failure Refusal(const std::string& name) {
        platform::FileIdentity identity;
        Failure failure;
        EXPECT_FALSE(platform::ReadFileIdentity(m_dir.WidePathOf(name), identity, &failure))
            << name;
        return failure;
    }

    TempDir m_dir;
};

TEST_F(FileIdentityTest, MatchesWhatTheFileSystemReports) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "twelve bytes"));
    const std::string path = m_dir.NarrowPathOf("game.exe");
    // An odd nanosecond count shows that nothing is rounded to seconds or microseconds.
    const timespec times[2] = {{0, UTIME_OMIT}, {1'600'000'000, 123'456'789}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);

    const platform::FileIdentity identity = Read("game.exe");
    EXPECT_EQ(identity.device, static_cast<std::uint64_t>(status.st_dev));
    EXPECT_EQ(identity.inode, static_cast<std::uint64_t>(status.st_ino));
    EXPECT_EQ(identity.size, 12);
    EXPECT_EQ(identity.modifiedNs, 1'600'000'000'123'456'789);
    EXPECT_EQ(identity.changedNs,
              std::int64_t{status.st_ctim.tv_sec} * 1'000'000'000 + status.st_ctim.tv_nsec);
    struct statfs fileSystem {};
    ASSERT_EQ(statfs(path.c_str(), &fileSystem), 0);
    EXPECT_EQ(identity.changeTimeKept,
              platform::KeepsChangeTime(static_cast<unsigned long>(fileSystem.f_type)));
}

TEST(FileSystemRuleTest, OnlyFileSystemsKnownToKeepAChangeTimeAreTrusted) {
    const struct {
        std::uint64_t kind;
        bool kept;
    } rows[] = {{0xEF53, true},      {0x58465342, true},  {0x9123683E, true},
                {0x01021994, true},  {0x73717368, false},  // squashfs
                {0xE0F5E1E2, false},                       // erofs
                {0x4D44, false},                           // vfat
                {0x65735546, false},                       // fuse
                {0x794C7630, false},                       // overlay
                {0, false}};
    for (const auto& row : rows)
        EXPECT_EQ(platform::KeepsChangeTime(row.kind), row.kept) << std::hex << row.kind;
}

TEST_F(FileIdentityTest, HardLinksShareOneIdentityCopiesDoNot) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "content"));
    ASSERT_EQ(link(m_dir.NarrowPathOf("game.exe").c_str(), m_dir.NarrowPathOf("other.exe").c_str()),
              0);
    std::filesystem::copy_file(m_dir.PathOf("game.exe"), m_dir.PathOf("copy.exe"));
    EXPECT_EQ(Read("game.exe"), Read("other.exe"));
    EXPECT_NE(Read("game.exe").inode, Read("copy.exe").inode);
}

TEST_F(FileIdentityTest, RefusesEverythingButARegularFile) {
    ASSERT_TRUE(m_dir.WriteFile("real.exe", "x"));
    ASSERT_TRUE(m_dir.WriteFile("folder/inside", "x"));
    ASSERT_EQ(
        symlink(m_dir.NarrowPathOf("real.exe").c_str(), m_dir.NarrowPathOf("link.exe").c_str()), 0);
    ASSERT_EQ(mkfifo(m_dir.NarrowPathOf("fifo").c_str(), 0600), 0);

    EXPECT_EQ(Refusal("link.exe").cause, FailureClass::kNotRegularFile);
    EXPECT_EQ(Refusal("folder").cause, FailureClass::kNotRegularFile);
    EXPECT_EQ(Refusal("fifo").cause, FailureClass::kNotRegularFile);
    const Failure missing = Refusal("missing.exe");
    EXPECT_EQ(missing.cause, FailureClass::kSystem);
    EXPECT_EQ(missing.code, ENOENT);
    EXPECT_EQ(missing.subject, m_dir.WidePathOf("missing.exe"));
    platform::FileIdentity identity;
    EXPECT_FALSE(platform::ReadFileIdentity(L"", identity));
}

TEST_F(FileIdentityTest, ReplaceFileSwapsTheContentAndRemovesTheSource) {
    ASSERT_TRUE(m_dir.WriteFile("cache", "old"));
    ASSERT_TRUE(m_dir.WriteFile("cache.tmp", "new"));
    const std::uint64_t inode = Read("cache.tmp").inode;
    ASSERT_TRUE(platform::ReplaceFile(m_dir.WidePathOf("cache.tmp"), m_dir.WidePathOf("cache")));
    EXPECT_EQ(m_dir.ReadFile("cache"), "new");
    EXPECT_EQ(Read("cache").inode, inode);
    EXPECT_FALSE(m_dir.Exists("cache.tmp"));

    Failure failure;
    EXPECT_FALSE(
        platform::ReplaceFile(m_dir.WidePathOf("gone"), m_dir.WidePathOf("cache"), &failure));
    EXPECT_EQ(failure.code, ENOENT);
    EXPECT_EQ(m_dir.ReadFile("cache"), "new");
}

}  // namespace
