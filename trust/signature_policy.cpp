#include "trust/signature_policy.h"

#include "trust/trusted_comment.h"

namespace {

CatalogueTrust Refuse(CatalogueTrust trust, TrustProblem problem, const std::string& detail) {
    trust.use = false;
    trust.problem = problem;
    trust.reason = TrustProblemName(problem);
    if (!detail.empty())
        trust.reason += ": " + detail;
    trust.serialToRecord.reset();
    return trust;
}

const MinisignPublicKey* FindKey(std::span<const MinisignPublicKey> keys, MinisignKeyId id) {
    for (const MinisignPublicKey& key : keys)
        if (key.keyId == id)
            return &key;
    return nullptr;
}

// The newest key (listed after the signing key) with a recorded serial, if any.
const MinisignPublicKey* NewerRecordedKey(std::span<const MinisignPublicKey> keys,
                                          const MinisignPublicKey* signer,
                                          const RecordedSerials& recorded) {
    const MinisignPublicKey* newer = nullptr;
    for (const MinisignPublicKey* key = signer + 1; key != keys.data() + keys.size(); ++key)
        if (recorded.contains(key->keyId))
            newer = key;
    return newer;
}

std::string KnownKeyList(std::span<const MinisignPublicKey> keys) {
    if (keys.empty())
        return "none";
    std::string list;
    for (const MinisignPublicKey& key : keys) {
        if (!list.empty())
            list += ", ";
        list += FormatKeyId(key.keyId);
    }
    return list;
}

}  // namespace

const char* SignaturePolicyName(SignaturePolicy policy) {
    switch (policy) {
        case SignaturePolicy::kRequire:
            return "require";
        case SignaturePolicy::kWarn:
            return "warn";
        case SignaturePolicy::kOff:
            return "off";
    }
    return "unknown";
}

bool ParseSignaturePolicy(std::string_view text, SignaturePolicy& policy) {
    for (SignaturePolicy candidate :
         {SignaturePolicy::kRequire, SignaturePolicy::kWarn, SignaturePolicy::kOff}) {
        if (text == SignaturePolicyName(candidate)) {
            policy = candidate;
            return true;
        }
    }
    return false;
}

const char* TrustProblemName(TrustProblem problem) {
    switch (problem) {
        case TrustProblem::kNone:
            return "signature sound";
        case TrustProblem::kMissing:
            return "signature missing";
        case TrustProblem::kMalformed:
            return "signature malformed";
        case TrustProblem::kUnknownKey:
            return "signed with an unknown key";
        case TrustProblem::kBadSignature:
            return "bad signature";
        case TrustProblem::kBadGlobalSignature:
            return "bad signature of the trusted comment";
        case TrustProblem::kSerialRollback:
            return "serial lower than the one accepted before";
        case TrustProblem::kExpired:
            return "signature expired";
        case TrustProblem::kOtherFile:
            return "signature made for another file";
        case TrustProblem::kRetiredKey:
            return "signed with a key that a newer one replaced";
        case TrustProblem::kIncomplete:
            return "signature without serial or expiry";
        case TrustProblem::kNotFetched:
            return "signature not fetched";
    }
    return "unknown problem";
}

