// Recognising the installed game: its executable's file version and digest, matched against
// the catalogue's releases.

#include <sys/stat.h>
#include <unistd.h>

#include <cwctype>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/file_version.h"
#include "app/update_flow.h"
#include "app/version_detection.h"
#include "catalogue/patch_info.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "tools/pe_writer/pe_writer.h"
#include "transfer/curl_wrapper.h"
#include "transfer/digest_cache.h"
#include "transfer/md5.h"

namespace {

namespace fs = std::filesystem;

class DetectInstalledVersionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.IsValid());
        fs::create_directories(m_root.PathOf("game/bin"));
        m_installFolder = m_root.WidePathOf("game") + L"/";
        m_info = std::make_unique<PatchInfo>();
        LanguageIndex = 0;
    }

    std::wstring Exe() const { return m_root.WidePathOf("game/bin/velmora2.exe"); }
    void WriteGame(PeVersion version, bool withVersion = true) {
        PeOptions options;
        options.fileVersion = version;
        options.withVersion = withVersion;
        ASSERT_TRUE(WritePeFile(m_root.NarrowPathOf("game/bin/velmora2.exe"), options));
    }
    std::wstring Digest() const {
        CMD5Wrapper md5;
        return md5.FileHashW(Exe());
    }
    // A release of the catalogue identified by one digest, patched to latest.
    GameVersion& AddRelease(const std::wstring& name, const std::wstring& md5,
                            const std::wstring& latest = L"1.2.0.0") {
        auto game = std::make_unique<GameVersion>();
        game->name = name;
        game->latestversion = latest;
        auto sum = std::make_unique<ExeChecksum>();
        sum->md5 = md5;
        game->checksums.push_back(std::move(sum));
        auto patch = std::make_unique<PatchEntry>();
        patch->version = latest;
        patch->installer = L"setup.exe";
        game->latest = patch.get();
        game->patch_list.push_back(std::move(patch));
        m_info->game_version_list.push_back(std::move(game));
        return *m_info->game_version_list.back();
    }
    // The launcher's own two steps: the game read (through cache), then the model filled.
    bool Detect(DigestCache& cache, const std::atomic<bool>* stop = nullptr,
                const FileDigestFunction& digest = {}) {
        m_startGame = false;
        return ApplyInstalledGame(ReadInstalledGame(m_installFolder, cache, stop, digest),
                                  m_info.get(), m_startGame);
    }
    bool Detect() {
        DigestCache none{std::wstring()};
        return Detect(none);
    }
    PatchInfo& Info() { return *m_info; }

    TempDir m_root;
    std::wstring m_installFolder;
    std::unique_ptr<PatchInfo> m_info;
    bool m_startGame = false;
};

TEST_F(DetectInstalledVersionTest, RecognisesTheReleaseByItsDigest) {
    WriteGame({1, 1, 0, 7});
    AddRelease(L"other", std::wstring(32, L'a'));
    GameVersion& retail = AddRelease(L"retail", Digest());
    EXPECT_TRUE(Detect());
    EXPECT_TRUE(m_startGame);
    EXPECT_EQ(Info().installed_game, &retail);
    EXPECT_EQ(Info().installed_version, L"1.1.0.7");
    EXPECT_EQ(Info().launcher_version, LauncherFileVersion());
    EXPECT_FALSE(Info().launcher_version.empty());
}

// The start after the first: the executable's digest comes from the cache, not from the disk.
class CachedDetectionTest : public DetectInstalledVersionTest {
  protected:
    static constexpr std::int64_t kSecond = 1'000'000'000;

    // A cache whose clock runs ahead of the file times, so that a game written a moment ago
    // counts as settled.
    std::unique_ptr<DigestCache> SettledCache() {
        return std::make_unique<DigestCache>(m_root.WidePathOf("cache/digests"),
                                             [] { return WallClockNs() + 10 * kSecond; });
    }
    FileDigestFunction Counting() {
        return [this](const std::wstring& path, bool withSha256, const std::atomic<bool>* stop) {
            ++m_reads;
            return FileDigests(path, withSha256, stop);
        };
    }
    bool DetectWith(DigestCache* cache) {
        DigestCache none{std::wstring()};
        return Detect(cache != nullptr ? *cache : none, nullptr, Counting());
    }

    int m_reads = 0;
};

