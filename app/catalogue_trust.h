#pragma once
// The launcher's side of the catalogue signature: it fetches patchinfo.xml.minisig beside the
// catalogue, asks trust/ for the verdict under the keys and policy it was built with, keeps the
// highest serial accepted per key in its state folder, and says why when it refuses.

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/failure.h"
#include "transfer/retry_backoff.h"
#include "trust/minisign.h"
#include "trust/signature_policy.h"

class CCurlWrapper;
struct UpdateFlow;

// What a catalogue is checked against. The launcher uses BuiltInCatalogueTrust(); tests give
// their own keys, policy and state file.
struct CatalogueTrustSettings {
    std::vector<MinisignPublicKey> keys;
    SignaturePolicy policy = SignaturePolicy::kOff;
    // The record of accepted serials; empty keeps no record (the guard falls back to expiry).
    std::wstring serialsFile;
    // The signature's retries after a failure that may pass (tests shorten them).
    BackoffSettings backoff = CatalogueBackoff();
    // The catalogue judged is the launcher's own kept copy, which a 304 vouched for: any
    // problem, even one that warn lets pass, refuses it without a word, since a fresh copy is
    // fetched next and judged on its own.
    bool keptCopy = false;
};

// The keys and policy compiled in, and the record under the user's state folder.
const CatalogueTrustSettings& BuiltInCatalogueTrust();

// <state folder>/velmora-launcher/catalogue-serials; empty when no state folder can be named.
std::wstring UserCatalogueSerialsPath();

// The record is a line per key: 16 hexadecimal digits of the key id, a space, the serial. A
// missing, unreadable or damaged record reads as empty: it can only weaken the guard, never
// stop the game. Only a regular file is read, and a link at its name is not followed.
RecordedSerials ReadRecordedSerials(const std::wstring& path);
// Written beside and renamed into place, so a reader never meets half a record. failure (when
// given) says why not: a folder, FIFO or device at the name or at its ".new" is refused.
bool WriteRecordedSerials(const std::wstring& path, const RecordedSerials& serials,
                          Failure* failure = nullptr);

// The signature file for the catalogue at catalogueUrl, through the same wrapper and limits,
// ended early when stop is raised. nullopt when there is none to judge; failure then says why:
// none (no failure class) when the server has no signature (404 or 410), the transfer's own
// cause otherwise (FetchDocument: any other status than 200 is one; a failure that may pass is
// first tried again within backoff). A body over kMaxSignatureFileSize is handed on as it is; the
// reader refuses it.
std::optional<std::string> FetchCatalogueSignature(
    CCurlWrapper& curl, const std::wstring& catalogueUrl, Failure* failure = nullptr,
    const std::atomic<bool>* stop = nullptr, const BackoffSettings& backoff = CatalogueBackoff());

// The whole decision for a fetched catalogue body: under kOff nothing is fetched and the
// catalogue is used; otherwise the signature is fetched and judged, a sound serial recorded, and
// any problem reported. True when the catalogue may be used; on false, failure (when given) is
// kUntrusted with the reason as detail and catalogueUrl as subject. The fetch ends when stop is
// raised. A record that cannot be written is reported, and its cause left in recordFailure
// (when given): the guard is weaker from then on, and someone should know.
bool CheckFetchedCatalogue(const CatalogueTrustSettings& settings, CCurlWrapper& curl,
                           const std::wstring& catalogueUrl, std::string_view catalogue,
                           std::chrono::system_clock::time_point now,
                           const std::atomic<bool>* stop = nullptr, Failure* failure = nullptr,
                           Failure* recordFailure = nullptr);

// CheckFetchedCatalogue with the built-in settings, for the catalogue the flow just fetched (or
// its kept copy, keptCopy); stop is the check's Cancel.
bool CatalogueIsTrusted(UpdateFlow& flow, const std::wstring& catalogueUrl,
                        std::string_view catalogue, const std::atomic<bool>* stop, Failure* failure,
                        bool keptCopy = false);

// The lines --version adds: the policy and the key ids ("signature policy: require",
// "catalogue key: 0123456789ABCDEF").
std::string DescribeCatalogueTrust(const CatalogueTrustSettings& settings);
