#include "trust/minisign.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "built_in_trust.h"
#include "tests/trust/minisign_tool.h"

namespace {

// Base64 of arbitrary bytes, to build keys and signatures that are well encoded but wrong.
std::string Base64(const std::string& bytes) {
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(),
                      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.find('\0'));
    return text;
}

std::string Unbase64(const std::string& text) {
    std::string bytes(text.size(), '\0');
    std::size_t size = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                          text.size(), nullptr, &size, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return {};
    bytes.resize(size);
    return bytes;
}

class MinisignFormatTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(MinisignTool::Available()) << "the minisign program is needed";
        std::optional<MinisignTool::KeyPair> pair = m_tool.MakeKeyPair("k");
        ASSERT_TRUE(pair) << "minisign -G failed";
        m_pair = *pair;
        ASSERT_TRUE(ParseMinisignPublicKey(m_pair.publicKeyLine, m_key));
    }

    std::string Sign(const std::string& content, bool legacy) {
        std::optional<std::string> signature =
            m_tool.Sign(m_pair, content, std::string("serial:1"), legacy);
        EXPECT_TRUE(signature) << "minisign -S failed";
        return signature.value_or("");
    }

    // The signature file with line 2 replaced by the given blob.
    static std::string WithBlob(const std::string& signature, const std::string& blob) {
        const std::size_t start = signature.find('\n') + 1;
        const std::size_t end = signature.find('\n', start);
        return signature.substr(0, start) + Base64(blob) + signature.substr(end);
    }
    static std::string Blob(const std::string& signature) {
        const std::size_t start = signature.find('\n') + 1;
        return Unbase64(signature.substr(start, signature.find('\n', start) - start));
    }

    MinisignTool m_tool;
    MinisignTool::KeyPair m_pair;
    MinisignPublicKey m_key;
};

TEST_F(MinisignFormatTest, PublicKeyFromItsLineAndFromTheWholeFile) {
    MinisignPublicKey fromFile;
    ASSERT_TRUE(ParseMinisignPublicKey(m_pair.publicKeyFile, fromFile));
    EXPECT_EQ(fromFile.keyId, m_key.keyId);
    EXPECT_EQ(fromFile.key, m_key.key);
    MinisignPublicKey padded;
    ASSERT_TRUE(ParseMinisignPublicKey("  " + m_pair.publicKeyLine + "\r\n", padded));
    EXPECT_EQ(padded.key, m_key.key);

    // minisign names the key in the file's comment, in hex without leading zeros: the same
    // number we read from the key bytes.
    const std::string comment = m_pair.publicKeyFile.substr(0, m_pair.publicKeyFile.find('\n'));
    const std::string printed = comment.substr(comment.rfind(' ') + 1);
    EXPECT_EQ(std::strtoull(printed.c_str(), nullptr, 16), m_key.keyId) << comment;
    std::string ours = FormatKeyId(m_key.keyId);
    EXPECT_EQ(ours.size(), 16u);
    ours.erase(0, ours.find_first_not_of('0'));
    EXPECT_EQ(ours, printed);
}

