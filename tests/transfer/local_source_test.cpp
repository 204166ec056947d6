// How a file: base address names its folder, and where a network address is looked for in it.

#include "transfer/local_source.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(LocalSourceTest, OnlyAFileAddressFromTheRootNamesAFolder) {
    const struct {
        const wchar_t* url;
        const wchar_t* folder;  // empty: none
    } rows[] = {
        {L"file:///media/usb/velmora2/", L"/media/usb/velmora2/"},
        {L"FILE://localhost/media/usb", L"/media/usb/"},
        {L"file:///Velmora%20II/%C3%A9t%C3%A9/", L"/Velmora II/\u00e9t\u00e9/"},
        {L"file://server/share/", L""},
        {L"file:relative/", L""},
        {L"file:///a%00b/", L""},
        {L"https://cdn.example/velmora2/", L""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LocalSourceFolder(row.url), row.folder) << row.url;
}

TEST(LocalSourceTest, AnAddressStandsForTheTailsOfItsPathLongestFirst) {
    EXPECT_EQ(LocalCandidates(L"https://cdn.example/v2//files/./a%20b.pak?x=1"),
              (std::vector<std::wstring>{L"v2/files/a b.pak", L"files/a b.pak", L"a b.pak"}));
    EXPECT_TRUE(LocalCandidates(L"https://cdn.example/v2/../a.pak").empty());
    EXPECT_TRUE(LocalCandidates(L"https://cdn.example/v2%2F..%2Fa.pak").empty());
    EXPECT_TRUE(LocalCandidates(L"https://cdn.example").empty());
}

TEST(LocalSourceTest, ADocumentIsARegularFileReachedWithoutALink) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile("patchinfo.xml", "<patch_info/>"));
    std::filesystem::create_symlink(dir.PathOf("patchinfo.xml"), dir.PathOf("linked.xml"));
    MemoryBuffer body;
    Failure failure;
    ASSERT_TRUE(ReadLocalDocument(dir.WidePathOf("patchinfo.xml"), body, 100, &failure));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.bytes)), "<patch_info/>");
    EXPECT_EQ(body.byteCount, 14u);
    EXPECT_FALSE(ReadLocalDocument(dir.WidePathOf("patchinfo.xml"), body, 12, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kTooLarge);
    for (const char* name : {"linked.xml", "missing.xml", ""}) {
        EXPECT_FALSE(ReadLocalDocument(dir.WidePathOf(name), body, 100, &failure)) << name;
        EXPECT_TRUE(failure.IsFailure()) << name;
        EXPECT_EQ(body.bytes, nullptr) << name;
    }
}

}  // namespace
