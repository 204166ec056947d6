#include "catalogue/version_compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/utf8.h"

namespace {

struct Vector {
    const wchar_t* a;
    const wchar_t* b;
    int expected;
};

class CompareVersionsTable : public ::testing::TestWithParam<Vector> {};

TEST_P(CompareVersionsTable, GivesExpectedOrder) {
    const Vector& v = GetParam();
    EXPECT_EQ(CompareVersions(v.a, v.b), v.expected)
        << WideToUtf8(std::wstring_view(v.a)) << " vs " << WideToUtf8(std::wstring_view(v.b));
    // Swapping the arguments swaps the result.
    EXPECT_EQ(CompareVersions(v.b, v.a), -v.expected);
}

INSTANTIATE_TEST_SUITE_P(Documented, CompareVersionsTable,
                         ::testing::Values(Vector{L"1.0.0.38", L"1.0.0.39", -1},
                                           Vector{L"1.0.0.40", L"1.0.0.39", 1},
                                           Vector{L"1.0.0.38", L"1.0.0", 0}, Vector{L"", L"1.2", 0},
                                           Vector{L"1.10", L"1.9", 1}, Vector{L"1.0a", L"1.0", 0},
                                           Vector{L"01.2", L"1.2", 0}, Vector{L"1..2", L"1.2", 0},
                                           Vector{L".1.2.", L"1.2", 0}, Vector{L"2", L"2.1", 0},
                                           Vector{L"1.0", L"1.0.5", 0}, Vector{L"10b", L"10", 0},
                                           Vector{L"beta", L"0", 0}, Vector{L"beta", L"1", -1},
                                           Vector{L"-1", L"4000000000", 1},
                                           Vector{L"1.-1", L"1.2", 1}, Vector{L" 7", L"7", 0},
                                           Vector{L"\t+7", L"7", 0}, Vector{L"+", L"0", 0},
                                           Vector{L"1.2.3.4", L"1.2.3.4", 0}));

INSTANTIATE_TEST_SUITE_P(
    BeyondThirtyTwoBits, CompareVersionsTable,
    // Large numbers saturate at INT32_MAX instead of wrapping around to a small value.
    ::testing::Values(Vector{L"4294967296", L"1", 1}, Vector{L"99999999999999999999", L"5", 1},
                      Vector{L"2147483647", L"2147483648", 0},
                      Vector{L"2147483646", L"2147483648", -1},
                      Vector{L"99999999999999999999", L"2147483647", 0},
                      // Negative ones saturate at INT32_MIN, which ranks above every
                      // non-negative value but below -1.
                      Vector{L"-99999999999", L"2147483647", 1},
                      Vector{L"-99999999999", L"-2147483648", 0},
                      Vector{L"-99999999999", L"-1", -1}));

TEST(CompareVersionsLimits, OnlyTheFirst127CharactersCount) {
    // 63 components "1." fill 126 characters; the 127th is the next component's first digit.
    std::wstring prefix;
    for (int i = 0; i < 63; ++i)
        prefix += L"1.";
    ASSERT_EQ(prefix.size(), 126u);
    EXPECT_EQ(CompareVersions(prefix + L"5", prefix + L"6"), -1);
    // Beyond the 127th character nothing counts, not even a digit of the same component.
    EXPECT_EQ(CompareVersions(prefix + L"59", prefix + L"51"), 0);
    EXPECT_EQ(CompareVersions(prefix + L"5.9", prefix + L"5.1"), 0);
}

TEST(CompareVersionsLimits, VeryLongTextsDoNotMisbehave) {
    const std::wstring huge(100000, L'9');
    EXPECT_EQ(CompareVersions(huge, L"2147483647"), 0);
    EXPECT_EQ(CompareVersions(huge, L"1"), 1);
}

TEST(CompareVersionsLimits, TextEndsAtNul) {
    EXPECT_EQ(CompareVersions(std::wstring(L"1.2\0.9", 6), L"1.2.1"), 0);
}

TEST(CompareVersionsProperties, ReflexiveAndAntisymmetric) {
    const std::vector<std::wstring> samples = {
        L"",       L"0",          L"1",    L"1.0",         L"1.0.0.38", L"1.0.0.39",
        L"1.10",   L"1.9",        L"2",    L"-1",          L"beta",     L"1..2",
        L"1.2.3.", L"4294967295", L"01.2", L"65535.65535", L" 3",       L"3a.4b"};
    for (const std::wstring& a : samples) {
        EXPECT_EQ(CompareVersions(a, a), 0) << WideToUtf8(a);
        for (const std::wstring& b : samples) {
            const int ab = CompareVersions(a, b);
            EXPECT_TRUE(ab == -1 || ab == 0 || ab == 1);
            EXPECT_EQ(ab, -CompareVersions(b, a)) << WideToUtf8(a) << " vs " << WideToUtf8(b);
        }
    }
}

TEST(CompareVersionsProperties, FourPartFileVersionsOrderLikeTuples) {
    // File versions always have four parts in 0..65535: there the order is the plain one.
    const int values[] = {0, 1, 9, 10, 65535};
    std::vector<std::vector<int>> tuples;
    for (int a : values)
        for (int b : values)
            tuples.push_back({a, b, a == 0 ? 65535 : 0, b});
    auto text = [](const std::vector<int>& t) {
        return std::to_wstring(t[0]) + L"." + std::to_wstring(t[1]) + L"." + std::to_wstring(t[2]) +
               L"." + std::to_wstring(t[3]);
    };
    for (const auto& x : tuples) {
        for (const auto& y : tuples) {
            const int expected = x < y ? -1 : (y < x ? 1 : 0);
            EXPECT_EQ(CompareVersions(text(x), text(y)), expected)
                << WideToUtf8(text(x)) << " vs " << WideToUtf8(text(y));
        }
    }
}

}  // namespace
