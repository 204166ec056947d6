#include "transfer/file_digests.h"

#include <cstdio>
#include <memory>

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "transfer/md5.h"
#include "transfer/sha256.h"

namespace {

// The same block size as FileHashW: large enough to keep the stream library out of the loop,
// small enough that both digests read the block from the L2 cache.
constexpr std::size_t kReadBlockSize = 256 * 1024;

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

FileDigestTexts Sentinel(const wchar_t* text, bool withSha256) {
    return FileDigestTexts{text, withSha256 ? text : L""};
}

}  // namespace

EntryMatch MatchEntry(const DownloadEntry& entry, const FileDigestTexts& digests,
                      std::optional<std::int64_t> size) {
    EntryMatch match;
    match.size = !size || *size == entry.size;
    match.md5 = IsDigestText(digests.md5, 32) && digests.md5 == entry.md5;
    match.sha256 = entry.sha256.empty() ||
                   (IsDigestText(digests.sha256, 64) && digests.sha256 == entry.sha256);
    return match;
}

FileDigestTexts FileDigests(const std::wstring& path, bool withSha256,
                            const std::atomic<bool>* stop) {
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    if (!file)
        return Sentinel(kOpenErrorDigest, withSha256);
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return FileDigests(file.get(), withSha256, stop);
}

FileDigestTexts FileDigests(std::FILE* file, bool withSha256, const std::atomic<bool>* stop) {
    if (file == nullptr)
        return Sentinel(kOpenErrorDigest, withSha256);
    RunningDigests digests(withSha256);
    if (const wchar_t* error = FeedFile(file, digests, stop))
        return Sentinel(error, withSha256);
    return digests.Texts();
}

void RunningDigests::Feed(const unsigned char* data, std::size_t length) {
    FeedMd5(data, length);
    if (m_withSha256)
        FeedSha256(data, length);
    Count(length);
}

void RunningDigests::FeedMd5(const unsigned char* data, std::size_t length) {
    // md5wrapper counts in 32 bits per call.
    constexpr std::size_t kMaxStep = std::size_t{1} << 30;
    while (length > kMaxStep) {
        m_md5.feed(data, static_cast<std::uint32_t>(kMaxStep));
        data += kMaxStep;
        length -= kMaxStep;
    }
    m_md5.feed(data, static_cast<std::uint32_t>(length));
}

void RunningDigests::FeedSha256(const unsigned char* data, std::size_t length) {
    m_sha256.Feed(data, length);
}

FileDigestTexts RunningDigests::Texts() const {
    // Finishing a digest clears it: the copies are finished, the originals go on.
    md5wrapper md5 = m_md5;
    FileDigestTexts texts;
    texts.md5 = Widen(md5.finalHex());
    if (m_withSha256) {
        Sha256Digest sha256 = m_sha256;
        texts.sha256 = Widen(sha256.FinalHex());
    }
    return texts;
}

const wchar_t* FeedFile(std::FILE* file, RunningDigests& digests, const std::atomic<bool>* stop) {
    if (file == nullptr)
        return kOpenErrorDigest;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadBlockSize]);
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return kStopErrorDigest;
        const std::size_t got = std::fread(buffer.get(), 1, kReadBlockSize, file);
        if (std::ferror(file))
            return kReadErrorDigest;
        digests.Feed(buffer.get(), got);
        if (got < kReadBlockSize)
            return nullptr;
    }
}
