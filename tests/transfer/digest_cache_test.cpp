#include "transfer/digest_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/file_identity.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"
#include "transfer/md5.h"
// The cache and the verification share one digest function type; both headers in one unit.
#include "transfer/verify.h"

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

// Sets a file's modification time to the nanosecond; its change time moves to now, as always.
bool SetModifiedNs(const std::string& path, std::int64_t ns) {
    const timespec times[2] = {{0, UTIME_OMIT}, {ns / kSecond, ns % kSecond}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

class DigestCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        m_cachePath = m_dir.WidePathOf("cache/velmora-launcher/digests");
    }

    // A cache whose clock runs ahead of the files' times, so that what it records about files
    // written a moment ago counts as settled; the racy-window cases use the real clock.
    std::unique_ptr<DigestCache> SettledCache() {
        return std::make_unique<DigestCache>(m_cachePath,
                                             [] { return WallClockNs() + 10 * kSecond; });
    }

    // A digest function that counts the files it really read.
    FileDigestFunction Counting() {
        return [this](const std::wstring& path, bool withSha256, const std::atomic<bool>* stop) {
            ++m_reads;
            return FileDigests(path, withSha256, stop);
        };
    }

    std::wstring Hash(DigestCache& cache, const std::string& name) {
        return CachedFileHash(cache, m_dir.WidePathOf(name), nullptr, Counting());
    }

    std::wstring TrueDigest(const std::string& name) {
        return CMD5Wrapper().FileHashW(m_dir.WidePathOf(name));
    }

    platform::FileIdentity Identity(const std::string& name) {
        platform::FileIdentity identity;
        EXPECT_TRUE(platform::ReadFileIdentity(m_dir.WidePathOf(name), identity)) << name;
        return identity;
    }

    // Returns once a change made now gets a later change time than the file has: the file
    // system's timestamps are coarser than the few microseconds a test takes between writes.
    void WaitForLaterChangeTime(const std::string& name) {
        const std::int64_t before = Identity(name).changedNs;
        ASSERT_TRUE(m_dir.WriteFile("tick", ""));
        const std::string probe = m_dir.NarrowPathOf("tick");
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(chmod(probe.c_str(), (i % 2) ? 0600 : 0644), 0);
            if (Identity("tick").changedNs > before)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        FAIL() << "the change time never moved on";
    }

    void WriteCacheFile(const std::string& text) {
        ASSERT_TRUE(m_dir.WriteFile("cache/velmora-launcher/digests", text));
    }

    TempDir m_dir;
    std::wstring m_cachePath;
    int m_reads = 0;
};

TEST_F(DigestCacheTest, UnchangedFileIsNotReadAgain) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "MZ the game"));
    const std::wstring expected = TrueDigest("game.exe");
    auto cache = SettledCache();
    EXPECT_EQ(Hash(*cache, "game.exe"), expected);
    EXPECT_EQ(m_reads, 1);
    EXPECT_EQ(Hash(*cache, "game.exe"), expected);
    EXPECT_EQ(m_reads, 1);

    // And across runs: what one launcher saved, the next one finds without reading.
    ASSERT_TRUE(cache->Save());
    auto next = SettledCache();
    ASSERT_TRUE(next->Load());
    EXPECT_EQ(Hash(*next, "game.exe"), expected);
    EXPECT_EQ(m_reads, 1);
}

TEST_F(DigestCacheTest, FileSystemWithoutChangeTimeOfItsOwnIsReadEveryTime) {
    // A squashfs or erofs image: a rebuilt one may keep every field of the identity.
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "MZ the game"));
    auto cache = SettledCache();
    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    platform::SetFileSystemRule([](std::uint64_t kind) { return kind == 0x73717368; });
    EXPECT_FALSE(Identity("game.exe").changeTimeKept);
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    std::FILE* file = std::fopen(m_dir.NarrowPathOf("game.exe").c_str(), "rb");
    bool read = false;
    EXPECT_EQ(CachedOpenFileDigests(*cache, file, false, nullptr, &read).md5,
              TrueDigest("game.exe"));
    std::fclose(file);
    platform::SetFileSystemRule(nullptr);
    EXPECT_TRUE(read);
    EXPECT_EQ(m_reads, 3);
    FileDigestTexts found;
    platform::FileIdentity untrusted = Identity("game.exe");
    untrusted.changeTimeKept = false;
    EXPECT_FALSE(cache->LookUp(untrusted, found));
    EXPECT_FALSE(cache->Remember(untrusted, {TrueDigest("game.exe"), {}}, WallClockNs() + kSecond));
}

