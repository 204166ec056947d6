#include "trust/signature_policy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/trust/minisign_tool.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

const sys_seconds kExpiry = sys_days{2027y / 6 / 30};
const sys_seconds kNow = sys_days{2026y / 1 / 15} + 12h;
constexpr const auto& kComment = kSignedComment;
constexpr const auto& kCatalogue = kSignedCatalogue;
// The tests below cut and change the text at offsets taken from its size.
static_assert(sizeof kCatalogue > 64);

// Three key pairs made once by minisign: A and B are built in, C is not.
class CatalogueTrustTest : public MinisignSuiteTest {
  protected:
    static void SetUpTestSuite() {
        if (!StartTool())
            return;
        s_a = s_tool->MakeKeyPair("a");
        s_b = s_tool->MakeKeyPair("b");
        s_c = s_tool->MakeKeyPair("c");
    }

    void SetUp() override {
        ASSERT_TRUE(MinisignTool::Available()) << "the minisign program is needed (Debian package"
                                                  " minisign)";
        ASSERT_TRUE(s_a && s_b && s_c) << "minisign -G failed";
        ASSERT_TRUE(ParseMinisignPublicKey(s_a->publicKeyLine, m_keyA));
        ASSERT_TRUE(ParseMinisignPublicKey(s_b->publicKeyLine, m_keyB));
        ASSERT_TRUE(ParseMinisignPublicKey(s_c->publicKeyLine, m_keyC));
        m_keys = {m_keyA, m_keyB};
    }

    CatalogueTrust Check(const std::string& catalogue, std::optional<std::string> signature,
                         sys_seconds now = kNow) {
        return CheckCatalogueSignature(
            catalogue, signature ? std::optional<std::string_view>(*signature) : std::nullopt,
            m_keys, now, m_recorded);
    }

    CatalogueTrust Decide(const std::string& catalogue, std::optional<std::string> signature,
                          SignaturePolicy policy, sys_seconds now = kNow) {
        return DecideCatalogueTrust(
            catalogue, signature ? std::optional<std::string_view>(*signature) : std::nullopt,
            m_keys, policy, now, m_recorded);
    }

    // Line n (from 0) of a signature file, and the file with that line replaced.
    static std::string Line(const std::string& text, int n) {
        std::size_t start = 0;
        for (int i = 0; i < n; ++i)
            start = text.find('\n', start) + 1;
        return text.substr(start, text.find('\n', start) - start);
    }
    static std::string WithLine(const std::string& text, int n, const std::string& line) {
        std::size_t start = 0;
        for (int i = 0; i < n; ++i)
            start = text.find('\n', start) + 1;
        return text.substr(0, start) + line + text.substr(text.find('\n', start));
    }

    // Another base64 character at position at of the line: still base64, other bits.
    static std::string ChangeBase64Character(std::string line, std::size_t at) {
        line[at] = line[at] == 'A' ? 'B' : 'A';
        return line;
    }

    static inline std::optional<MinisignTool::KeyPair> s_a, s_b, s_c;

    MinisignPublicKey m_keyA, m_keyB, m_keyC;
    std::vector<MinisignPublicKey> m_keys;
    RecordedSerials m_recorded;
};

// --- Sound signatures ------------------------------------------------------------------------

TEST_F(CatalogueTrustTest, PrehashedSignatureIsSound) {
    const CatalogueTrust trust = Check(kCatalogue, Sign(*s_a, kCatalogue));
    EXPECT_TRUE(trust.use);
    EXPECT_TRUE(trust.checked);
    EXPECT_EQ(trust.problem, TrustProblem::kNone) << trust.reason;
    EXPECT_EQ(trust.reason, "");
    EXPECT_EQ(trust.keyId, m_keyA.keyId);
    EXPECT_EQ(trust.serial, 42u);
    EXPECT_EQ(trust.expires, kExpiry);
    EXPECT_EQ(trust.serialToRecord, 42u);
}

TEST_F(CatalogueTrustTest, LegacySignatureIsSound) {
    const std::string signature = Sign(*s_a, kCatalogue, kComment, true);
    MinisignSignature parsed;
    ASSERT_TRUE(ParseMinisignSignature(signature, parsed));
    ASSERT_EQ(parsed.algorithm, MinisignAlgorithm::kLegacy);
    const CatalogueTrust trust = Check(kCatalogue, signature);
    EXPECT_TRUE(trust.use) << trust.reason;
    EXPECT_EQ(trust.serial, 42u);
}

