#include "app/command_line.h"

#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"
#include "text/utf8.h"

namespace {

std::vector<std::wstring> Args(std::initializer_list<const wchar_t*> rest) {
    std::vector<std::wstring> args{L"velmora-launcher"};
    for (const wchar_t* a : rest)
        args.emplace_back(a);
    return args;
}

CLauncherCommandLineInfo Parse(std::vector<std::wstring> args) {
    CLauncherCommandLineInfo info;
    ParseLauncherCommandLine(args, info);
    return info;
}

const std::wstring kDefaultUrl = Utf8ToWide(std::string_view(VELMORA_DEFAULT_BASE_URL));

TEST(FindOptionTest, ConsumesEachPairAndKeepsTheLastValue) {
    auto args = Args({L"--url", L"A", L"x", L"--url", L"B"});
    std::size_t count = args.size();
    std::wstring value;
    EXPECT_TRUE(FindOption(args, count, L"--url", value, kUrlCapacity));
    EXPECT_EQ(value, L"B");
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(args[0], L"velmora-launcher");
    EXPECT_EQ(args[1], L"x");
}

TEST(FindOptionTest, AdjacentOccurrencesAreBothConsumed) {
    auto args = Args({L"--url", L"A", L"--url", L"B"});
    std::size_t count = args.size();
    std::wstring value;
    EXPECT_TRUE(FindOption(args, count, L"--url", value, kUrlCapacity));
    EXPECT_EQ(value, L"B");
    EXPECT_EQ(count, 1u);
}

TEST(FindOptionTest, AnOptionWithoutValueAtTheEndVoidsEarlierOnes) {
    auto args = Args({L"--url", L"A", L"x", L"--url"});
    std::size_t count = args.size();
    std::wstring value;
    EXPECT_FALSE(FindOption(args, count, L"--url", value, kUrlCapacity));
    EXPECT_EQ(Parse(Args({L"--url", L"A", L"x", L"--url"})).m_szUrl, kDefaultUrl);
}

TEST(FindOptionTest, OptionsAreCaseSensitive) {
    auto args = Args({L"--URL", L"A"});
    std::size_t count = args.size();
    std::wstring value;
    EXPECT_FALSE(FindOption(args, count, L"--url", value, kUrlCapacity));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(args[1], L"--URL");
}

TEST(FindOptionTest, AValueMayLookLikeAnOption) {
    auto args = Args({L"--url", L"--path", L"rest"});
    std::size_t count = args.size();
    std::wstring value;
    EXPECT_TRUE(FindOption(args, count, L"--url", value, kUrlCapacity));
    EXPECT_EQ(value, L"--path");
    EXPECT_EQ(count, 2u);
}

TEST(ParseCommandLineTest, NoArgumentsGiveTheDefaults) {
    const auto info = Parse(Args({}));
    EXPECT_EQ(info.m_szUrl, kDefaultUrl);
    EXPECT_TRUE(info.m_szPath.empty());
    ASSERT_FALSE(kDefaultUrl.empty());
    EXPECT_EQ(kDefaultUrl.back(), L'/');
}

TEST(ParseCommandLineTest, PathGetsOneSeparatorAppended) {
    EXPECT_EQ(Parse(Args({L"--path", L"/games/velmora"})).m_szPath, L"/games/velmora/");
    EXPECT_EQ(Parse(Args({L"--path", L"/games/velmora/"})).m_szPath, L"/games/velmora//");
}

// An empty folder is the current one, as no --path is; a separator after it would name the root.
TEST(ParseCommandLineTest, EmptyPathMeansTheCurrentFolder) {
    EXPECT_EQ(Parse(Args({L"--path", L""})).m_szPath, L"");
    EXPECT_EQ(Parse(Args({L"--path", L"/a", L"--path", L""})).m_szPath, L"");
}

TEST(ParseCommandLineTest, VerboseIsASwitchAnywhereAfterTheProgram) {
    EXPECT_TRUE(Parse(Args({L"--path", L"/g", L"--verbose"})).m_bVerbose);
    EXPECT_FALSE(Parse(Args({L"--Verbose"})).m_bVerbose);
    // As a value it is the value, not the switch.
    const auto info = Parse(Args({L"--path", L"--verbose"}));
    EXPECT_FALSE(info.m_bVerbose);
    EXPECT_EQ(info.m_szPath, L"--verbose/");
}

// A folder named in Latin-1 reaches the fields byte for byte.
TEST(ParseCommandLineTest, PathThatIsNotUtf8RoundTrips) {
    std::vector<std::wstring> args{L"velmora-launcher", L"--path",
                                   Utf8ToWide(std::string_view("/games/Jeux \xe9t\xe9"))};
    const auto info = Parse(args);
    EXPECT_EQ(WideToUtf8(std::wstring_view(info.m_szPath)), "/games/Jeux \xe9t\xe9/");
}

TEST(ParseCommandLineTest, UrlPairsGoBeforePathIsLookedUp) {
    // Once "--url X" is gone, --path is the last argument and has no value.
    const auto info = Parse(Args({L"--path", L"--url", L"X"}));
    EXPECT_EQ(info.m_szUrl, L"X");
    EXPECT_TRUE(info.m_szPath.empty());
}

TEST(ParseCommandLineTest, OverLongValuesAreTreatedAsAbsentNeverCut) {
    const std::wstring url255 = L"http://h/" + std::wstring(245, L'a') + L"/";
    ASSERT_EQ(url255.size(), 255u);
    EXPECT_EQ(Parse(Args({L"--url", url255.c_str()})).m_szUrl, url255);
    const std::wstring url256 = url255 + L"b";
    EXPECT_EQ(Parse(Args({L"--url", url256.c_str()})).m_szUrl, kDefaultUrl);

    const std::wstring path258(258, L'p');
    EXPECT_EQ(Parse(Args({L"--path", path258.c_str()})).m_szPath, path258 + L"/");
    const std::wstring path259(259, L'p');
    EXPECT_TRUE(Parse(Args({L"--path", path259.c_str()})).m_szPath.empty());
}

TEST(ParseCommandLineTest, LauncherSwitchesAreRecognisedAnywhere) {
    const auto info = Parse(
        Args({L"--console", L"--url", L"U/", L"--yes", L"--no-cache", L"--download-only"}));
    EXPECT_TRUE(info.m_bConsole);
    EXPECT_TRUE(info.m_bDownloadOnly);
    EXPECT_TRUE(info.m_bAssumeYes);
    EXPECT_TRUE(info.m_bNoCache);
    EXPECT_FALSE(info.m_bShowHelp);
    EXPECT_EQ(info.m_szUrl, L"U/");
    EXPECT_FALSE(Parse(Args({L"--console"})).m_bNoCache);
}

// Rates as curl writes them; anything else leaves the download uncapped. The environment
// stands in for a missing option only.
TEST(ParseCommandLineTest, LimitRateTakesCurlsUnitsAndTheEnvironmentStandsIn) {
    ScopedEnv none(kRateLimitVariable, std::nullopt);
    struct Row {
        const wchar_t* text;
        std::int64_t rate;
    };
    for (const Row& row :
         {Row{L"500K", 512000}, Row{L"2M", 2097152}, Row{L"2m", 2097152}, Row{L"1G", 1073741824},
          Row{L"250000", 250000}, Row{L"0", 0}, Row{L"1.5M", 0}, Row{L"-1K", 0}, Row{L"K", 0},
          Row{L"", 0}, Row{L"2T", 0}, Row{L"2048G", 0}, Row{L"99999999999999", 0}})
        EXPECT_EQ(Parse(Args({L"--limit-rate", row.text})).m_rateLimit, row.rate) << row.text;
    EXPECT_EQ(Parse(Args({})).m_rateLimit, 0);
    ScopedEnv desktop(kRateLimitVariable, "2M");
    EXPECT_EQ(Parse(Args({})).m_rateLimit, 2097152);
    EXPECT_EQ(Parse(Args({L"--limit-rate", L"100K"})).m_rateLimit, 102400);
}

TEST(ParseCommandLineTest, UnknownArgumentsStayWhereFindOptionLeavesThem) {
    auto args = Args({L"extra", L"--url", L"U/", L"--other"});
    CLauncherCommandLineInfo info;
    ParseLauncherCommandLine(args, info);
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[1], L"extra");
    EXPECT_EQ(args[2], L"--other");
}

}  // namespace