TEST_F(CachedDetectionTest, SecondStartDoesNotReadTheExecutable) {
    WriteGame({1, 1, 0, 7});
    GameVersion& retail = AddRelease(L"retail", Digest());
    auto first = SettledCache();
    ASSERT_TRUE(DetectWith(first.get()));
    EXPECT_EQ(Info().installed_game, &retail);
    EXPECT_EQ(m_reads, 1);
    ASSERT_TRUE(first->Save());

    Info().installed_game = nullptr;
    auto second = SettledCache();
    ASSERT_TRUE(second->Load());
    ASSERT_TRUE(DetectWith(second.get()));
    EXPECT_EQ(Info().installed_game, &retail);
    EXPECT_EQ(Info().installed_version, L"1.1.0.7");
    EXPECT_EQ(m_reads, 1);

    // A game patched since is read again and no longer taken for the old release.
    WriteGame({1, 2, 0, 0});
    ASSERT_TRUE(DetectWith(second.get()));
    EXPECT_EQ(m_reads, 2);
    EXPECT_EQ(Info().installed_game, nullptr);
    EXPECT_EQ(Info().installed_version, L"1.2.0.0");
}

// A cancelled check abandons the digest: no release is taken for the game on the strength of
// a part of it, and nothing of it is remembered for the next start.
TEST_F(CachedDetectionTest, AStoppedDigestRecognisesNothingAndLeavesNoEntry) {
    WriteGame({1, 1, 0, 7});
    AddRelease(L"retail", Digest());
    auto cache = SettledCache();
    const std::atomic<bool> stop{true};
    ASSERT_TRUE(Detect(*cache, &stop, Counting()));
    EXPECT_EQ(Info().installed_game, nullptr);
    EXPECT_EQ(Info().installed_version, L"1.1.0.7");
    EXPECT_EQ(cache->Size(), 0u);
    EXPECT_TRUE(m_startGame);
}

TEST_F(CachedDetectionTest, WithoutCacheEveryStartReads) {
    WriteGame({1, 1, 0, 7});
    GameVersion& retail = AddRelease(L"retail", Digest());
    for (int start = 1; start <= 2; ++start) {
        ASSERT_TRUE(DetectWith(nullptr));
        EXPECT_EQ(Info().installed_game, &retail);
        EXPECT_EQ(m_reads, start);
    }
}

TEST_F(CachedDetectionTest, NoCacheOptionLeavesTheCacheFolderUntouched) {
    WriteGame({1, 1, 0, 7});
    GameVersion& retail = AddRelease(L"retail", Digest());
    ScopedEnv cacheHome("XDG_CACHE_HOME", m_root.NarrowPathOf("xdg-cache"));
    // --no-cache: the launcher's cache is a disabled one.
    ASSERT_TRUE(Detect());
    EXPECT_TRUE(m_startGame);
    EXPECT_EQ(Info().installed_game, &retail);
    // Nor does the download worker get one.
    DigestCache disabled(L"");
    EXPECT_EQ(ReadInstalledGame(m_installFolder, disabled).digestCache, L"");
    EXPECT_FALSE(fs::exists(m_root.PathOf("xdg-cache")));
}

TEST_F(CachedDetectionTest, UnusableCacheFolderChangesNothingButSpeed) {
    WriteGame({1, 1, 0, 7});
    GameVersion& retail = AddRelease(L"retail", Digest());
    // A file where the cache folder belongs: no cache can be kept there, not even by root.
    fs::create_directories(m_root.PathOf("xdg-cache"));
    ASSERT_TRUE(m_root.WriteFile("xdg-cache/velmora-launcher", "in the way"));
    ScopedEnv cacheHome("XDG_CACHE_HOME", m_root.NarrowPathOf("xdg-cache"));
    for (int start = 1; start <= 2; ++start) {
        Info().installed_game = nullptr;
        DigestCache cache(UserDigestCachePath());
        ASSERT_TRUE(Detect(cache));
        EXPECT_TRUE(m_startGame);
        EXPECT_EQ(Info().installed_game, &retail);
        // The download worker is handed the same cache, and copes with it the same way.
        EXPECT_EQ(ReadInstalledGame(m_installFolder, cache).digestCache,
                  m_root.WidePathOf("xdg-cache/velmora-launcher/digests"));
    }
    EXPECT_EQ(m_root.ReadFile("xdg-cache/velmora-launcher").value_or(""), "in the way");
}

TEST_F(DetectInstalledVersionTest, MissingExecutableFailsAndLeavesTheModelAlone) {
    AddRelease(L"retail", std::wstring(32, L'a'));
    Info().installed_version = L"untouched";
    EXPECT_FALSE(Detect());
    EXPECT_TRUE(m_startGame);
    EXPECT_EQ(Info().installed_version, L"untouched");
    EXPECT_TRUE(Info().launcher_version.empty());
    EXPECT_EQ(Info().installed_game, nullptr);
}

TEST_F(DetectInstalledVersionTest, DigestListedByTwoReleasesMeansTheFirst) {
    WriteGame({1, 1, 0, 0});
    GameVersion& first = AddRelease(L"first", Digest());
    AddRelease(L"second", Digest());
    EXPECT_TRUE(Detect());
    EXPECT_EQ(Info().installed_game, &first);
}

