#include "app/catalogue_trust.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "app/update_flow.h"
// Generated at configure time from trust/built_in_trust.h.in.
#include "built_in_trust.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "text/log.h"
#include "text/utf8.h"
#include "transfer/curl_wrapper.h"
#include "transfer/document_fetch.h"

namespace {

constexpr wchar_t kSerialsFileName[] = L"catalogue-serials";
constexpr wchar_t kSignatureSuffix[] = L".minisig";
// Far more keys than a launcher ever ships; a longer record is not ours.
constexpr std::size_t kMaxRecordSize = 64 * 1024;

// The one place a refusal or a warning leaves the launcher, so it can move to the log.
void ReportTrustProblem(const std::string& reason, bool refused) {
    const std::string line = std::string("velmora-launcher: catalogue signature: ") + reason +
                             (refused ? " (catalogue refused)\n" : " (catalogue used anyway)\n");
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void SplitPath(const std::wstring& path, std::wstring& folder, std::wstring& name) {
    const std::size_t slash = path.rfind(platform::kPathSeparator);
    if (slash == std::wstring::npos) {
        folder.clear();
        name = path;
    } else {
        folder = path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

bool ParseRecordLine(std::string_view line, MinisignKeyId& id, std::uint64_t& serial) {
    const std::size_t space = line.find(' ');
    if (space != 16 || line.size() <= space + 1)
        return false;
    const char* end = line.data() + line.size();
    auto [idEnd, idError] = std::from_chars(line.data(), line.data() + space, id, 16);
    if (idError != std::errc{} || idEnd != line.data() + space)
        return false;
    auto [serialEnd, serialError] = std::from_chars(line.data() + space + 1, end, serial);
    return serialError == std::errc{} && serialEnd == end && line[space + 1] != '+';
}

}  // namespace

const CatalogueTrustSettings& BuiltInCatalogueTrust() {
    static const CatalogueTrustSettings settings = [] {
        CatalogueTrustSettings built;
        // CMake checked every key when the launcher was configured; a key that still fails to
        // read leaves the list short, and require then refuses rather than trusting less.
        ParseMinisignPublicKeys(kBuiltInCatalogueKeys, built.keys);
        built.policy = kBuiltInSignaturePolicy;
        built.serialsFile = UserCatalogueSerialsPath();
        return built;
    }();
    return settings;
}

std::wstring UserCatalogueSerialsPath() {
    std::wstring folder, path;
    if (!platform::GetLauncherFolder(platform::kStateFolder, folder) ||
        !platform::JoinPath(folder, kSerialsFileName, path, platform::kMaxNativePathLength))
        return {};
    return path;
}

RecordedSerials ReadRecordedSerials(const std::wstring& path) {
    std::string text;
    if (!platform::ReadSmallFile(path, kMaxRecordSize, text))
        return {};

    // One bad line makes the whole record suspect: a half-trusted record is worse than none.
    RecordedSerials serials;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        MinisignKeyId id = 0;
        std::uint64_t serial = 0;
        if (!ParseRecordLine(line, id, serial))
            return {};
        std::uint64_t& kept = serials[id];
        kept = std::max(kept, serial);
    }
    return serials;
}

bool WriteRecordedSerials(const std::wstring& path, const RecordedSerials& serials,
                          Failure* failure) {
    // A rename would put the record in place of a FIFO or device at the name, and a folder there
    // only makes it fail; either way something other than our record sits there, and it is said.
    std::wstring folder, name;
    SplitPath(path, folder, name);
    platform::EntryStatus status;
    if (!name.empty() && platform::StatBelow(folder, name, status) &&
        (status.kind == platform::EntryKind::kFolder ||
         status.kind == platform::EntryKind::kOther)) {
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kNotRegularFile, 0, {}, path);
        return false;
    }
    std::string text;
    for (const auto& [id, serial] : serials)
        text += FormatKeyId(id) + ' ' + std::to_string(serial) + '\n';
    return platform::WriteFileAtomically(path, text, failure);
}

std::optional<std::string> FetchCatalogueSignature(CCurlWrapper& curl,
                                                   const std::wstring& catalogueUrl,
                                                   Failure* failure, const std::atomic<bool>* stop,
                                                   const BackoffSettings& backoff) {
    MemoryBuffer body;
    DocumentFetch how;
    how.backoff = backoff;
    how.seed = FreshBackoffSeed();
    how.stop = stop;
    Failure cause;
    if (!FetchDocument(curl, catalogueUrl + kSignatureSuffix, body, how, &cause)) {
        ReleaseBuffer(body);
        // Only a server that says it has no such file means "missing"; a stall, an endless
        // body or a refused connection are other faults and must be named as such.
        const bool absent =
            cause.cause == FailureClass::kHttpStatus && (cause.code == 404 || cause.code == 410);
        if (failure != nullptr)
            *failure = absent ? Failure{} : cause;
        return std::nullopt;
    }
    if (body.bytes == nullptr || body.byteCount == 0)
        return std::string();
    return std::string(reinterpret_cast<const char*>(body.bytes), body.byteCount - 1);
}

bool CheckFetchedCatalogue(const CatalogueTrustSettings& settings, CCurlWrapper& curl,
                           const std::wstring& catalogueUrl, std::string_view catalogue,
                           std::chrono::system_clock::time_point now, const std::atomic<bool>* stop,
                           Failure* failure, Failure* recordFailure) {
    if (settings.policy == SignaturePolicy::kOff)
        return true;
    Failure fetchFailure;
    const std::optional<std::string> signature =
        FetchCatalogueSignature(curl, catalogueUrl, &fetchFailure, stop, settings.backoff);
    const RecordedSerials recorded = settings.serialsFile.empty()
                                         ? RecordedSerials{}
                                         : ReadRecordedSerials(settings.serialsFile);
    const CatalogueTrust trust =
        fetchFailure.IsFailure()
            ? DecideUnfetchedSignature(settings.policy, DescribeFailure(fetchFailure))
            : DecideCatalogueTrust(catalogue,
                                   signature ? std::optional<std::string_view>(*signature)
                                             : std::optional<std::string_view>(),
                                   settings.keys, settings.policy, now, recorded);
    if (settings.keptCopy && trust.problem != TrustProblem::kNone) {
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kUntrusted, 0, trust.reason, catalogueUrl);
        return false;
    }
    if (trust.serialToRecord && trust.keyId && !settings.serialsFile.empty()) {
        RecordedSerials updated = recorded;
        updated[*trust.keyId] = *trust.serialToRecord;
        // An unwritable state folder costs the rollback guard, not the game; but it is said.
        Failure written;
        if (!WriteRecordedSerials(settings.serialsFile, updated, &written)) {
            const std::string cause = DescribeFailure(written);
            LogLine("catalogue signature: serial record not written: %s", cause.c_str());
            if (recordFailure != nullptr)
                *recordFailure = written;
        }
    }
    if (trust.problem != TrustProblem::kNone)
        ReportTrustProblem(trust.reason, !trust.use);
    if (!trust.use && failure != nullptr)
        *failure = MakeFailure(FailureClass::kUntrusted, 0, trust.reason, catalogueUrl);
    return trust.use;
}

bool CatalogueIsTrusted(UpdateFlow& flow, const std::wstring& catalogueUrl,
                        std::string_view catalogue, const std::atomic<bool>* stop, Failure* failure,
                        bool keptCopy) {
    Failure recordFailure;
    CatalogueTrustSettings settings = BuiltInCatalogueTrust();
    settings.keptCopy = keptCopy;
    const bool use =
        CheckFetchedCatalogue(settings, flow.curl, catalogueUrl, catalogue,
                              std::chrono::system_clock::now(), stop, failure, &recordFailure);
    // The run log keeps the cause; a later failure of the run itself takes its place.
    if (recordFailure.IsFailure() && !flow.failure.IsFailure())
        flow.failure = recordFailure;
    return use;
}

std::string DescribeCatalogueTrust(const CatalogueTrustSettings& settings) {
    std::string text =
        std::string("signature policy: ") + SignaturePolicyName(settings.policy) + "\n";
    for (const MinisignPublicKey& key : settings.keys)
        text += "catalogue key: " + FormatKeyId(key.keyId) + "\n";
    return text;
}
