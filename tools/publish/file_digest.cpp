#include "tools/publish/file_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "text/utf8.h"
#include "transfer/file_digests.h"

bool DigestFile(const std::filesystem::path& path, FileDigest& out, std::string& error) {
    // The launcher's own digests, so that what the catalogue lists is what it will compute.
    const platform::UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    RunningDigests digests(true);
    if (FeedFile(file.get(), digests) != nullptr) {
        error = "cannot read " + path.string();
        return false;
    }
    const FileDigestTexts texts = digests.Texts();
    out.size = digests.Bytes();
    out.md5 = WideToUtf8(std::wstring_view(texts.md5));
    out.sha256 = WideToUtf8(std::wstring_view(texts.sha256));
    return true;
}
