#include "transfer/file_digests.h"

#include <cstdio>
#include <memory>

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

FileDigestTexts FileDigests(const std::wstring& path, bool withSha256,
                            const std::atomic<bool>* stop) {
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    if (!file)
        return Sentinel(L"open__error", withSha256);
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return FileDigests(file.get(), withSha256, stop);
}

FileDigestTexts FileDigests(std::FILE* file, bool withSha256, const std::atomic<bool>* stop) {
    if (file == nullptr)
        return Sentinel(L"open__error", withSha256);

    md5wrapper md5;
    Sha256Digest sha256;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadBlockSize]);
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return Sentinel(L"stop__error", withSha256);
        const std::size_t got = std::fread(buffer.get(), 1, kReadBlockSize, file);
        if (std::ferror(file))
            return Sentinel(L"read__error", withSha256);
        md5.feed(buffer.get(), static_cast<std::uint32_t>(got));
        if (withSha256)
            sha256.Feed(buffer.get(), got);
        if (got < kReadBlockSize)
            break;
    }
    FileDigestTexts texts;
    texts.md5 = Widen(md5.finalHex());
    if (withSha256)
        texts.sha256 = Widen(sha256.FinalHex());
    return texts;
}