TEST_F(DetectInstalledVersionTest, UpperCaseDigestInTheCatalogueDoesNotMatch) {
    WriteGame({1, 1, 0, 0});
    std::wstring upper = Digest();
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    ASSERT_NE(upper, Digest());
    AddRelease(L"retail", upper);
    EXPECT_TRUE(Detect());
    EXPECT_EQ(Info().installed_game, nullptr);
}

TEST_F(DetectInstalledVersionTest, UnknownDigestClearsAnEarlierRecognition) {
    WriteGame({1, 1, 0, 0});
    GameVersion& retail = AddRelease(L"retail", std::wstring(32, L'b'));
    Info().installed_game = &retail;
    EXPECT_TRUE(Detect());
    EXPECT_EQ(Info().installed_game, nullptr);
}

// Only a regular file is the game: a folder (or a FIFO, which could block a read for ever) in
// its place counts as missing at once, and the game start that follows fails with message 200.
TEST_F(DetectInstalledVersionTest, ExecutableThatIsAFolderCountsAsMissing) {
    fs::create_directories(m_root.PathOf("game/bin/velmora2.exe"));
    AddRelease(L"retail", std::wstring(32, L'0'));
    EXPECT_FALSE(Detect());
    EXPECT_TRUE(Info().installed_version.empty());
    EXPECT_EQ(Info().installed_game, nullptr);
}

TEST_F(DetectInstalledVersionTest, UnreadableExecutableIsFoundButNotRecognised) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    WriteGame({1, 1, 0, 0});
    GameVersion& retail = AddRelease(L"retail", Digest());
    ASSERT_EQ(::chmod(m_root.NarrowPathOf("game/bin/velmora2.exe").c_str(), 0), 0);
    Info().installed_game = &retail;
    EXPECT_TRUE(Detect());
    EXPECT_TRUE(Info().installed_version.empty());
    EXPECT_EQ(Info().installed_game, nullptr);
}

TEST_F(DetectInstalledVersionTest, ExecutableWithoutVersionStillGetsTheOffer) {
    WriteGame({0, 0, 0, 0}, false);
    AddRelease(L"retail", Digest());
    EXPECT_TRUE(Detect());
    EXPECT_TRUE(Info().installed_version.empty());
    ASSERT_NE(Info().installed_game, nullptr);

    CLauncherCommandLineInfo options;
    ScriptedUserInterface ui;
    ui.m_answers = {kIdNo};
    CCurlWrapper curl;
    UpdateFlow flow{options, ui, curl, m_info, {}};
    bool start = false;
    EXPECT_FALSE(OfferUpdate(flow, start));
    EXPECT_TRUE(start);
    ASSERT_EQ(ui.m_boxes.size(), 1u);
    EXPECT_EQ(ui.m_boxes[0].text,
              L"A new patch is available. You currently have version  , the latest patch "
              L"available is version 1.2.0.0 . Do you wish to download the patch?");
}

TEST_F(DetectInstalledVersionTest, RelativeInstallationFolderIsBelowTheCurrentDirectory) {
    WriteGame({2, 0, 0, 1});
    ScopedCurrentDirectory here(m_root.PathOf("game"));
    ASSERT_TRUE(here.IsValid());
    m_installFolder.clear();
    EXPECT_TRUE(Detect());
    EXPECT_EQ(Info().installed_version, L"2.0.0.1");
}

TEST_F(DetectInstalledVersionTest, InstallationFolderTooLongForThePathBufferFails) {
    // 259 characters of path are allowed; "bin/velmora2.exe" needs 16 of them.
    const std::string base = m_root.NarrowPathOf("");
    const std::string folder = base + std::string(259 - 16 - base.size(), 'g') + "/";
    ASSERT_EQ(folder.size(), 259u - 16u + 1u);
    fs::create_directories(fs::path(folder) / "bin");
    ASSERT_TRUE(WritePeFile(folder + "bin/velmora2.exe", PeOptions{}));
    m_installFolder = Utf8ToWide(std::string_view(folder));
    EXPECT_FALSE(Detect());

    // One character less fits exactly.
    const std::string shorter = base + std::string(259 - 16 - base.size() - 1, 'g') + "/";
    fs::create_directories(fs::path(shorter) / "bin");
    ASSERT_TRUE(WritePeFile(shorter + "bin/velmora2.exe", PeOptions{}));
    m_installFolder = Utf8ToWide(std::string_view(shorter));
    EXPECT_TRUE(Detect());
}

TEST(GamePathTest, ExecutableAndFolderBelowTheInstallationFolder) {
    std::wstring exe, folder;
    ASSERT_TRUE(GameExecutablePath(L"", exe));
    ASSERT_TRUE(GameFolderPath(L"", folder));
    EXPECT_EQ(exe, L"bin/velmora2.exe");
    EXPECT_EQ(folder, L"bin/");
    ASSERT_TRUE(GameExecutablePath(L"/games/Velmora II/", exe));
    EXPECT_EQ(exe, L"/games/Velmora II/bin/velmora2.exe");
}

}  // namespace