TEST_F(CatalogueTrustTest, EitherKnownKeyVerifiesItsOwnSignature) {
    const CatalogueTrust byA = Check(kCatalogue, Sign(*s_a, kCatalogue));
    const CatalogueTrust byB = Check(kCatalogue, Sign(*s_b, kCatalogue));
    EXPECT_TRUE(byA.use) << byA.reason;
    EXPECT_TRUE(byB.use) << byB.reason;
    EXPECT_EQ(byA.keyId, m_keyA.keyId);
    EXPECT_EQ(byB.keyId, m_keyB.keyId);
    // The key id picks the key: B's signature does not hold under A's key, whatever the order.
    m_keys = {m_keyB, m_keyA};
    EXPECT_TRUE(Check(kCatalogue, Sign(*s_a, kCatalogue)).use);
    m_keys = {m_keyA};
    EXPECT_EQ(Check(kCatalogue, Sign(*s_b, kCatalogue)).problem, TrustProblem::kUnknownKey);
}

TEST_F(CatalogueTrustTest, MinisignDefaultCommentHasNoSerialAndNoExpiry) {
    // Without -t minisign writes "timestamp:<n>\tfile:<name>" (and more): nothing of ours.
    const CatalogueTrust trust = Check(kCatalogue, Sign(*s_a, kCatalogue, std::nullopt));
    EXPECT_TRUE(trust.use) << trust.reason;
    EXPECT_EQ(trust.serial, std::nullopt);
    EXPECT_EQ(trust.expires, std::nullopt);
    EXPECT_EQ(trust.serialToRecord, std::nullopt);
    // Far in the future it still holds: no expiry was signed.
    EXPECT_TRUE(
        Check(kCatalogue, Sign(*s_a, kCatalogue, std::nullopt), sys_days{2200y / 1 / 1}).use);
}

TEST_F(CatalogueTrustTest, CarriageReturnLineEndsAccepted) {
    const std::string signature = Sign(*s_a, kCatalogue);
    std::string crlf;
    for (char ch : signature)
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    EXPECT_TRUE(Check(kCatalogue, crlf).use);
    // Without the final line end, and with blank lines after it.
    EXPECT_TRUE(Check(kCatalogue, signature.substr(0, signature.size() - 1)).use);
    EXPECT_TRUE(Check(kCatalogue, signature + "\n\r\n").use);
}

TEST_F(CatalogueTrustTest, EmptyCatalogueCanBeSigned) {
    EXPECT_TRUE(Check("", Sign(*s_a, "")).use);
    EXPECT_TRUE(Check("", Sign(*s_a, "", kComment, true)).use);
    EXPECT_EQ(Check("x", Sign(*s_a, "")).problem, TrustProblem::kBadSignature);
}

// --- Tampering -------------------------------------------------------------------------------

TEST_F(CatalogueTrustTest, OneByteChangedInTheCatalogue) {
    for (bool legacy : {false, true}) {
        const std::string signature = Sign(*s_a, kCatalogue, kComment, legacy);
        for (std::size_t at : {std::size_t{0}, sizeof kCatalogue / 2, sizeof kCatalogue - 2}) {
            std::string changed = kCatalogue;
            changed[at] ^= 0x01;
            const CatalogueTrust trust = Check(changed, signature);
            EXPECT_FALSE(trust.use) << at;
            EXPECT_EQ(trust.problem, TrustProblem::kBadSignature) << at;
            EXPECT_FALSE(s_tool->MinisignAccepts(s_a->publicKeyLine, changed, signature)) << at;
        }
        // One byte more or less is another file too.
        EXPECT_EQ(Check(std::string(kCatalogue) + " ", signature).problem,
                  TrustProblem::kBadSignature);
        EXPECT_EQ(Check(std::string(kCatalogue, sizeof kCatalogue - 2), signature).problem,
                  TrustProblem::kBadSignature);
    }
}