TEST_F(DigestCacheTest, FileChangedInPlaceWithSizeAndTimesRestoredIsHashedAgain) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "release 1.0.0.0"));
    auto cache = SettledCache();
    Hash(*cache, "game.exe");
    const platform::FileIdentity old = Identity("game.exe");

    WaitForLaterChangeTime("game.exe");
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "release 1.2.0.0"));
    ASSERT_TRUE(SetModifiedNs(m_dir.NarrowPathOf("game.exe"), old.modifiedNs));
    const platform::FileIdentity now = Identity("game.exe");
    ASSERT_EQ(now.inode, old.inode);
    ASSERT_EQ(now.size, old.size);
    ASSERT_EQ(now.modifiedNs, old.modifiedNs);

    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 2);
}

TEST_F(DigestCacheTest, ReplacedFileIsHashedAgain) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "release 1.0.0.0"));
    auto cache = SettledCache();
    Hash(*cache, "game.exe");
    const platform::FileIdentity old = Identity("game.exe");

    // Another file of the same size and times takes its name, as an installer does.
    ASSERT_TRUE(m_dir.WriteFile("game.new", "release 1.2.0.0"));
    ASSERT_TRUE(SetModifiedNs(m_dir.NarrowPathOf("game.new"), old.modifiedNs));
    std::filesystem::rename(m_dir.PathOf("game.new"), m_dir.PathOf("game.exe"));
    ASSERT_NE(Identity("game.exe").inode, old.inode);

    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 2);
}

TEST_F(DigestCacheTest, TimesSetBackAreHashedAgain) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "release 1.0.0.0"));
    auto cache = SettledCache();
    Hash(*cache, "game.exe");
    ASSERT_TRUE(SetModifiedNs(m_dir.NarrowPathOf("game.exe"),
                              Identity("game.exe").modifiedNs - 3600 * kSecond));
    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 2);
}

TEST_F(DigestCacheTest, DigestTakenRightAfterAChangeIsNotTrusted) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "just written"));
    DigestCache cache(m_cachePath);
    EXPECT_EQ(Hash(cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(Hash(cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 2);
    EXPECT_EQ(cache.Size(), 0u);

    // The window counts from the later of the two times, to the nanosecond.
    const platform::FileIdentity identity = Identity("game.exe");
    const std::int64_t lastChange = std::max(identity.modifiedNs, identity.changedNs);
    const FileDigestTexts digests{TrueDigest("game.exe"), {}};
    EXPECT_FALSE(cache.Remember(identity, digests, lastChange + DigestCache::kRacyWindowNs - 1));
    EXPECT_TRUE(cache.Remember(identity, digests, lastChange + DigestCache::kRacyWindowNs));
    FileDigestTexts found;
    EXPECT_TRUE(cache.LookUp(identity, found));
}

TEST_F(DigestCacheTest, RacyEntryInTheFileIsNotTrusted) {
    // A record that some other writer made too close to the change: read, but never believed.
    WriteCacheFile(
        "velmora-launcher digest cache 1\n"
        "1 2 3 4000000000 5000000000 6999999999 0123456789abcdef0123456789abcdef -\n"
        "end 1\n");
    DigestCache cache(m_cachePath);
    ASSERT_TRUE(cache.Load());
    EXPECT_EQ(cache.Size(), 1u);
    FileDigestTexts found;
    EXPECT_FALSE(cache.LookUp({1, 2, 3, 4 * kSecond, 5 * kSecond}, found));
}

TEST_F(DigestCacheTest, FileChangingWhileHashedIsNotRemembered) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "before"));
    auto cache = SettledCache();
    const FileDigestFunction changing = [&](const std::wstring& path, bool withSha256,
                                            const std::atomic<bool>* stop) {
        const FileDigestTexts digest = FileDigests(path, withSha256, stop);
        EXPECT_TRUE(m_dir.WriteFile("game.exe", "after, and longer"));
        return digest;
    };
    CachedFileHash(*cache, m_dir.WidePathOf("game.exe"), nullptr, changing);
    EXPECT_EQ(cache->Size(), 0u);
    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 1);
}

