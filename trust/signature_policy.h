#pragma once
// Whether a fetched catalogue may be used, judged by its detached minisign signature, the keys
// built into the launcher, the serial recorded for the signing key and the signature's expiry.
// No file is read or written here: the caller fetches the signature and keeps the record.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "trust/minisign.h"

enum class SignaturePolicy {
    kRequire,  // any problem: the catalogue counts as one that could not be read
    kWarn,     // any problem is reported, the catalogue used all the same
    kOff,      // no check
};

// "require", "warn", "off".
const char* SignaturePolicyName(SignaturePolicy policy);
// The reverse; false for any other text.
bool ParseSignaturePolicy(std::string_view text, SignaturePolicy& policy);

enum class TrustProblem {
    kNone,
    kMissing,             // no signature next to the catalogue
    kMalformed,           // not a minisign signature file, or a trusted comment we cannot read
    kUnknownKey,          // signed with a key this launcher does not know
    kBadSignature,        // the catalogue is not the one that was signed
    kBadGlobalSignature,  // the trusted comment is not the one that was signed
    kSerialRollback,      // an older catalogue than one already accepted under this key
    kExpired,             // the signature's expiry has passed
    kOtherFile,           // the trusted comment names a file other than the catalogue
    kRetiredKey,          // a key listed before one whose catalogue was already accepted
    kIncomplete,          // no serial or no expiry, where the policy needs both (require)
    kNotFetched,          // the signature's fetch failed other than by its absence
};

// The name a signature's trusted comment must give in `file:` when it gives one.
inline constexpr std::string_view kSignedCatalogueName = "patchinfo.xml";

// A short plain phrase for the problem ("signature missing", ...).
const char* TrustProblemName(TrustProblem problem);

// The highest serial accepted so far, per key id.
using RecordedSerials = std::map<MinisignKeyId, std::uint64_t>;

struct CatalogueTrust {
    bool use = false;      // the catalogue may be used
    bool checked = false;  // a check ran (false only under kOff)
    TrustProblem problem = TrustProblem::kNone;
    std::string reason;  // plain text for standard error and the log; empty when sound
    // What the signature file says, as far as it was read (the key id once the file parsed;
    // serial and expiry once the trusted comment verified).
    std::optional<MinisignKeyId> keyId;
    std::optional<std::uint64_t> serial;
    std::optional<std::chrono::sys_seconds> expires;
    // Set when the caller should record this serial for keyId: the signature is sound and its
    // serial is higher than the one recorded (or none is).
    std::optional<std::uint64_t> serialToRecord;
};

// The full check, whatever the policy: use is true exactly when problem is kNone. signature
// is empty (std::nullopt) when none could be fetched. An equal serial is accepted (the same
// catalogue again); a lower one, or none where a serial is recorded for the key, is a
// rollback. The signature counts as expired from the instant its expiry names. keys are listed
// oldest first: once a serial is recorded for a key, every key listed before it is retired, so
// a rotation cannot be undone by replaying the old key's last catalogue.
CatalogueTrust CheckCatalogueSignature(std::string_view catalogue,
                                       std::optional<std::string_view> signature,
                                       std::span<const MinisignPublicKey> keys,
                                       std::chrono::system_clock::time_point now,
                                       const RecordedSerials& recorded);

// The check with the policy applied: under kRequire a problem refuses the catalogue, and so
// does a signature without serial or without expiry (the guards against replay and freeze);
// under kWarn a problem is reported and the catalogue used (a serial is recorded only from a
// sound signature), under kOff nothing is checked (CheckCatalogueSignature gives a report
// anyway).
CatalogueTrust DecideCatalogueTrust(std::string_view catalogue,
                                    std::optional<std::string_view> signature,
                                    std::span<const MinisignPublicKey> keys, SignaturePolicy policy,
                                    std::chrono::system_clock::time_point now,
                                    const RecordedSerials& recorded);

// The verdict when the signature could not be fetched for a reason other than its absence (a
// stall, a body too large, no answer, a server error): cause says which. Judged under the
// policy like any other problem.
CatalogueTrust DecideUnfetchedSignature(SignaturePolicy policy, const std::string& cause);