TEST_F(CatalogueTrustTest, OneByteChangedInTheSignature) {
    const std::string signature = Sign(*s_a, kCatalogue);
    // Line 2 is "ED" + key id + signature: characters 14 on carry only signature bits.
    const std::string changed =
        WithLine(signature, 1, ChangeBase64Character(Line(signature, 1), 40));
    const CatalogueTrust trust = Check(kCatalogue, changed);
    EXPECT_FALSE(trust.use);
    EXPECT_EQ(trust.problem, TrustProblem::kBadSignature);
    EXPECT_FALSE(s_tool->MinisignAccepts(s_a->publicKeyLine, kCatalogue, changed));
}

TEST_F(CatalogueTrustTest, EveryChangedByteOfTheSignedLinesIsCaught) {
    const std::string signature = Sign(*s_a, kCatalogue);
    const std::size_t signedFrom = signature.find('\n') + 1;  // line 1 is not signed
    for (std::size_t at = signedFrom; at < signature.size(); ++at) {
        std::string changed = signature;
        changed[at] ^= 0x01;
        const CatalogueTrust trust = Check(kCatalogue, changed);
        EXPECT_FALSE(trust.use) << "byte " << at << " of\n" << changed;
        EXPECT_NE(trust.problem, TrustProblem::kNone) << at;
    }
}

TEST_F(CatalogueTrustTest, UntrustedCommentIsNotCovered) {
    const std::string signature = Sign(*s_a, kCatalogue);
    EXPECT_TRUE(
        Check(kCatalogue, WithLine(signature, 0, "untrusted comment: anything at all")).use);
    EXPECT_EQ(Check(kCatalogue, WithLine(signature, 0, "comment: anything")).problem,
              TrustProblem::kMalformed);
}

TEST_F(CatalogueTrustTest, ChangedTrustedCommentFailsTheGlobalSignature) {
    const std::string signature = Sign(*s_a, kCatalogue);
    ASSERT_EQ(Line(signature, 2), std::string("trusted comment: ") + kComment);
    for (const char* forged : {"trusted comment: serial:43 expires:2027-06-30T00:00:00Z",
                               "trusted comment: serial:42 expires:2099-06-30T00:00:00Z",
                               "trusted comment: serial:42", "trusted comment: "}) {
        const CatalogueTrust trust = Check(kCatalogue, WithLine(signature, 2, forged));
        EXPECT_EQ(trust.problem, TrustProblem::kBadGlobalSignature) << forged;
        EXPECT_FALSE(trust.use);
        // Nothing from an unverified comment is reported as read.
        EXPECT_EQ(trust.serial, std::nullopt);
    }
    const std::string globalChanged =
        WithLine(signature, 3, ChangeBase64Character(Line(signature, 3), 10));
    EXPECT_EQ(Check(kCatalogue, globalChanged).problem, TrustProblem::kBadGlobalSignature);
    EXPECT_FALSE(s_tool->MinisignAccepts(s_a->publicKeyLine, kCatalogue, globalChanged));
}

// --- Malformed, missing, unknown -------------------------------------------------------------

TEST_F(CatalogueTrustTest, TruncatedAndEmptySignatureFiles) {
    const std::string signature = Sign(*s_a, kCatalogue);
    EXPECT_EQ(Check(kCatalogue, std::string()).problem, TrustProblem::kMalformed);
    // Every cut short of the last line end leaves a file that is not whole.
    for (std::size_t size = 0; size + 1 < signature.size(); ++size) {
        const CatalogueTrust trust = Check(kCatalogue, signature.substr(0, size));
        EXPECT_EQ(trust.problem, TrustProblem::kMalformed) << size;
        EXPECT_FALSE(trust.use) << size;
    }
}

TEST_F(CatalogueTrustTest, OversizedSignatureFileRefusedUnread) {
    const std::string signature = Sign(*s_a, kCatalogue);
    const std::string padded = signature + std::string(kMaxSignatureFileSize, '\n');
    const CatalogueTrust trust = Check(kCatalogue, padded);
    EXPECT_EQ(trust.problem, TrustProblem::kMalformed);
    EXPECT_NE(trust.reason.find("4 KiB"), std::string::npos) << trust.reason;
    // Up to the cap the same padding is only blank lines.
    const std::string fits =
        signature + std::string(kMaxSignatureFileSize - signature.size(), '\n');
    EXPECT_TRUE(Check(kCatalogue, fits).use);
}