CatalogueTrust CheckCatalogueSignature(std::string_view catalogue,
                                       std::optional<std::string_view> signature,
                                       std::span<const MinisignPublicKey> keys,
                                       std::chrono::system_clock::time_point now,
                                       const RecordedSerials& recorded) {
    CatalogueTrust trust;
    trust.checked = true;
    if (!signature)
        return Refuse(trust, TrustProblem::kMissing, "no patchinfo.xml.minisig was found");

    MinisignSignature parsed;
    std::string error;
    if (!ParseMinisignSignature(*signature, parsed, &error))
        return Refuse(trust, TrustProblem::kMalformed, error);
    trust.keyId = parsed.keyId;

    const MinisignPublicKey* key = FindKey(keys, parsed.keyId);
    if (key == nullptr)
        return Refuse(trust, TrustProblem::kUnknownKey,
                      "key id " + FormatKeyId(parsed.keyId) + ", known: " + KnownKeyList(keys));
    if (!VerifyMinisignContent(*key, parsed, catalogue))
        return Refuse(trust, TrustProblem::kBadSignature,
                      "the catalogue is not the file key " + FormatKeyId(key->keyId) + " signed");
    if (!VerifyMinisignTrustedComment(*key, parsed))
        return Refuse(trust, TrustProblem::kBadGlobalSignature,
                      "the trusted comment was changed after signing");

    TrustedCommentFields fields;
    if (!ParseTrustedComment(parsed.trustedComment, fields, &error))
        return Refuse(trust, TrustProblem::kMalformed, error);
    trust.serial = fields.serial;
    trust.expires = fields.expires;

    // The same key may sign other files (a beta channel's catalogue); a serial taken from one
    // of those would lock the main catalogue out.
    if (fields.file && *fields.file != kSignedCatalogueName)
        return Refuse(trust, TrustProblem::kOtherFile,
                      "the trusted comment names file:" + *fields.file + ", not " +
                          std::string(kSignedCatalogueName));
    if (const MinisignPublicKey* newer = NewerRecordedKey(keys, key, recorded))
        return Refuse(trust, TrustProblem::kRetiredKey,
                      "key " + FormatKeyId(key->keyId) + ", a catalogue signed by key " +
                          FormatKeyId(newer->keyId) + " already accepted");

    // Once a key has given serials, a signature without one is older than all of them: an
    // old catalogue signed before serials were used must not step round the guard.
    const auto record = recorded.find(parsed.keyId);
    if (record != recorded.end() && (!fields.serial || *fields.serial < record->second))
        return Refuse(trust, TrustProblem::kSerialRollback,
                      (fields.serial ? "serial " + std::to_string(*fields.serial) : "no serial") +
                          " under key " + FormatKeyId(parsed.keyId) + ", serial " +
                          std::to_string(record->second) + " already accepted");
    // Compared in whole seconds: an expiry far beyond the clock's nanosecond range (the year
    // 9999, say) must not overflow on its way to the clock's own unit.
    if (fields.expires && std::chrono::floor<std::chrono::seconds>(now) >= *fields.expires)
        return Refuse(trust, TrustProblem::kExpired,
                      "it expired at " + FormatUtcTime(*fields.expires));

    trust.use = true;
    if (fields.serial && (record == recorded.end() || *fields.serial > record->second))
        trust.serialToRecord = fields.serial;
    return trust;
}

CatalogueTrust DecideCatalogueTrust(std::string_view catalogue,
                                    std::optional<std::string_view> signature,
                                    std::span<const MinisignPublicKey> keys, SignaturePolicy policy,
                                    std::chrono::system_clock::time_point now,
                                    const RecordedSerials& recorded) {
    if (policy == SignaturePolicy::kOff) {
        CatalogueTrust unchecked;
        unchecked.use = true;
        return unchecked;
    }
    CatalogueTrust trust = CheckCatalogueSignature(catalogue, signature, keys, now, recorded);
    // Without a serial nothing stops a replay, without an expiry nothing stops a freeze: a
    // policy that refuses on any problem cannot take a signature that waives either guard.
    if (policy == SignaturePolicy::kRequire && trust.use && (!trust.serial || !trust.expires))
        return Refuse(trust, TrustProblem::kIncomplete,
                      std::string("the trusted comment gives ") +
                          (!trust.serial && !trust.expires ? "neither serial: nor expires:"
                           : !trust.serial                 ? "no serial:"
                                                           : "no expires:"));
    if (policy == SignaturePolicy::kWarn)
        trust.use = true;
    return trust;
}

CatalogueTrust DecideUnfetchedSignature(SignaturePolicy policy, const std::string& cause) {
    CatalogueTrust trust;
    trust.use = true;
    if (policy == SignaturePolicy::kOff)
        return trust;
    trust.checked = true;
    trust = Refuse(trust, TrustProblem::kNotFetched, cause);
    trust.use = policy == SignaturePolicy::kWarn;
    return trust;
}
