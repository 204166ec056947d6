#include "platform/folder_lock.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"

namespace fs = std::filesystem;
using platform::FolderLock;
using platform::LockResult;

namespace {

class FolderLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        fs::create_directory(m_dir.PathOf("download"));
        m_folder = m_dir.WidePathOf("download");
    }

    // What another process gets when it tries the lock now (its exit status carries it).
    LockResult TryInAnotherProcess(const std::wstring& folder) const {
        const int status =
            RunInChild([&] { return static_cast<int>(FolderLock().TryLock(folder)); });
        EXPECT_GE(status, 0);
        return static_cast<LockResult>(status);
    }

    TempDir m_dir;
    std::wstring m_folder;
};

TEST_F(FolderLockTest, SecondProcessIsToldItIsHeldElsewhere) {
    FolderLock lock;
    ASSERT_EQ(lock.TryLock(m_folder), LockResult::kTaken);
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_EQ(TryInAnotherProcess(m_folder), LockResult::kHeldElsewhere);
    // The same folder by another spelling is the same folder.
    EXPECT_EQ(TryInAnotherProcess(m_folder + L"/."), LockResult::kHeldElsewhere);
    lock.Release();
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(TryInAnotherProcess(m_folder), LockResult::kTaken);
}

TEST_F(FolderLockTest, SecondTakerInTheSameProcessIsToldAtOnce) {
    FolderLock first;
    ASSERT_EQ(first.TryLock(m_folder), LockResult::kTaken);
    FolderLock second;
    Failure failure;
    EXPECT_EQ(second.TryLock(m_folder, &failure), LockResult::kHeldElsewhere);
    EXPECT_EQ(failure.cause, FailureClass::kBusy);
    EXPECT_FALSE(second.IsHeld());
    {
        // Moving the owner keeps the lock; the moved-from object lets nothing go.
        FolderLock moved = std::move(first);
        EXPECT_TRUE(moved.IsHeld());
        EXPECT_EQ(second.TryLock(m_folder), LockResult::kHeldElsewhere);
    }
    EXPECT_EQ(second.TryLock(m_folder), LockResult::kTaken);
}

TEST_F(FolderLockTest, OtherFoldersAreFree) {
    fs::create_directory(m_dir.PathOf("other"));
    FolderLock lock;
    ASSERT_EQ(lock.TryLock(m_folder), LockResult::kTaken);
    EXPECT_EQ(TryInAnotherProcess(m_dir.WidePathOf("other")), LockResult::kTaken);
}

TEST_F(FolderLockTest, KilledHolderLeavesNoStaleLock) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        FolderLock lock;
        const char taken = lock.TryLock(m_folder) == LockResult::kTaken ? 'y' : 'n';
        if (write(ready[1], &taken, 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char taken = 0;
    ASSERT_EQ(read(ready[0], &taken, 1), 1);
    close(ready[0]);
    ASSERT_EQ(taken, 'y');
    FolderLock lock;
    EXPECT_EQ(lock.TryLock(m_folder), LockResult::kHeldElsewhere);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(lock.TryLock(m_folder), LockResult::kTaken);
}

TEST_F(FolderLockTest, ProgramStartedWhileHeldDoesNotInheritIt) {
    FolderLock lock;
    ASSERT_EQ(lock.TryLock(m_folder), LockResult::kTaken);
    // A started program lists the folders its open descriptors point at; the download
    // folder must not be among them, or an installer left running would keep the lock.
    const std::string text = RunShell("ls -l /proc/self/fd/ 2>/dev/null").output;
    ASSERT_NE(text.find("/proc/"), std::string::npos) << text;  // the listing itself worked
    EXPECT_EQ(text.find(m_dir.NarrowPathOf("download")), std::string::npos) << text;
}

TEST_F(FolderLockTest, MissingFolderOrFileIsUnavailable) {
    FolderLock lock;
    Failure failure;
    EXPECT_EQ(lock.TryLock(m_dir.WidePathOf("none"), &failure), LockResult::kUnavailable);
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    EXPECT_EQ(failure.code, ENOENT);
    ASSERT_TRUE(m_dir.WriteFile("file", "x"));
    EXPECT_EQ(lock.TryLock(m_dir.WidePathOf("file"), &failure), LockResult::kUnavailable);
    EXPECT_EQ(failure.code, ENOTDIR);
    EXPECT_FALSE(lock.IsHeld());
}

TEST_F(FolderLockTest, TakingAgainLetsTheFormerFolderGo) {
    fs::create_directory(m_dir.PathOf("other"));
    FolderLock lock;
    ASSERT_EQ(lock.TryLock(m_folder), LockResult::kTaken);
    ASSERT_EQ(lock.TryLock(m_dir.WidePathOf("other")), LockResult::kTaken);
    EXPECT_EQ(TryInAnotherProcess(m_folder), LockResult::kTaken);
    EXPECT_EQ(TryInAnotherProcess(m_dir.WidePathOf("other")), LockResult::kHeldElsewhere);
}

TEST_F(FolderLockTest, Latin1FolderNameCanBeLocked) {
    const std::string raw = m_dir.NarrowPath() +
                            "/T\xE9l\xE9"
                            "chargements";
    fs::create_directory(fs::path(raw));
    const std::wstring folder = Utf8ToWide(std::string_view(raw));
    FolderLock lock;
    ASSERT_EQ(lock.TryLock(folder), LockResult::kTaken);
    EXPECT_EQ(TryInAnotherProcess(folder), LockResult::kHeldElsewhere);
}

}  // namespace
