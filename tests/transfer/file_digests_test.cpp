#include "transfer/file_digests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/test_bytes.h"
#include "text/utf8.h"
#include "transfer/md5.h"
#include "transfer/sha256.h"

namespace {

// The digest the system's sha256sum gives for a file, or empty when it cannot be run.
std::string SystemSha256(const std::string& path) {
    return SystemDigest("sha256sum", path, 64);
}

TEST(Sha256TextTest, PublishedVectors) {
    EXPECT_EQ(Sha256Digest::OfText(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Digest::OfText("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Digest::OfText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Digest::OfText(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256TextTest, PiecewiseFeedingAndRestartGiveTheSameDigest) {
    const std::string message = PseudoRandomBytes(1000, 9);
    const std::string whole = Sha256Digest::OfText(message);
    Sha256Digest digest;
    digest.Feed(reinterpret_cast<const unsigned char*>("left over"), 9);
    digest.FinalHex();
    for (std::size_t piece : {1u, 55u, 64u, 65u, 999u}) {
        digest.Restart();
        for (std::size_t at = 0; at < message.size(); at += piece)
            digest.Feed(reinterpret_cast<const unsigned char*>(message.data()) + at,
                        std::min(piece, message.size() - at));
        EXPECT_EQ(digest.FinalHex(), whole) << "pieces of " << piece;
    }
}

TEST(Sha256TextTest, FinishedDigestGivesNothingUntilRestarted) {
    Sha256Digest digest;
    digest.Feed(reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(digest.FinalHex().size(), 64u);
    EXPECT_EQ(digest.FinalHex(), "");
}

class FileDigestsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.IsValid()); }

    std::wstring Write(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(m_dir.WriteFile(name, bytes));
        return m_dir.WidePathOf(name);
    }

    TempDir m_dir;
};

TEST_F(FileDigestsTest, BothDigestsFromOneReadMatchTheirReferences) {
    // Sizes around the digest blocks and the 256 KiB read block.
    for (std::size_t size : {0u, 1u, 63u, 64u, 65u, 262143u, 262144u, 262145u, 1048593u}) {
        const std::string bytes = PseudoRandomBytes(size, static_cast<unsigned>(size));
        const std::string name = "f" + std::to_string(size);
        const FileDigestTexts texts = FileDigests(Write(name, bytes), true);
        EXPECT_EQ(texts.md5, Utf8ToWide(md5wrapper().hashOfText(bytes))) << size;
        EXPECT_EQ(texts.sha256, Utf8ToWide(Sha256Digest::OfText(bytes))) << size;
        const std::string system = SystemSha256(m_dir.NarrowPathOf(name));
        if (!system.empty()) {
            EXPECT_EQ(texts.sha256, Utf8ToWide(system)) << size;
        }
    }
}

TEST_F(FileDigestsTest, Sha256OnlyWhenAskedFor) {
    const std::wstring path = Write("a.bin", "abc");
    const FileDigestTexts texts = FileDigests(path, false);
    EXPECT_EQ(texts.md5, L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(texts.sha256, L"");
    EXPECT_EQ(texts.md5, CMD5Wrapper().FileHashW(path));
}

TEST_F(FileDigestsTest, FailuresGiveTheSentinelsInEveryAskedText) {
    const FileDigestTexts missing = FileDigests(m_dir.WidePathOf("missing.bin"), true);
    EXPECT_EQ(missing.md5, L"open__error");
    EXPECT_EQ(missing.sha256, L"open__error");
    EXPECT_EQ(FileDigests(m_dir.WidePathOf("missing.bin"), false).sha256, L"");

    ASSERT_TRUE(m_dir.WriteFile("folder/inside.bin", "x"));
    const FileDigestTexts folder = FileDigests(m_dir.WidePathOf("folder"), true);
    EXPECT_EQ(folder.md5, L"read__error");
    EXPECT_EQ(folder.sha256, L"read__error");
}

TEST_F(FileDigestsTest, AnOpenFileGivesTheSameDigestsAsItsPath) {
    const std::string bytes = PseudoRandomBytes(700000, 4);
    const std::wstring path = Write("open.bin", bytes);
    std::FILE* file = std::fopen(m_dir.NarrowPathOf("open.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    const FileDigestTexts fromFile = FileDigests(file, true);
    std::fclose(file);
    const FileDigestTexts fromPath = FileDigests(path, true);
    EXPECT_EQ(fromFile.md5, fromPath.md5);
    EXPECT_EQ(fromFile.sha256, fromPath.sha256);
    EXPECT_EQ(fromFile.md5, CMD5Wrapper().FileHashW(path));
    EXPECT_EQ(FileDigests(static_cast<std::FILE*>(nullptr), true).sha256, L"open__error");
}

TEST(RunningDigestsTest, TextsTakenMidwayLeaveTheDigestsGoingOn) {
    const std::string bytes = PseudoRandomBytes(200001, 5);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    RunningDigests digests(true);
    digests.Feed(data, 70000);
    const FileDigestTexts head = digests.Texts();
    EXPECT_EQ(head.md5, Utf8ToWide(md5wrapper().hashOfText(bytes.substr(0, 70000))));
    EXPECT_EQ(head.sha256, Utf8ToWide(Sha256Digest::OfText(bytes.substr(0, 70000))));
    // A copy goes on apart from the original.
    RunningDigests copy = digests;
    copy.Feed(data, 1);
    digests.Feed(data + 70000, bytes.size() - 70000);
    EXPECT_EQ(digests.Bytes(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(digests.Texts().md5, Utf8ToWide(md5wrapper().hashOfText(bytes)));
    EXPECT_EQ(digests.Texts().sha256, Utf8ToWide(Sha256Digest::OfText(bytes)));
    EXPECT_EQ(copy.Texts().md5,
              Utf8ToWide(md5wrapper().hashOfText(bytes.substr(0, 70000) + bytes[0])));
    EXPECT_EQ(RunningDigests(false).Texts().sha256, L"");
}

TEST_F(FileDigestsTest, FeedFileGoesOnFromTheStreamsPositionAfterEarlierBytes) {
    const std::string bytes = PseudoRandomBytes(600000, 6);
    Write("part.bin", bytes);
    std::FILE* file = std::fopen(m_dir.NarrowPathOf("part.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, 1000, SEEK_SET), 0);
    RunningDigests digests(true);
    digests.Feed(reinterpret_cast<const unsigned char*>(bytes.data()), 1000);
    EXPECT_EQ(FeedFile(file, digests), nullptr);
    std::fclose(file);
    EXPECT_EQ(digests.Bytes(), 600000);
    EXPECT_EQ(digests.Texts().md5, Utf8ToWide(md5wrapper().hashOfText(bytes)));
    EXPECT_EQ(digests.Texts().sha256, Utf8ToWide(Sha256Digest::OfText(bytes)));

    std::atomic<bool> stop{true};
    file = std::fopen(m_dir.NarrowPathOf("part.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::wstring(FeedFile(file, digests, &stop)), L"stop__error");
    std::fclose(file);
    EXPECT_EQ(std::wstring(FeedFile(nullptr, digests)), L"open__error");
}

TEST_F(FileDigestsTest, RaisedStopAbandonsBoth) {
    const std::wstring path = Write("big.bin", PseudoRandomBytes(1 << 20, 3));
    std::atomic<bool> stop{true};
    const FileDigestTexts stopped = FileDigests(path, true, &stop);
    EXPECT_EQ(stopped.md5, L"stop__error");
    EXPECT_EQ(stopped.sha256, L"stop__error");
    stop = false;
    EXPECT_EQ(FileDigests(path, true, &stop).md5, CMD5Wrapper().FileHashW(path));
}

}  // namespace
