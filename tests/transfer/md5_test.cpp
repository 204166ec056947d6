#include "transfer/md5.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/test_bytes.h"
#include "text/utf8.h"

namespace {

// The digest the system's md5sum gives for a file, or empty when it cannot be run.
std::string SystemMd5(const std::string& path) {
    return SystemDigest("md5sum", path, 32);
}

class Md5FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        if (SystemMd5(WriteBytes("probe", "x")).size() != 32)
            GTEST_SKIP() << "md5sum not usable";
    }

    std::string WriteBytes(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(m_dir.WriteFile(name, bytes));
        return m_dir.NarrowPathOf(name);
    }

    void ExpectAllFormsMatchSystem(const std::string& name, const std::string& bytes) {
        const std::string path = WriteBytes(name, bytes);
        const std::string expected = SystemMd5(path);
        ASSERT_EQ(expected.size(), 32u);
        CMD5Wrapper md5;
        EXPECT_EQ(md5.FileHashA(path), expected) << name;
        EXPECT_EQ(md5.FileHashW(Utf8ToWide(path)), Utf8ToWide(expected)) << name;
        EXPECT_EQ(md5.hashOfFile(path), expected) << name;
        EXPECT_EQ(md5.hashOfText(bytes), expected) << name;
    }

    TempDir m_dir;
};

TEST(Md5TextTest, Rfc1321TestSuite) {
    struct Vector {
        const char* text;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    md5wrapper md5;
    for (const Vector& v : vectors)
        EXPECT_EQ(md5.hashOfText(v.text), v.digest) << v.text;
}

TEST(Md5TextTest, PiecewiseFeedingEqualsOneFeed) {
    const std::string message = PseudoRandomBytes(1000, 7);
    md5wrapper md5;
    const std::string whole = md5.hashOfText(message);
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 999u}) {
        md5.restart();
        for (std::size_t at = 0; at < message.size(); at += piece) {
            const std::size_t length = std::min(piece, message.size() - at);
            md5.feed(reinterpret_cast<const unsigned char*>(message.data()) + at,
                     static_cast<std::uint32_t>(length));
        }
        EXPECT_EQ(md5.finalHex(), whole) << "pieces of " << piece;
    }
}

TEST(Md5TextTest, EmbeddedNulBytesAreHashed) {
    md5wrapper md5;
    EXPECT_NE(md5.hashOfText(std::string("a\0b", 3)), md5.hashOfText("a"));
}

TEST(Md5TextTest, ObjectIsReusableAfterFinishing) {
    md5wrapper md5;
    const std::string first = md5.hashOfText("abc");
    md5.hashOfText("something else entirely");
    EXPECT_EQ(md5.hashOfText("abc"), first);
}

TEST(Md5TextTest, HexIsLowerCaseAndZeroPadded) {
    md5wrapper md5;
    const unsigned char digest[16] = {0x00, 0x01, 0x0a, 0x10, 0xa0, 0xab, 0xcd, 0xef,
                                      0xff, 0x7f, 0x80, 0x09, 0x90, 0x5c, 0xc5, 0x3e};
    EXPECT_EQ(md5.bytesToHex(digest), "00010a10a0abcdefff7f8009905cc53e");
}

TEST_F(Md5FileTest, EmptyFile) {
    ExpectAllFormsMatchSystem("empty.bin", "");
}

TEST_F(Md5FileTest, FilesAroundTheOldBlockSize) {
    ExpectAllFormsMatchSystem("1024.bin", PseudoRandomBytes(1024, 1));
    ExpectAllFormsMatchSystem("1025.bin", PseudoRandomBytes(1025, 2));
}

TEST_F(Md5FileTest, EveryPaddingCaseUpToThreeBlocks) {
    // 55/56 and 119/120 bytes are where the length no longer fits the last block.
    const std::string bytes = PseudoRandomBytes(192, 3);
    for (std::size_t size = 0; size <= bytes.size(); ++size)
        ExpectAllFormsMatchSystem("pad" + std::to_string(size), bytes.substr(0, size));
}

TEST_F(Md5FileTest, MultiMegabyteFileAcrossReadBlocks) {
    // Not a multiple of the read block, the MD5 block or a page.
    ExpectAllFormsMatchSystem("big.bin", PseudoRandomBytes(5 * 1024 * 1024 + 4099, 4));
}

