#pragma once
// The two minisign formats the publisher's tool writes: a public key (the base64 line that
// `minisign -G` prints, or the whole .pub file) and a detached `.minisig` signature file. Both
// are read strictly and totally: any input gives true or false, never a crash. The checks are
// libsodium's Ed25519.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The eight key-id bytes of the files read as a little-endian number, as minisign prints them.
using MinisignKeyId = std::uint64_t;

// A signature file is a few hundred bytes; anything larger is refused unread.
inline constexpr std::size_t kMaxSignatureFileSize = 4096;

struct MinisignPublicKey {
    MinisignKeyId keyId = 0;
    std::array<unsigned char, 32> key{};
};

enum class MinisignAlgorithm {
    kLegacy,     // "Ed": the signature covers the file itself
    kPrehashed,  // "ED": the signature covers the file's BLAKE2b-512 digest (minisign's default)
};

struct MinisignSignature {
    MinisignAlgorithm algorithm = MinisignAlgorithm::kPrehashed;
    MinisignKeyId keyId = 0;
    std::array<unsigned char, 64> signature{};
    std::string trustedComment;  // the text after "trusted comment: ", without the line end
    std::array<unsigned char, 64> globalSignature{};
};

// Reads one public key. error (when given) receives a plain reason on failure.
bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey& key,
                            std::string* error = nullptr);

// Reads every key of a list (the launcher's built-in keys); false at the first bad one, whose
// position the error names, and when two keys have one key id. keys is left as it was on
// failure. An empty list is valid.
bool ParseMinisignPublicKeys(std::span<const std::string_view> texts,
                             std::vector<MinisignPublicKey>& keys, std::string* error = nullptr);

// Reads a .minisig file: four lines (untrusted comment, signature, trusted comment, global
// signature); CR LF line ends are accepted, so is a missing final line end.
bool ParseMinisignSignature(std::string_view text, MinisignSignature& signature,
                            std::string* error = nullptr);

// Whether the signature over the file's content holds under the key. The key ids are not
// compared here; picking the key is the caller's business.
bool VerifyMinisignContent(const MinisignPublicKey& key, const MinisignSignature& signature,
                           std::string_view content);

// Whether the global signature over (signature || trusted comment) holds under the key.
bool VerifyMinisignTrustedComment(const MinisignPublicKey& key, const MinisignSignature& signature);

// The key id as 16 upper-case hexadecimal digits (minisign drops leading zeros; we keep a
// fixed width so ids line up in --version and the log).
std::string FormatKeyId(MinisignKeyId id);
