// The single-instance lock across real processes.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/instance_lock.h"
#include "tests/support/scoped_env.h"

namespace {

using Clock = std::chrono::steady_clock;

// A child process that takes the lock, reports it, and holds it until told to end (or killed).
class LockHolder {
  public:
    LockHolder() {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            std::abort();
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            close(release[1]);
            const char result = AcquireInstanceLock() ? 'L' : 'B';
            if (write(ready[1], &result, 1) != 1)
                _exit(2);
            char c;
            while (read(release[0], &c, 1) < 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char result = 0;
        m_locked = read(ready[0], &result, 1) == 1 && result == 'L';
        close(ready[0]);
    }
    ~LockHolder() {
        Release();
        Reap();
    }
    bool Locked() const { return m_locked; }
    void Release() {
        if (m_release >= 0) {
            close(m_release);
            m_release = -1;
        }
    }
    void Kill() { kill(m_pid, SIGKILL); }
    void Reap() {
        if (m_pid > 0) {
            int status;
            waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }

  private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_locked = false;
};

class InstanceLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-lock-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_runtime.Set(m_folder);
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // Runs AcquireInstanceLock in a fresh process, so the lock it may take ends with it.
    static bool AcquireInChild(std::chrono::milliseconds* waited) {
        const auto start = Clock::now();
        LockHolder other;
        other.Release();
        other.Reap();
        if (waited)
            *waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        return other.Locked();
    }

    std::string m_folder;
    ScopedEnv m_runtime{"XDG_RUNTIME_DIR", std::nullopt};
};

TEST_F(InstanceLockTest, TheFirstLauncherTakesTheLock) {
    std::chrono::milliseconds waited{};
    EXPECT_TRUE(AcquireInChild(&waited));
}

TEST_F(InstanceLockTest, ASecondLauncherWaitsAboutOneSecondThenGivesUp) {
    LockHolder first;
    ASSERT_TRUE(first.Locked());
    std::chrono::milliseconds waited{};
    EXPECT_FALSE(AcquireInChild(&waited));
    EXPECT_GE(waited.count(), 900);
}

TEST_F(InstanceLockTest, ALauncherStartedWhileTheFirstEndsGoesOn) {
    auto first = std::make_unique<LockHolder>();
    ASSERT_TRUE(first->Locked());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t second = fork();
    if (second == 0) {
        // Keep nothing of the first holder's pipes, or it would never see its release.
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != ready[1])
                close(fd);
        const char result = AcquireInstanceLock() ? 'L' : 'B';
        if (write(ready[1], &result, 1) != 1)
            _exit(2);
        _exit(0);
    }
    close(ready[1]);
    usleep(300 * 1000);
    first.reset();  // the first launcher ends within the second launcher's second
    char result = 0;
    EXPECT_EQ(read(ready[0], &result, 1), 1);
    EXPECT_EQ(result, 'L');
    close(ready[0]);
    int status;
    waitpid(second, &status, 0);
}

TEST_F(InstanceLockTest, AKilledHolderLeavesNoStaleLock) {
    LockHolder first;
    ASSERT_TRUE(first.Locked());
    first.Kill();
    first.Reap();
    EXPECT_TRUE(AcquireInChild(nullptr));
}

TEST_F(InstanceLockTest, ALockThatCannotBeCreatedCountsAsTaken) {
    // A runtime folder that is a file cannot hold the lock file; the launcher goes on.
    const std::string notAFolder = m_folder + "/file";
    FILE* f = fopen(notAFolder.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    m_runtime.Set(notAFolder);
    ScopedEnv tmp("TMPDIR", notAFolder);
    EXPECT_TRUE(AcquireInstanceLock());
}

}  // namespace
