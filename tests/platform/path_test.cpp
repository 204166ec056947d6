// The one rule by which the launcher joins a folder and a name.

#include "platform/path.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using platform::JoinPath;

class JoinPathTest : public ::testing::Test {
  protected:
    std::wstring m_out = L"untouched";
};

TEST_F(JoinPathTest, SeparatorOnlyWhereTheFolderLacksOne) {
    ASSERT_TRUE(JoinPath(L"", L"bin", m_out));
    EXPECT_EQ(m_out, L"bin");
    ASSERT_TRUE(JoinPath(L"/games", L"bin", m_out));
    EXPECT_EQ(m_out, L"/games/bin");
    ASSERT_TRUE(JoinPath(L"/games/", L"bin", m_out));
    EXPECT_EQ(m_out, L"/games/bin");
    ASSERT_TRUE(JoinPath(L"/", L"bin", m_out));
    EXPECT_EQ(m_out, L"/bin");
}

TEST_F(JoinPathTest, ResultMayFillThePathBufferButNotOverflowIt) {
    const std::wstring folder = L"/" + std::wstring(100, L'f');
    const std::size_t room = kMaxPathLength - folder.size() - 1;
    ASSERT_TRUE(JoinPath(folder, std::wstring(room, L'n'), m_out));
    EXPECT_EQ(m_out.size(), kMaxPathLength);

    m_out = L"untouched";
    EXPECT_FALSE(JoinPath(folder, std::wstring(room + 1, L'n'), m_out));
    EXPECT_EQ(m_out, L"untouched");
    // A separator the folder already has costs nothing.
    EXPECT_TRUE(JoinPath(folder + L"/", std::wstring(room, L'n'), m_out));
    EXPECT_FALSE(JoinPath(L"", std::wstring(kMaxPathLength + 1, L'n'), m_out));
}

TEST_F(JoinPathTest, SystemPathsHaveTheirOwnLimit) {
    const std::wstring name(kMaxPathLength, L'n');
    EXPECT_FALSE(JoinPath(L"/a", name, m_out));
    ASSERT_TRUE(JoinPath(L"/a", name, m_out, platform::kMaxNativePathLength));
    EXPECT_EQ(m_out, L"/a/" + name);
    EXPECT_FALSE(JoinPath(L"/a", name, m_out, name.size() + 2));
}

TEST_F(JoinPathTest, OutMayBeTheFolderItself) {
    std::wstring path = L"/games";
    ASSERT_TRUE(JoinPath(path, L"bin", path));
    EXPECT_EQ(path, L"/games/bin");
}

}  // namespace