TEST_F(DigestCacheTest, ErrorTextsAreNeverRemembered) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "x"));
    auto cache = SettledCache();
    const FileDigestFunction failing = [](const std::wstring&, bool, const std::atomic<bool>*) {
        return FileDigestTexts{L"read__error", L""};
    };
    EXPECT_EQ(CachedFileHash(*cache, m_dir.WidePathOf("game.exe"), nullptr, failing),
              L"read__error");
    EXPECT_EQ(cache->Size(), 0u);
    EXPECT_FALSE(cache->Remember(Identity("game.exe"), {L"0123456789ABCDEF0123456789ABCDEF", {}},
                                 WallClockNs() + 10 * kSecond));
    EXPECT_FALSE(cache->Remember(Identity("game.exe"),
                                 {L"0123456789abcdef0123456789abcdef", L"too short"},
                                 WallClockNs() + 10 * kSecond));
}

TEST_F(DigestCacheTest, LinksFoldersAndMissingFilesGiveTheUncachedResult) {
    ASSERT_TRUE(m_dir.WriteFile("real.exe", "target"));
    ASSERT_EQ(
        symlink(m_dir.NarrowPathOf("real.exe").c_str(), m_dir.NarrowPathOf("link.exe").c_str()), 0);
    ASSERT_TRUE(m_dir.WriteFile("folder/inside", "x"));
    auto cache = SettledCache();
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Hash(*cache, "link.exe"), TrueDigest("real.exe"));
        EXPECT_EQ(Hash(*cache, "folder"), L"read__error");
        EXPECT_EQ(Hash(*cache, "missing.exe"), L"open__error");
    }
    EXPECT_EQ(m_reads, 6);
    EXPECT_EQ(cache->Size(), 0u);
}

TEST_F(DigestCacheTest, ShaTextTravelsWithTheEntry) {
    const platform::FileIdentity identity{7, 8, 9, 10 * kSecond, 11 * kSecond};
    const std::wstring sha(64, L'e');
    auto cache = SettledCache();
    ASSERT_TRUE(cache->Remember(identity, {std::wstring(32, L'a'), sha}, 20 * kSecond));
    // A later run that only knows the MD5 does not lose the SHA-256.
    ASSERT_TRUE(cache->Remember(identity, {std::wstring(32, L'a'), {}}, 30 * kSecond));
    ASSERT_TRUE(cache->Save());
    DigestCache next(m_cachePath);
    ASSERT_TRUE(next.Load());
    FileDigestTexts found;
    ASSERT_TRUE(next.LookUp(identity, found));
    EXPECT_EQ(found.md5, std::wstring(32, L'a'));
    EXPECT_EQ(found.sha256, sha);
}

TEST_F(DigestCacheTest, ShaIsReadOnceWhenFirstAskedForThenKept) {
    ASSERT_TRUE(m_dir.WriteFile("patch.bin", "patch bytes"));
    const std::wstring path = m_dir.WidePathOf("patch.bin");
    const FileDigestTexts truth = FileDigests(path, true);
    auto cache = SettledCache();
    EXPECT_EQ(Hash(*cache, "patch.bin"), truth.md5);
    EXPECT_EQ(m_reads, 1);
    // An MD5-only entry cannot answer for the SHA-256: the file is read once more for both.
    const FileDigestTexts both = CachedFileDigests(*cache, path, true, nullptr, Counting());
    EXPECT_EQ(both.md5, truth.md5);
    EXPECT_EQ(both.sha256, truth.sha256);
    EXPECT_EQ(m_reads, 2);
    const FileDigestTexts again = CachedFileDigests(*cache, path, true, nullptr, Counting());
    EXPECT_EQ(again.sha256, truth.sha256);
    // Asked for the MD5 alone, the answer has the shape FileDigests gives: no SHA-256 text.
    const FileDigestTexts md5Only = CachedFileDigests(*cache, path, false, nullptr, Counting());
    EXPECT_EQ(md5Only.md5, truth.md5);
    EXPECT_TRUE(md5Only.sha256.empty());
    EXPECT_EQ(m_reads, 2);
}

TEST_F(DigestCacheTest, KeepsTheNewestEntriesUpToItsBound) {
    auto cache = SettledCache();
    const std::size_t extra = 5;
    for (std::size_t i = 0; i < DigestCache::kMaxEntries + extra; ++i) {
        const platform::FileIdentity identity{1, i, 1, kSecond, kSecond};
        ASSERT_TRUE(cache->Remember(identity, {std::wstring(32, L'c'), {}},
                                    static_cast<std::int64_t>(100 + i) * kSecond));
    }
    EXPECT_EQ(cache->Size(), DigestCache::kMaxEntries);
    ASSERT_TRUE(cache->Save());
    DigestCache next(m_cachePath);
    ASSERT_TRUE(next.Load());
    EXPECT_EQ(next.Size(), DigestCache::kMaxEntries);
    FileDigestTexts found;
    EXPECT_FALSE(next.LookUp({1, extra - 1, 1, kSecond, kSecond}, found));
    EXPECT_TRUE(next.LookUp({1, extra, 1, kSecond, kSecond}, found));
    EXPECT_TRUE(next.LookUp({1, DigestCache::kMaxEntries + extra - 1, 1, kSecond, kSecond}, found));
}