TEST_F(CatalogueTrustTest, OtherFilesInPlaceOfTheSignature) {
    const std::string signature = Sign(*s_a, kCatalogue);
    const std::string notSignatures[] = {
        "<html><body>404 Not Found</body></html>",
        s_a->publicKeyFile,
        signature + "one line too many\n",
        std::string(signature).insert(10, 1, '\0'),
        WithLine(signature, 1, Line(signature, 1) + " "),
        WithLine(signature, 1, Line(signature, 3)),  // 64 bytes where 74 belong
    };
    for (const std::string& text : notSignatures) {
        const CatalogueTrust trust = Check(kCatalogue, text);
        EXPECT_EQ(trust.problem, TrustProblem::kMalformed) << text;
        EXPECT_FALSE(trust.reason.empty());
    }
}

TEST_F(CatalogueTrustTest, MissingSignature) {
    const CatalogueTrust trust = Check(kCatalogue, std::nullopt);
    EXPECT_EQ(trust.problem, TrustProblem::kMissing);
    EXPECT_FALSE(trust.use);
    EXPECT_EQ(trust.keyId, std::nullopt);
}

TEST_F(CatalogueTrustTest, UnknownKey) {
    const CatalogueTrust trust = Check(kCatalogue, Sign(*s_c, kCatalogue));
    EXPECT_EQ(trust.problem, TrustProblem::kUnknownKey);
    EXPECT_FALSE(trust.use);
    EXPECT_EQ(trust.keyId, m_keyC.keyId);
    // The reason names the key that signed and the keys that are known.
    EXPECT_NE(trust.reason.find(FormatKeyId(m_keyC.keyId)), std::string::npos) << trust.reason;
    EXPECT_NE(trust.reason.find(FormatKeyId(m_keyA.keyId)), std::string::npos) << trust.reason;
    m_keys.clear();
    EXPECT_EQ(Check(kCatalogue, Sign(*s_a, kCatalogue)).problem, TrustProblem::kUnknownKey);
}

TEST_F(CatalogueTrustTest, UnreadableSignedCommentIsMalformed) {
    for (const char* comment : {"serial:4x2", "serial:", "serial:1 serial:2", "expires:2027-06-30",
                                "expires:2027-02-30T00:00:00Z", "serial:99999999999999999999"}) {
        const CatalogueTrust trust = Check(kCatalogue, Sign(*s_a, kCatalogue, comment));
        EXPECT_EQ(trust.problem, TrustProblem::kMalformed) << comment;
        EXPECT_FALSE(trust.use) << comment;
        EXPECT_EQ(trust.serialToRecord, std::nullopt) << comment;
    }
}

// --- Serial and expiry -----------------------------------------------------------------------

TEST_F(CatalogueTrustTest, SerialAgainstTheRecord) {
    const std::string signature = Sign(*s_a, kCatalogue);  // serial 42

    m_recorded = {{m_keyA.keyId, 43}};
    const CatalogueTrust lower = Check(kCatalogue, signature);
    EXPECT_EQ(lower.problem, TrustProblem::kSerialRollback);
    EXPECT_FALSE(lower.use);
    EXPECT_EQ(lower.serial, 42u);
    EXPECT_EQ(lower.serialToRecord, std::nullopt);

    m_recorded = {{m_keyA.keyId, 42}};
    const CatalogueTrust equal = Check(kCatalogue, signature);
    EXPECT_TRUE(equal.use) << equal.reason;
    EXPECT_EQ(equal.serialToRecord, std::nullopt);

    m_recorded = {{m_keyA.keyId, 41}};
    const CatalogueTrust higher = Check(kCatalogue, signature);
    EXPECT_TRUE(higher.use) << higher.reason;
    EXPECT_EQ(higher.serialToRecord, 42u);
}

