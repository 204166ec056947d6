// Feeds arbitrary bytes to the catalogue signature check as the .minisig file beside a fixed
// catalogue, and to the readers of public keys and trusted comments. The seed corpus holds
// real signatures of that catalogue by the key below, so mutations reach the Ed25519 checks,
// the trusted comment and the serial and expiry rules, not only the line splitting.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trust/minisign.h"
#include "trust/signature_policy.h"
#include "trust/trusted_comment.h"

namespace {

constexpr std::string_view kCatalogue = "fuzz catalogue\n";
constexpr std::string_view kPublicKey = "RWT4VxcoxSfWvSsWOi7GRcfQsshrOPyTlOY1oMifUi8Gj4tetMobIv83";

const std::vector<MinisignPublicKey>& Keys() {
    static const std::vector<MinisignPublicKey> keys = [] {
        std::vector<MinisignPublicKey> parsed(1);
        if (!ParseMinisignPublicKey(kPublicKey, parsed[0]))
            __builtin_trap();
        return parsed;
    }();
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto now = std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};
    const RecordedSerials recorded = {{Keys()[0].keyId, 5}};

    const CatalogueTrust trust = DecideCatalogueTrust(kCatalogue, std::string_view(bytes), Keys(),
                                                      SignaturePolicy::kRequire, now, recorded);
    // A sound verdict must mean what it says.
    if (trust.use != (trust.problem == TrustProblem::kNone) || (trust.use && !trust.keyId))
        __builtin_trap();

    MinisignPublicKey key;
    ParseMinisignPublicKey(bytes, key);
    TrustedCommentFields fields;
    ParseTrustedComment(bytes, fields);
    std::chrono::sys_seconds time;
    if (ParseUtcTime(bytes, time) && FormatUtcTime(time) != bytes)
        __builtin_trap();
    return 0;
}