TEST_F(DigestCacheTest, DamagedOrForeignFilesAreIgnoredAndRewritten) {
    const std::string good =
        "velmora-launcher digest cache 1\n"
        "1 2 3 4 5 10000000000 0123456789abcdef0123456789abcdef -\n"
        "end 1\n";
    const std::string cases[] = {
        "",
        "\x7f"
        "ELF garbage\n",
        "velmora-launcher digest cache 2\n" + good.substr(good.find('\n') + 1),
        good.substr(0, good.size() - 4),                    // cut inside the last line
        good.substr(0, good.rfind("end")),                  // cut at a line boundary
        good.substr(0, good.rfind("end")) + "end 2\n",      // an entry line lost
        "velmora-launcher digest cache 1\nend 0\n" + good,  // two files run together
        "velmora-launcher digest cache 1\n"
        "1 2 3 4 5 10000000000 0123456789ABCDEF0123456789ABCDEF -\nend 1\n",
        "velmora-launcher digest cache 1\n"
        "1 2 -3 4 5 10000000000 0123456789abcdef0123456789abcdef -\nend 1\n",
        "velmora-launcher digest cache 1\n"
        "1 2 3 4 5 1e10 0123456789abcdef0123456789abcdef -\nend 1\n",
        "velmora-launcher digest cache 1\n"
        "1 2 3 4 5 10000000000 0123456789abcdef0123456789abcdef - extra\nend 1\n",
        "velmora-launcher digest cache 1\n"
        "1 2 3 4 5 10000000000 0123456789abcdef0123456789abcdef -\n"
        "1 2 3 4 5 10000000000 0123456789abcdef0123456789abcdef -\nend 2\n",
        std::string(3 * 1024 * 1024, 'x'),
    };
    for (const std::string& text : cases) {
        WriteCacheFile(text);
        auto cache = SettledCache();
        EXPECT_FALSE(cache->Load()) << text.substr(0, 80);
        EXPECT_EQ(cache->Size(), 0u);
        FileDigestTexts found;
        EXPECT_FALSE(cache->LookUp({1, 2, 3, 4, 5}, found));
        // Rewritten at once, even with nothing new to keep.
        ASSERT_TRUE(cache->Save());
        DigestCache reread(m_cachePath);
        EXPECT_TRUE(reread.Load()) << text.substr(0, 80);
    }
    // The good file itself is read, and left alone when nothing changed.
    WriteCacheFile(good);
    auto cache = SettledCache();
    ASSERT_TRUE(cache->Load());
    FileDigestTexts found;
    EXPECT_TRUE(cache->LookUp({1, 2, 3, 4, 5}, found));
    ASSERT_TRUE(cache->Save());
    EXPECT_EQ(m_dir.ReadFile("cache/velmora-launcher/digests"), good);
}

TEST_F(DigestCacheTest, SomethingElseInPlaceOfTheFileIsNotOpenedButReplaced) {
    // A FIFO would block a reader until some writer came; a link may lead anywhere.
    ASSERT_TRUE(m_dir.WriteFile("cache/velmora-launcher/elsewhere",
                                "velmora-launcher digest cache 1\nend 0\n"));
    const std::string path = m_dir.NarrowPathOf("cache/velmora-launcher/digests");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    for (int kind = 0; kind < 2; ++kind) {
        auto cache = SettledCache();
        EXPECT_FALSE(cache->Load());
        ASSERT_TRUE(cache->Save());
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
        EXPECT_TRUE(SettledCache()->Load());
        std::filesystem::remove(path);
        std::filesystem::create_symlink("elsewhere", path);
    }
}

TEST_F(DigestCacheTest, UnwritableCacheFolderChangesNothingButSpeed) {
    // A plain file where the cache folder should be: no user, root included, can write below it.
    ASSERT_TRUE(m_dir.WriteFile("blocked", ""));
    DigestCache cache(m_dir.WidePathOf("blocked/velmora-launcher/digests"),
                      [] { return WallClockNs() + 10 * kSecond; });
    EXPECT_FALSE(cache.Load());
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "the game"));
    EXPECT_EQ(Hash(cache, "game.exe"), TrueDigest("game.exe"));
    Failure failure;
    EXPECT_FALSE(cache.Save(&failure));
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    EXPECT_EQ(Hash(cache, "game.exe"), TrueDigest("game.exe"));
}

