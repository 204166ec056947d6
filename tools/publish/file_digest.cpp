#include "tools/publish/file_digest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "transfer/md5.h"

namespace {

struct EvpContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string Hex(const unsigned char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace

bool IsLowerHexDigest(std::string_view text, std::size_t count) {
    if (text.size() != count)
        return false;
    for (const char ch : text) {
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')))
            return false;
    }
    return true;
}

bool DigestFile(const std::filesystem::path& path, FileDigest& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, EvpContextFree> sha(EVP_MD_CTX_new());
    if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1) {
        error = "cannot start a SHA-256 digest";
        return false;
    }
    CMD5Wrapper md5;
    md5.restart();
    std::vector<char> buffer(1 << 20);
    std::int64_t size = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0)
            break;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        md5.feed(bytes, static_cast<std::uint32_t>(got));
        if (EVP_DigestUpdate(sha.get(), bytes, static_cast<std::size_t>(got)) != 1) {
            error = "SHA-256 digest failed";
            return false;
        }
        size += got;
    }
    if (in.bad() || !in.eof()) {
        error = "cannot read " + path.string();
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(sha.get(), digest, &length) != 1) {
        error = "SHA-256 digest failed";
        return false;
    }
    out.size = size;
    out.md5 = md5.finalHex();
    out.sha256 = Hex(digest, length);
    return true;
}