TEST_F(Md5FileTest, NonAsciiFileName) {
    const std::string path = WriteBytes("f\xC3\xBCr-\xE6\x97\xA5\xE6\x9C\xAC.bin", "abc");
    EXPECT_EQ(CMD5Wrapper().FileHashW(Utf8ToWide(path)), L"900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(Md5FileTest, MissingFileSentinels) {
    const std::string path = m_dir.NarrowPathOf("missing.bin");
    CMD5Wrapper md5;
    EXPECT_EQ(md5.FileHashW(Utf8ToWide(path)), L"open__error");
    EXPECT_EQ(md5.FileHashA(path), "");
    EXPECT_EQ(md5.FileHashW(L""), L"open__error");
}

TEST_F(Md5FileTest, DirectoryGivesReadError) {
    // Opening a folder for reading succeeds here; reading from it fails.
    ASSERT_TRUE(m_dir.WriteFile("folder/inside.bin", "x"));
    const std::string path = m_dir.NarrowPathOf("folder");
    CMD5Wrapper md5;
    EXPECT_EQ(md5.FileHashW(Utf8ToWide(path)), L"read__error");
    EXPECT_EQ(md5.FileHashA(path), "read__error");
}

TEST_F(Md5FileTest, HashOfFileRaisesForUnreadableFile) {
    const std::string path = m_dir.NarrowPathOf("missing.bin");
    md5wrapper md5;
    try {
        md5.hashOfFile(path);
        FAIL() << "no exception";
    } catch (const hlException& e) {
        EXPECT_EQ(e.error_number(), 1);
        EXPECT_EQ(e.error_message(), "Cannot read file \"" + path + "\".");
    }
}

TEST_F(Md5FileTest, TextAndFileOfTheSameBytesAgree) {
    const std::string bytes = std::string("line one\r\n\0\xff tail", 17);
    const std::string path = WriteBytes("same.bin", bytes);
    CMD5Wrapper md5;
    EXPECT_EQ(md5.hashOfText(bytes), md5.FileHashA(path));
}

TEST_F(Md5FileTest, StreamThatCannotSeekIsHashedWhole) {
    // The read-ahead advice is refused for a pipe; the digest must not depend on it. The bytes
    // fit the pipe, so nothing waits for a reader.
    const std::string bytes = PseudoRandomBytes(60 * 1024 + 3, 8);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
    const std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
    EXPECT_EQ(CMD5Wrapper().FileHashA(path), md5wrapper().hashOfText(bytes));
    close(ends[0]);
}

TEST_F(Md5FileTest, UnraisedStopFlagChangesNothing) {
    const std::string path = WriteBytes("stop.bin", PseudoRandomBytes(3 * 1024 * 1024, 5));
    std::atomic<bool> stop{false};
    EXPECT_EQ(CMD5Wrapper().FileHashW(Utf8ToWide(path), &stop), Utf8ToWide(SystemMd5(path)));
}

TEST_F(Md5FileTest, RaisedStopFlagAbandonsTheDigest) {
    const std::string path = WriteBytes("stop.bin", PseudoRandomBytes(3 * 1024 * 1024, 5));
    std::atomic<bool> stop{true};
    CMD5Wrapper md5;
    EXPECT_EQ(md5.FileHashW(Utf8ToWide(path), &stop), L"stop__error");
    // The object is not left half-way: the next digest is whole.
    EXPECT_EQ(md5.FileHashW(Utf8ToWide(path)), Utf8ToWide(SystemMd5(path)));
}

TEST_F(Md5FileTest, StopDuringHashingEndsWithSentinelOrDigest) {
    // Whichever wins the race, the result is one of the two, never a wrong digest.
    const std::string path = WriteBytes("race.bin", PseudoRandomBytes(8 * 1024 * 1024, 6));
    const std::wstring expected = Utf8ToWide(SystemMd5(path));
    std::atomic<bool> stop{false};
    std::wstring result;
    std::thread worker([&] { result = CMD5Wrapper().FileHashW(Utf8ToWide(path), &stop); });
    stop = true;
    worker.join();
    EXPECT_TRUE(result == L"stop__error" || result == expected) << WideToUtf8(result);
}

}  // namespace