TEST_F(DigestCacheTest, ReadOnlyCacheFolderLeavesNoTraceAndKeepsTheOldFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    WriteCacheFile("velmora-launcher digest cache 1\nend 0\n");
    const std::string folder = m_dir.NarrowPathOf("cache/velmora-launcher");
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    auto cache = SettledCache();
    ASSERT_TRUE(cache->Load());
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "the game"));
    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_FALSE(cache->Save());
    EXPECT_EQ(Hash(*cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 1);
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(DigestCacheTest, DisabledCacheHashesEveryTimeAndWritesNothing) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "the game"));
    DigestCache cache(L"", [] { return WallClockNs() + 10 * kSecond; });
    EXPECT_FALSE(cache.Load());
    EXPECT_EQ(Hash(cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(Hash(cache, "game.exe"), TrueDigest("game.exe"));
    EXPECT_EQ(m_reads, 2);
    EXPECT_FALSE(cache.Remember(Identity("game.exe"), {TrueDigest("game.exe"), {}},
                                WallClockNs() + 10 * kSecond));
    EXPECT_TRUE(cache.Save());
    EXPECT_FALSE(m_dir.Exists("cache"));
}

TEST_F(DigestCacheTest, NothingNewWritesNoFile) {
    ASSERT_TRUE(m_dir.WriteFile("game.exe", "the game"));
    auto cache = SettledCache();
    Hash(*cache, "game.exe");
    ASSERT_TRUE(cache->Save());
    std::filesystem::remove(m_dir.PathOf("cache/velmora-launcher/digests"));
    auto next = SettledCache();
    EXPECT_FALSE(next->Load());
    EXPECT_TRUE(next->Save());
    EXPECT_FALSE(m_dir.Exists("cache/velmora-launcher/digests"));
}

TEST_F(DigestCacheTest, AnOpenFileIsKnownByItsOwnIdentity) {
    ASSERT_TRUE(m_dir.WriteFile("a.bin", "the patch file, version 1"));
    const std::wstring expected = TrueDigest("a.bin");
    auto cache = SettledCache();
    auto digestsOf = [&](const std::string& name, bool& read) {
        std::FILE* file = std::fopen(m_dir.NarrowPathOf(name).c_str(), "rb");
        EXPECT_NE(file, nullptr) << name;
        const FileDigestTexts texts = CachedOpenFileDigests(*cache, file, false, nullptr, &read);
        if (file != nullptr)
            std::fclose(file);
        return texts.md5;
    };
    bool read = false;
    EXPECT_EQ(digestsOf("a.bin", read), expected);
    EXPECT_TRUE(read);
    EXPECT_EQ(digestsOf("a.bin", read), expected);
    EXPECT_FALSE(read);

    // Another file moved to the name is not the remembered one.
    ASSERT_TRUE(m_dir.WriteFile("b.bin", "other bytes, same length"));
    std::filesystem::rename(m_dir.PathOf("b.bin"), m_dir.PathOf("a.bin"));
    const std::wstring other = TrueDigest("a.bin");
    EXPECT_EQ(digestsOf("a.bin", read), other);
    EXPECT_TRUE(read);
    EXPECT_EQ(digestsOf("a.bin", read), other);
    EXPECT_FALSE(read);

    // A SHA-256 the entry lacks means a read; a disabled cache reads every time.
    std::FILE* file = std::fopen(m_dir.NarrowPathOf("a.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(CachedOpenFileDigests(*cache, file, true, nullptr, &read).sha256,
              FileDigests(m_dir.WidePathOf("a.bin"), true).sha256);
    std::fclose(file);
    EXPECT_TRUE(read);
    DigestCache disabled(L"");
    file = std::fopen(m_dir.NarrowPathOf("a.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(CachedOpenFileDigests(disabled, file, false, nullptr, &read).md5, other);
    std::fclose(file);
    EXPECT_TRUE(read);
    EXPECT_EQ(CachedOpenFileDigests(*cache, nullptr, false, nullptr, &read).md5, L"open__error");
    EXPECT_FALSE(read);
}

TEST(UserDigestCachePathTest, FollowsTheCacheFolder) {
    ScopedEnv cacheHome("XDG_CACHE_HOME", "/somewhere/cache");
    EXPECT_EQ(UserDigestCachePath(), L"/somewhere/cache/velmora-launcher/digests");
}

}  // namespace