TEST_F(MinisignFormatTest, PublicKeyRefusals) {
    const std::string blob = Unbase64(m_pair.publicKeyLine);
    ASSERT_EQ(blob.size(), 42u);
    const std::optional<std::string> secret = m_tool.Dir().ReadFile("k.key");
    ASSERT_TRUE(secret);
    const std::string refused[] = {
        "",
        "   \n",
        "RWQ",
        m_pair.publicKeyLine.substr(0, 55),
        m_pair.publicKeyLine + "A",
        m_pair.publicKeyLine + "==",
        Base64(blob + "x"),
        Base64(blob.substr(0, 41)),
        Base64("ED" + blob.substr(2)),
        Base64("Xy" + blob.substr(2)),
        m_pair.publicKeyLine.substr(0, 20) + " " + m_pair.publicKeyLine.substr(20),
        std::string(m_pair.publicKeyLine).insert(5, 1, '\0'),
        "untrusted comment: minisign public key\n",
        "untrusted comment: x\n" + m_pair.publicKeyLine + "\n" + m_pair.publicKeyLine,
        *secret,
    };
    for (const std::string& text : refused) {
        MinisignPublicKey key;
        key.keyId = 7;
        std::string error;
        EXPECT_FALSE(ParseMinisignPublicKey(text, key, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(key.keyId, 7u) << "a refused key leaves the record alone";
    }
}

TEST_F(MinisignFormatTest, KeyListNamesTheBadEntry) {
    const std::string_view good = m_pair.publicKeyLine;
    std::vector<MinisignPublicKey> keys;
    const std::string_view one[] = {good};
    ASSERT_TRUE(ParseMinisignPublicKeys(one, keys));
    EXPECT_EQ(keys.size(), 1u);
    // Another last byte of the key, the same id: a signature could name either.
    std::string sameId(good);
    sameId.back() = sameId.back() == 'A' ? 'B' : 'A';
    for (const std::string_view second : {good, std::string_view(sameId)}) {
        const std::string_view two[] = {good, second};
        std::string error;
        EXPECT_FALSE(ParseMinisignPublicKeys(two, keys, &error));
        EXPECT_EQ(error.rfind("keys 1 and 2 have one key id", 0), 0u) << error;
        EXPECT_EQ(keys.size(), 1u);
    }
    const std::string_view bad[] = {good, "RWQnot a key"};
    std::string error;
    EXPECT_FALSE(ParseMinisignPublicKeys(bad, keys, &error));
    EXPECT_EQ(error.rfind("key 2: ", 0), 0u) << error;
    EXPECT_EQ(keys.size(), 1u);
    ASSERT_TRUE(ParseMinisignPublicKeys({}, keys));
    EXPECT_TRUE(keys.empty());
}

TEST_F(MinisignFormatTest, BothFormsReadAndVerified) {
    const std::string content = "patch list\n";
    for (bool legacy : {false, true}) {
        MinisignSignature signature;
        ASSERT_TRUE(ParseMinisignSignature(Sign(content, legacy), signature));
        EXPECT_EQ(signature.algorithm,
                  legacy ? MinisignAlgorithm::kLegacy : MinisignAlgorithm::kPrehashed);
        EXPECT_EQ(signature.keyId, m_key.keyId);
        EXPECT_EQ(signature.trustedComment, "serial:1");
        EXPECT_TRUE(VerifyMinisignContent(m_key, signature, content)) << legacy;
        EXPECT_TRUE(VerifyMinisignTrustedComment(m_key, signature)) << legacy;
        EXPECT_FALSE(VerifyMinisignContent(m_key, signature, "patch list")) << legacy;
    }
}

TEST_F(MinisignFormatTest, FormMustMatchWhatWasSigned) {
    // The same signature bytes claimed for the other form cover another message.
    for (bool legacy : {false, true}) {
        const std::string signature = Sign("x", legacy);
        std::string blob = Blob(signature);
        ASSERT_EQ(blob.size(), 74u);
        blob[1] = legacy ? 'D' : 'd';
        MinisignSignature swapped;
        ASSERT_TRUE(ParseMinisignSignature(WithBlob(signature, blob), swapped));
        EXPECT_FALSE(VerifyMinisignContent(m_key, swapped, "x")) << legacy;
    }
}

TEST_F(MinisignFormatTest, SignatureBlobRefusals) {
    const std::string signature = Sign("x", false);
    const std::string blob = Blob(signature);
    ASSERT_EQ(blob.size(), 74u);
    for (const std::string& wrong : {blob.substr(0, 73), blob + "z", "Xx" + blob.substr(2),
                                     "ed" + blob.substr(2), std::string()}) {
        MinisignSignature parsed;
        std::string error;
        EXPECT_FALSE(ParseMinisignSignature(WithBlob(signature, wrong), parsed, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(MinisignFormatTest, KeyOfAnotherPairDoesNotVerify) {
    std::optional<MinisignTool::KeyPair> other = m_tool.MakeKeyPair("other");
    ASSERT_TRUE(other);
    MinisignPublicKey otherKey;
    ASSERT_TRUE(ParseMinisignPublicKey(other->publicKeyLine, otherKey));
    MinisignSignature signature;
    ASSERT_TRUE(ParseMinisignSignature(Sign("x", false), signature));
    EXPECT_FALSE(VerifyMinisignContent(otherKey, signature, "x"));
    EXPECT_FALSE(VerifyMinisignTrustedComment(otherKey, signature));
}

TEST(KeyIdTest, SixteenUpperCaseDigits) {
    EXPECT_EQ(FormatKeyId(0), "0000000000000000");
    EXPECT_EQ(FormatKeyId(0xABCDEF), "0000000000ABCDEF");
    EXPECT_EQ(FormatKeyId(0x06EE7943330A8550ULL), "06EE7943330A8550");
    EXPECT_EQ(FormatKeyId(~0ULL), "FFFFFFFFFFFFFFFF");
}

TEST(BuiltInTrustTest, BuiltInKeysReadAndPolicyFitsThem) {
    std::vector<MinisignPublicKey> keys;
    std::string error;
    EXPECT_TRUE(ParseMinisignPublicKeys(kBuiltInCatalogueKeys, keys, &error)) << error;
    EXPECT_EQ(keys.size(), kBuiltInCatalogueKeys.size());
    // A launcher that demands signatures must know a key to check them with.
    if (kBuiltInCatalogueKeys.empty()) {
        EXPECT_EQ(kBuiltInSignaturePolicy, SignaturePolicy::kOff);
    }
}

}  // namespace
