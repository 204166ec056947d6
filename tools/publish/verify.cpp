#include "tools/publish/verify.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "app/catalogue_trust.h"
#include "text/utf8.h"
#include "tools/publish/finding.h"
#include "transfer/transfer_limits.h"
#include "trust/minisign.h"
#include "trust/signature_policy.h"
#include "trust/trusted_comment.h"

namespace {

// Up to limit + 1 bytes, so that an over-long file is seen as over-long and not cut to size.
std::optional<std::string> ReadWhole(const std::filesystem::path& path, std::size_t limit) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text;
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<std::size_t>(in.gcount()));
        if (text.size() > limit)
            break;
    }
    return text;
}

bool LoadKey(const std::string& text, MinisignPublicKey& key, std::string& error) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(text, ignored)) {
        const std::optional<std::string> file = ReadWhole(text, 4096);
        if (!file) {
            error = "cannot read " + text;
            return false;
        }
        return ParseMinisignPublicKey(*file, key, &error);
    }
    return ParseMinisignPublicKey(text, key, &error);
}

std::string Outcome(const CatalogueTrust& trust, SignaturePolicy policy, bool tooLarge) {
    // Such a body never reaches the signature check: the fetch itself fails.
    if (tooLarge)
        return "refuses the catalogue: larger than the " + std::to_string(kMaxMemoryBody >> 20) +
               " MiB a launcher fetches, the game starts";
    if (policy == SignaturePolicy::kOff)
        return "uses the catalogue (no check)";
    if (!trust.use)
        return "refuses the catalogue: it counts as unreadable, the game starts";
    if (trust.problem != TrustProblem::kNone)
        return "uses the catalogue, reporting the problem";
    return trust.serialToRecord
               ? "uses the catalogue and records serial " + std::to_string(*trust.serialToRecord)
               : "uses the catalogue";
}

}  // namespace

VerifyResult VerifyCatalogue(const VerifyRequest& request,
                             std::chrono::system_clock::time_point now) {
    VerifyResult result;
    std::ostringstream out;
    MinisignPublicKey key;
    std::string error;
    if (!LoadKey(request.key, key, error)) {
        result.status = kExitUsage;
        result.report = "velmora-publish verify: --key: " + error + "\n";
        return result;
    }
    const std::string catalogueName = request.catalogueFile.string();
    const std::optional<std::string> catalogue = ReadWhole(request.catalogueFile, 64u << 20);
    if (!catalogue) {
        result.status = kExitUsage;
        result.report = "velmora-publish verify: cannot read " + catalogueName + "\n";
        return result;
    }
    std::filesystem::path signaturePath = request.catalogueFile;
    signaturePath += ".minisig";
    const std::optional<std::string> signature = ReadWhole(signaturePath, kMaxSignatureFileSize);

    RecordedSerials recorded;
    std::string recordNote = "no recorded serial given";
    if (request.stateFolder) {
        const std::filesystem::path record = *request.stateFolder / "catalogue-serials";
        recorded = ReadRecordedSerials(Utf8ToWide(std::string_view(record.string())));
        const auto found = recorded.find(key.keyId);
        recordNote =
            found == recorded.end()
                ? "no serial recorded for this key in " + record.string()
                : "recorded serial " + std::to_string(found->second) + " (" + record.string() + ")";
    }

    const std::span<const MinisignPublicKey> keys(&key, 1);
    const std::optional<std::string_view> signatureView =
        signature ? std::optional<std::string_view>(*signature) : std::nullopt;
    // The strictest launcher's verdict: what a sound catalogue must pass.
    const CatalogueTrust check = DecideCatalogueTrust(*catalogue, signatureView, keys,
                                                      SignaturePolicy::kRequire, now, recorded);

    out << catalogueName << ": key " << FormatKeyId(key.keyId) << ", " << recordNote << "\n";
    out << "signature: " << signaturePath.string();
    if (check.keyId)
        out << ", by key " << FormatKeyId(*check.keyId);
    if (check.serial)
        out << ", serial " << *check.serial;
    if (check.expires)
        out << ", expires " << FormatUtcTime(*check.expires);
    out << "\n";
    const bool tooLarge = catalogue->size() > kMaxMemoryBody;
    out << "verdict: "
        << (check.problem == TrustProblem::kNone ? std::string("sound") : check.reason) << "\n";
    if (tooLarge)
        out << "size: " << catalogue->size() << " bytes, over the launcher's limit of "
            << kMaxMemoryBody << "\n";
    out << "a launcher with this key:\n";
    for (SignaturePolicy policy :
         {SignaturePolicy::kRequire, SignaturePolicy::kWarn, SignaturePolicy::kOff}) {
        const CatalogueTrust decided =
            DecideCatalogueTrust(*catalogue, signatureView, keys, policy, now, recorded);
        const std::string name = SignaturePolicyName(policy);
        out << "  " << name << ":" << std::string(9 - name.size(), ' ')
            << Outcome(decided, policy, tooLarge) << "\n";
    }
    result.status = check.use && !tooLarge ? kExitClean : kExitFindings;
    result.report = out.str();
    return result;
}
