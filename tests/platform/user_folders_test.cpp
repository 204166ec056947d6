// The person's folders after the XDG rule, and the launcher's folder below them.
#include "platform/user_folders.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/scoped_env.h"

namespace {

// Each of the person's folders after the same rule: its variable when absolute, else below
// $HOME, else none; another folder's variable never counts.
class UserFolderTest : public ::testing::TestWithParam<platform::UserFolderRule> {
  protected:
    static std::wstring Folder() {
        std::wstring folder;
        return platform::GetUserFolder(GetParam(), folder) ? folder : L"<none>";
    }

    ScopedEnv m_data{"XDG_DATA_HOME", "/var/data/player"};
    ScopedEnv m_cache{"XDG_CACHE_HOME", "/var/cache/player"};
    ScopedEnv m_state{"XDG_STATE_HOME", "/var/state/player"};
    ScopedEnv m_own{GetParam().variable, std::nullopt};
    ScopedEnv m_home{"HOME", "/home/player"};
};

TEST_P(UserFolderTest, ItsVariableWhenAbsoluteElseBelowTheHome) {
    const std::wstring belowHome = std::wstring(L"/home/player/") + GetParam().belowHome;
    EXPECT_EQ(Folder(), belowHome);
    m_own.Set("/var/own/player");
    EXPECT_EQ(Folder(), L"/var/own/player");
    m_own.Set("relative/folder");
    EXPECT_EQ(Folder(), belowHome);
    m_own.Set("");
    EXPECT_EQ(Folder(), belowHome);
    m_own.Set(std::nullopt);
    m_home.Set("/home/player/");
    EXPECT_EQ(Folder(), belowHome);
    m_home.Set(std::nullopt);
    EXPECT_EQ(Folder(), L"<none>");
}

INSTANTIATE_TEST_SUITE_P(Folders, UserFolderTest,
                         ::testing::Values(platform::kDataFolder, platform::kStateFolder,
                                           platform::kCacheFolder));

}  // namespace
