#include "transfer/download_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const wchar_t* folder;
    const wchar_t* target;
    const wchar_t* expected;  // null: refused
    PathRefusal refusal = PathRefusal::kNone;
};

class BuildDownloadPathTest : public ::testing::TestWithParam<Case> {};

TEST_P(BuildDownloadPathTest, BuildsOrRefuses) {
    const Case& c = GetParam();
    std::wstring out = L"untouched";
    PathRefusal refusal = PathRefusal::kTooLong;
    const bool built = BuildDownloadPath(c.folder, c.target, out, &refusal);
    EXPECT_EQ(refusal, c.refusal);
    if (c.expected == nullptr) {
        EXPECT_FALSE(built);
        EXPECT_EQ(out, L"untouched");
    } else {
        EXPECT_TRUE(built);
        EXPECT_EQ(out, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, BuildDownloadPathTest,
    ::testing::Values(Case{L"/dl", L"a.bin", L"/dl/a.bin"},
                      Case{L"/dl", L"data\\maps\\m1.pak", L"/dl/data/maps/m1.pak"},
                      Case{L"/dl", L"data/mixed\\x", L"/dl/data/mixed/x"},
                      Case{L"/dl/", L"a.bin", L"/dl/a.bin"},
                      Case{L"relative", L"a.bin", L"relative/a.bin"}, Case{L"", L"a.bin", L"a.bin"},
                      Case{L"/dl", L"./a.bin", L"/dl/./a.bin"},
                      Case{L"/dl", L"..a\\b..", L"/dl/..a/b.."},
                      Case{L"/dl", L"", nullptr, PathRefusal::kEmpty},
                      Case{L"/dl", L"..", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"..\\x", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"../x", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"a/../../x", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"a\\..", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"a/.../x", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"a/.. /x", nullptr, PathRefusal::kClimbsOut},
                      Case{L"/dl", L"/etc/passwd", nullptr, PathRefusal::kAbsolute},
                      Case{L"/dl", L"\\windows\\x", nullptr, PathRefusal::kAbsolute},
                      Case{L"/dl", L"C:\\x", nullptr, PathRefusal::kAbsolute},
                      Case{L"/dl", L"c:x", nullptr, PathRefusal::kAbsolute}));

TEST(BuildDownloadPathLimits, NulInsideTargetIsRefused) {
    std::wstring out;
    PathRefusal refusal = PathRefusal::kNone;
    EXPECT_FALSE(BuildDownloadPath(L"/dl", std::wstring(L"a\0/../../x", 10), out, &refusal));
    EXPECT_EQ(refusal, PathRefusal::kNul);
}

TEST(BuildDownloadPathLimits, LongestPathFits) {
    const std::wstring folder = L"/dl";
    std::wstring out;
    EXPECT_TRUE(BuildDownloadPath(folder, std::wstring(kMaxPathLength - 4, L'x'), out));
    EXPECT_EQ(out.size(), kMaxPathLength);
    PathRefusal refusal = PathRefusal::kNone;
    EXPECT_FALSE(BuildDownloadPath(folder, std::wstring(kMaxPathLength - 3, L'x'), out, &refusal));
    EXPECT_EQ(refusal, PathRefusal::kTooLong);
}

}  // namespace