TEST_F(CatalogueTrustTest, SerialsAreKeptPerKey) {
    // A's record says nothing about B's serials (a rotated key starts its own count), but once
    // B, listed after A, has been accepted, A's signatures are a replay of the old key's.
    m_recorded = {{m_keyA.keyId, 1000}};
    const CatalogueTrust trust = Check(kCatalogue, Sign(*s_b, kCatalogue));
    EXPECT_TRUE(trust.use) << trust.reason;
    EXPECT_EQ(trust.serialToRecord, 42u);
    EXPECT_EQ(Check(kCatalogue, Sign(*s_a, kCatalogue)).problem, TrustProblem::kSerialRollback);
    m_recorded[m_keyB.keyId] = 1;
    const CatalogueTrust retired = Check(kCatalogue, Sign(*s_a, kCatalogue, "serial:2000"));
    EXPECT_EQ(retired.problem, TrustProblem::kRetiredKey);
    EXPECT_NE(retired.reason.find(FormatKeyId(m_keyB.keyId)), std::string::npos) << retired.reason;
    // The list's order decides which key is newer.
    m_keys = {m_keyB, m_keyA};
    EXPECT_TRUE(Check(kCatalogue, Sign(*s_a, kCatalogue, "serial:2000")).use);
}

TEST_F(CatalogueTrustTest, SignatureWithoutSerialAfterOneWithSerial) {
    // Replaying an old catalogue signed before serials were used must not step round the guard.
    m_recorded = {{m_keyA.keyId, 7}};
    const CatalogueTrust trust =
        Check(kCatalogue, Sign(*s_a, kCatalogue, "expires:2027-06-30T00:00:00Z"));
    EXPECT_EQ(trust.problem, TrustProblem::kSerialRollback);
    m_recorded.clear();
    EXPECT_TRUE(Check(kCatalogue, Sign(*s_a, kCatalogue, "expires:2027-06-30T00:00:00Z")).use);
}

TEST_F(CatalogueTrustTest, ExpiredAndNotYetExpired) {
    const std::string signature = Sign(*s_a, kCatalogue);
    EXPECT_TRUE(Check(kCatalogue, signature, kExpiry - 1s).use);
    const CatalogueTrust atExpiry = Check(kCatalogue, signature, kExpiry);
    EXPECT_EQ(atExpiry.problem, TrustProblem::kExpired);
    EXPECT_FALSE(atExpiry.use);
    EXPECT_NE(atExpiry.reason.find("2027-06-30T00:00:00Z"), std::string::npos) << atExpiry.reason;
    EXPECT_EQ(atExpiry.serialToRecord, std::nullopt);
    EXPECT_EQ(Check(kCatalogue, signature, sys_days{2030y / 1 / 1}).problem,
              TrustProblem::kExpired);
    // An expiry beyond the clock's nanosecond range is simply far away, never an overflow.
    const std::string farAway =
        Sign(*s_a, kCatalogue, std::string("serial:42 expires:9999-12-31T23:59:59Z"));
    EXPECT_TRUE(Check(kCatalogue, farAway).use);
}

// --- The policies ----------------------------------------------------------------------------

