// How a file: base address names its folder, and where a network address is looked for in it.

#include "transfer/local_source.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "transfer/document_fetch.h"

namespace {

TEST(LocalSourceTest, OnlyAFileAddressFromTheRootNamesAFolderAndAnyOtherNamesPlacesInIt) {
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"file:///media/usb/velmora2/", L"/media/usb/velmora2/"},
        {L"FILE://localhost/media/usb", L"/media/usb/"},
        {L"file:///Velmora%20II/%C3%A9t%C3%A9/", L"/Velmora II/\u00e9t\u00e9/"},
        {L"file://server/share/", L""},
        {L"file:///a%00b/", L""},
        {L"https://cdn.example/velmora2/", L""},
    };
    for (const auto& [url, folder] : rows)
        EXPECT_EQ(LocalSourceFolder(url), folder) << url;
    // A network address stands for the tails of its path, longest first.
    EXPECT_EQ(LocalCandidates(L"https://cdn.example/v2//files/./a%20b.pak?x=1"),
              (std::vector<std::wstring>{L"v2/files/a b.pak", L"files/a b.pak", L"a b.pak"}));
    for (const wchar_t* url : {L"https://cdn.example/v2/../a.pak",
                               L"https://cdn.example/v2%2F..%2Fa.pak", L"https://cdn.example"})
        EXPECT_TRUE(LocalCandidates(url).empty()) << url;
}

// Fetched as from a server, in every build: an https-only one refuses plain addresses only.
TEST(LocalSourceTest, ADocumentIsARegularFileOfItsSizeReachedWithoutALink) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile("patchinfo.xml", "<patch_info/>"));
    std::filesystem::create_symlink(dir.PathOf("patchinfo.xml"), dir.PathOf("linked.xml"));
    MemoryBuffer body;
    CCurlWrapper curl;
    ASSERT_TRUE(FetchDocument(curl, L"file://" + dir.WidePathOf("patchinfo.xml"), body, {}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.bytes)), "<patch_info/>");
    const std::pair<const char*, std::size_t> refused[] = {
        {"patchinfo.xml", 12}, {"linked.xml", 100}, {"missing.xml", 100}};
    for (const auto& [name, limit] : refused)
        EXPECT_FALSE(ReadLocalDocument(dir.WidePathOf(name), body, limit) || body.bytes) << name;
}

}  // namespace
