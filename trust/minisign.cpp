#include "trust/minisign.h"

#include <sodium.h>

#include <cstring>

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

constexpr std::size_t kAlgorithmSize = 2;
constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeyBlobSize = kAlgorithmSize + kKeyIdSize + 32;
constexpr std::size_t kSignatureBlobSize = kAlgorithmSize + kKeyIdSize + 64;

// libsodium picks its fastest code paths in sodium_init; it may be called from any thread, but
// once is enough.
bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

void SetError(std::string* error, std::string text) {
    if (error != nullptr)
        *error = std::move(text);
}

// Exactly `size` bytes from canonical, padded base64 and nothing else: no spaces, no line ends,
// no stray bits in the last character.
bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t size) {
    if (text.empty() || text.find('\0') != std::string_view::npos)
        return false;
    std::size_t decoded = 0;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &decoded, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return decoded == size;
}

MinisignKeyId LoadKeyId(const unsigned char* bytes) {
    MinisignKeyId id = 0;
    for (std::size_t i = kKeyIdSize; i-- > 0;)
        id = id << 8 | bytes[i];
    return id;
}

std::string_view DropCarriageReturn(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// Splits text into lines at LF, each without its CR. A final line end does not open a line.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            lines.push_back(DropCarriageReturn(text));
            break;
        }
        lines.push_back(DropCarriageReturn(text.substr(0, end)));
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Never a null pointer for libsodium, even for an empty content.
const unsigned char* BytesOf(std::string_view text) {
    static const unsigned char kNothing = 0;
    return text.empty() ? &kNothing : reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey& key, std::string* error) {
    if (text.find('\0') != std::string_view::npos) {
        SetError(error, "the public key holds a NUL byte");
        return false;
    }
    std::string_view line = TrimBlanks(text);
    // The whole .pub file: its comment line, then the key.
    if (line.starts_with(kUntrustedPrefix)) {
        const std::vector<std::string_view> lines = SplitLines(line);
        if (lines.size() != 2) {
            SetError(error, "a public key file has two lines: the comment and the key");
            return false;
        }
        line = TrimBlanks(lines[1]);
    }
    unsigned char blob[kPublicKeyBlobSize];
    if (!DecodeBase64(line, blob, sizeof blob)) {
        SetError(error, "the public key is not the base64 text of a minisign key");
        return false;
    }
    if (blob[0] != 'E' || blob[1] != 'd') {
        SetError(error, "the public key is not an Ed25519 minisign key");
        return false;
    }
    key.keyId = LoadKeyId(blob + kAlgorithmSize);
    std::memcpy(key.key.data(), blob + kAlgorithmSize + kKeyIdSize, key.key.size());
    return true;
}

bool ParseMinisignPublicKeys(std::span<const std::string_view> texts,
                             std::vector<MinisignPublicKey>& keys, std::string* error) {
    std::vector<MinisignPublicKey> parsed;
    parsed.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        MinisignPublicKey key;
        std::string reason;
        if (!ParseMinisignPublicKey(texts[i], key, &reason)) {
            SetError(error, "key " + std::to_string(i + 1) + ": " + reason);
            return false;
        }
        // The id picks the key a signature is checked against: with two keys of one id the
        // second could never verify anything, and which one was meant is anyone's guess.
        for (std::size_t j = 0; j < parsed.size(); ++j) {
            if (parsed[j].keyId == key.keyId) {
                SetError(error, "keys " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                                    " have one key id, " + FormatKeyId(key.keyId));
                return false;
            }
        }
        parsed.push_back(key);
    }
    keys = std::move(parsed);
    return true;
}

bool ParseMinisignSignature(std::string_view text, MinisignSignature& signature,
                            std::string* error) {
    if (text.empty()) {
        SetError(error, "the signature file is empty");
        return false;
    }
    if (text.size() > kMaxSignatureFileSize) {
        SetError(error, "the signature file is larger than 4 KiB");
        return false;
    }
    // The comments travel through C strings in minisign itself; a NUL can only be damage.
    if (text.find('\0') != std::string_view::npos) {
        SetError(error, "the signature file holds a NUL byte");
        return false;
    }
    std::vector<std::string_view> lines = SplitLines(text);
    while (lines.size() > 4 && lines.back().empty())
        lines.pop_back();
    if (lines.size() != 4) {
        SetError(error,
                 "a signature file has four lines, this one has " + std::to_string(lines.size()));
        return false;
    }
    if (!lines[0].starts_with(kUntrustedPrefix)) {
        SetError(error, "line 1 does not begin with \"untrusted comment: \"");
        return false;
    }
    unsigned char blob[kSignatureBlobSize];
    if (!DecodeBase64(lines[1], blob, sizeof blob)) {
        SetError(error, "line 2 is not the base64 text of a minisign signature");
        return false;
    }
    MinisignSignature parsed;
    if (blob[0] == 'E' && blob[1] == 'd') {
        parsed.algorithm = MinisignAlgorithm::kLegacy;
    } else if (blob[0] == 'E' && blob[1] == 'D') {
        parsed.algorithm = MinisignAlgorithm::kPrehashed;
    } else {
        SetError(error, "the signature names an algorithm other than Ed25519");
        return false;
    }
    parsed.keyId = LoadKeyId(blob + kAlgorithmSize);
    std::memcpy(parsed.signature.data(), blob + kAlgorithmSize + kKeyIdSize,
                parsed.signature.size());
    if (!lines[2].starts_with(kTrustedPrefix)) {
        SetError(error, "line 3 does not begin with \"trusted comment: \"");
        return false;
    }
    parsed.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
    if (!DecodeBase64(lines[3], parsed.globalSignature.data(), parsed.globalSignature.size())) {
        SetError(error, "line 4 is not the base64 text of a global signature");
        return false;
    }
    signature = std::move(parsed);
    return true;
}

bool VerifyMinisignContent(const MinisignPublicKey& key, const MinisignSignature& signature,
                           std::string_view content) {
    if (!SodiumReady())
        return false;
    if (signature.algorithm == MinisignAlgorithm::kLegacy)
        return crypto_sign_verify_detached(signature.signature.data(), BytesOf(content),
                                           content.size(), key.key.data()) == 0;
    unsigned char digest[crypto_generichash_BYTES_MAX];
    static_assert(sizeof digest == 64);
    if (crypto_generichash(digest, sizeof digest, BytesOf(content), content.size(), nullptr, 0) !=
        0)
        return false;
    return crypto_sign_verify_detached(signature.signature.data(), digest, sizeof digest,
                                       key.key.data()) == 0;
}

bool VerifyMinisignTrustedComment(const MinisignPublicKey& key,
                                  const MinisignSignature& signature) {
    if (!SodiumReady())
        return false;
    std::string message(reinterpret_cast<const char*>(signature.signature.data()),
                        signature.signature.size());
    message += signature.trustedComment;
    return crypto_sign_verify_detached(signature.globalSignature.data(), BytesOf(message),
                                       message.size(), key.key.data()) == 0;
}

std::string FormatKeyId(MinisignKeyId id) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text(16, '0');
    for (std::size_t i = 16; i-- > 0; id >>= 4)
        text[i] = kDigits[id & 15];
    return text;
}
