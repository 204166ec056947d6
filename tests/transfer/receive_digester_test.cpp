// The digester behind hashing while receiving: whatever the blocks the writer hands over, and
// however they fall across its buffers, it gives the digests of the bytes in their order.

#include "transfer/receive_digester.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_bytes.h"
#include "text/utf8.h"
#include "transfer/md5.h"
#include "transfer/sha256.h"

namespace {

constexpr std::size_t kChunk = ReceiveDigester::kChunkBytes;

class ReceiveDigesterTest : public ::testing::Test {
  protected:
    // Hands bytes over in blocks of the given sizes, in turn, until all are written.
    static void WriteInBlocks(ReceiveDigester& digester, const std::string& bytes,
                              const std::vector<std::size_t>& blocks) {
        std::size_t at = 0;
        for (std::size_t i = 0; at < bytes.size(); ++i) {
            const std::size_t step = std::min(blocks[i % blocks.size()], bytes.size() - at);
            digester.Written(reinterpret_cast<const unsigned char*>(bytes.data()) + at, step);
            at += step;
        }
    }

    static void ExpectDigestsOf(const RunningDigests& digests, const std::string& bytes) {
        EXPECT_EQ(digests.Bytes(), static_cast<std::int64_t>(bytes.size()));
        const FileDigestTexts texts = digests.Texts();
        EXPECT_EQ(texts.md5, Utf8ToWide(md5wrapper().hashOfText(bytes)));
        if (digests.WithSha256()) {
            EXPECT_EQ(texts.sha256, Utf8ToWide(Sha256Digest::OfText(bytes)));
        } else {
            EXPECT_EQ(texts.sha256, L"");
        }
    }
};

TEST_F(ReceiveDigesterTest, BlocksOfAnySizeAcrossTheBuffersGiveTheDigestOfTheWhole) {
    // More buffers' worth than the ring holds, so the writer waits for the digests to catch up.
    const std::string bytes = PseudoRandomBytes(ReceiveDigester::kChunkCount * 3 * kChunk + 17, 1);
    const std::vector<std::vector<std::size_t>> patterns = {
        {kChunk}, {1, 4097, 262144}, {kChunk - 1, 2}, {3 * kChunk}};
    for (bool withSha256 : {false, true}) {
        for (const auto& blocks : patterns) {
            SCOPED_TRACE(std::to_string(blocks.front()) + (withSha256 ? " with" : " without"));
            ReceiveDigester digester{RunningDigests(withSha256)};
            WriteInBlocks(digester, bytes, blocks);
            ExpectDigestsOf(digester.Finish(), bytes);
        }
    }
}

TEST_F(ReceiveDigesterTest, GoesOnFromTheDigestsOfThePartOnDisk) {
    const std::string part = PseudoRandomBytes(kChunk + 5, 2);
    const std::string rest = PseudoRandomBytes(2 * kChunk + 11, 3);
    RunningDigests start(true);
    start.Feed(reinterpret_cast<const unsigned char*>(part.data()), part.size());
    ReceiveDigester digester{start};
    WriteInBlocks(digester, rest, {65536});
    ExpectDigestsOf(digester.Finish(), part + rest);
}

TEST_F(ReceiveDigesterTest, NothingWrittenGivesTheStartItself) {
    ReceiveDigester fresh{RunningDigests(true)};
    ExpectDigestsOf(fresh.Finish(), "");
    const std::string part = PseudoRandomBytes(1000, 4);
    RunningDigests start(false);
    start.Feed(reinterpret_cast<const unsigned char*>(part.data()), part.size());
    ReceiveDigester resumed{start};
    ExpectDigestsOf(resumed.Finish(), part);
}

TEST_F(ReceiveDigesterTest, GoingAwayWithoutFinishingEndsAtOnce) {
    // A transfer that failed drops its digester with full buffers still queued; the
    // destructor must not wait for digests nobody will read, nor leave a thread behind.
    const std::string bytes = PseudoRandomBytes(ReceiveDigester::kChunkCount * kChunk, 5);
    for (int round = 0; round < 20; ++round) {
        ReceiveDigester digester{RunningDigests(true)};
        WriteInBlocks(digester, bytes, {kChunk});
    }
}

}  // namespace