// Every case under every policy: require refuses on any problem, warn reports and uses, off
// neither checks nor records.
TEST_F(CatalogueTrustTest, PolicyTable) {
    const std::string good = Sign(*s_a, kCatalogue);
    std::string tampered = kCatalogue;
    tampered[20] ^= 0x01;
    struct Case {
        const char* name;
        std::string catalogue;
        std::optional<std::string> signature;
        RecordedSerials recorded;
        sys_seconds now;
        TrustProblem problem;
    };
    const Case cases[] = {
        {"sound", kCatalogue, good, {}, kNow, TrustProblem::kNone},
        {"sound, equal serial", kCatalogue, good, {{m_keyA.keyId, 42}}, kNow, TrustProblem::kNone},
        {"sound, higher serial", kCatalogue, good, {{m_keyA.keyId, 41}}, kNow, TrustProblem::kNone},
        {"sound, legacy form",
         kCatalogue,
         Sign(*s_a, kCatalogue, kComment, true),
         {},
         kNow,
         TrustProblem::kNone},
        {"sound, second key", kCatalogue, Sign(*s_b, kCatalogue), {}, kNow, TrustProblem::kNone},
        {"no serial or expiry",
         kCatalogue,
         Sign(*s_a, kCatalogue, std::nullopt),
         {},
         kNow,
         TrustProblem::kIncomplete},
        {"missing", kCatalogue, std::nullopt, {}, kNow, TrustProblem::kMissing},
        {"empty", kCatalogue, std::string(), {}, kNow, TrustProblem::kMalformed},
        {"truncated", kCatalogue, good.substr(0, 120), {}, kNow, TrustProblem::kMalformed},
        {"unknown key", kCatalogue, Sign(*s_c, kCatalogue), {}, kNow, TrustProblem::kUnknownKey},
        {"catalogue changed", tampered, good, {}, kNow, TrustProblem::kBadSignature},
        {"comment changed",
         kCatalogue,
         WithLine(good, 2, "trusted comment: serial:99 expires:2027-06-30T00:00:00Z"),
         {},
         kNow,
         TrustProblem::kBadGlobalSignature},
        {"serial lower",
         kCatalogue,
         good,
         {{m_keyA.keyId, 43}},
         kNow,
         TrustProblem::kSerialRollback},
        {"expired", kCatalogue, good, {}, kExpiry + 1h, TrustProblem::kExpired},
        {"names the catalogue",
         kCatalogue,
         Sign(*s_a, kCatalogue, "file:patchinfo.xml " + std::string(kComment)),
         {},
         kNow,
         TrustProblem::kNone},
        {"names another file",
         kCatalogue,
         Sign(*s_a, kCatalogue, "file:beta.xml " + std::string(kComment)),
         {},
         kNow,
         TrustProblem::kOtherFile},
        {"older key after a newer one",
         kCatalogue,
         good,
         {{m_keyB.keyId, 1}},
         kNow,
         TrustProblem::kRetiredKey},
        {"no serial",
         kCatalogue,
         Sign(*s_a, kCatalogue, "expires:2027-06-30T00:00:00Z"),
         {},
         kNow,
         TrustProblem::kIncomplete},
        {"no expiry",
         kCatalogue,
         Sign(*s_a, kCatalogue, "serial:42"),
         {},
         kNow,
         TrustProblem::kIncomplete},
    };
    for (const Case& c : cases) {
        m_recorded = c.recorded;
        const CatalogueTrust require =
            Decide(c.catalogue, c.signature, SignaturePolicy::kRequire, c.now);
        const CatalogueTrust warn = Decide(c.catalogue, c.signature, SignaturePolicy::kWarn, c.now);
        const CatalogueTrust off = Decide(c.catalogue, c.signature, SignaturePolicy::kOff, c.now);
        const bool sound = c.problem == TrustProblem::kNone;
        // Only require asks for both guards; warn takes such a signature silently.
        const bool incomplete = c.problem == TrustProblem::kIncomplete;
        EXPECT_EQ(require.problem, c.problem) << c.name << ": " << require.reason;
        EXPECT_EQ(require.use, sound) << c.name;
        EXPECT_EQ(require.reason.empty(), sound) << c.name;
        EXPECT_EQ(warn.problem, incomplete ? TrustProblem::kNone : c.problem) << c.name;
        EXPECT_TRUE(warn.use) << c.name;
        if (!incomplete) {
            EXPECT_EQ(warn.reason, require.reason) << c.name;
            EXPECT_EQ(warn.serialToRecord, require.serialToRecord) << c.name;
        }
        if (!sound && !incomplete) {
            EXPECT_EQ(warn.serialToRecord, std::nullopt) << c.name;
        }
        EXPECT_TRUE(off.use) << c.name;
        EXPECT_FALSE(off.checked) << c.name;
        EXPECT_EQ(off.problem, TrustProblem::kNone) << c.name;
        EXPECT_EQ(off.serialToRecord, std::nullopt) << c.name;
    }
}

TEST(SignaturePolicyNameTest, NamesRoundTrip) {
    for (SignaturePolicy policy :
         {SignaturePolicy::kRequire, SignaturePolicy::kWarn, SignaturePolicy::kOff}) {
        SignaturePolicy back =
            policy == SignaturePolicy::kOff ? SignaturePolicy::kRequire : SignaturePolicy::kOff;
        ASSERT_TRUE(ParseSignaturePolicy(SignaturePolicyName(policy), back));
        EXPECT_EQ(back, policy);
    }
    SignaturePolicy untouched = SignaturePolicy::kWarn;
    for (const char* text : {"", "Require", "on", "warn ", "none"})
        EXPECT_FALSE(ParseSignaturePolicy(text, untouched)) << text;
    EXPECT_EQ(untouched, SignaturePolicy::kWarn);
}

}  // namespace
