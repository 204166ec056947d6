#include "transfer/delta_fetch.h"

#include <cstdio>
#include <cwchar>
#include <utility>

#include "platform/file_identity.h"
#include "text/log.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/delta_apply.h"
#include "transfer/digest_cache.h"
#include "transfer/download_path.h"
#include "transfer/entry_fetch.h"
#include "transfer/worker_messages.h"

namespace {

// In the progress line's own unit, so the two lines read alike; a size below a megabyte (a
// delta often is) in kilobytes, where it does not read as nothing.
std::wstring Megabytes(std::int64_t bytes) {
    wchar_t text[32];
    const double value = static_cast<double>(bytes) / 1024.0;
    if (bytes < 1024)
        std::swprintf(text, sizeof text / sizeof text[0], L"%lld B", static_cast<long long>(bytes));
    else if (value < 1024.0)
        std::swprintf(text, sizeof text / sizeof text[0], L"%.1f KB", value);
    else
        std::swprintf(text, sizeof text / sizeof text[0], L"%.2f MB", value / 1024.0);
    return text;
}

// The delta's own file and the result's, named by the delta's digest: a delta cut short in one
// run is resumed by the next, and two entries never share a name.
std::wstring DeltaName(const DeltaEntry& delta) {
    return kReservedNamePrefix + delta.md5 + L".zst";
}
std::wstring ResultName(const DeltaEntry& delta) {
    return kReservedNamePrefix + delta.md5 + L".out";
}

// The base, opened below the game folder without following a link, as a regular file with the
// listed size and MD5 (from the digest cache when it can be trusted). Null, with the reason,
// otherwise.
platform::UniqueFile OpenBase(DownloadThreadData& data, const platform::TrustedFolder& gameRoot,
                              const DeltaEntry& delta, std::string& reason) {
    std::wstring relative;
    PathRefusal refusal = PathRefusal::kNone;
    if (!BuildDownloadPath(std::wstring(), delta.base, relative, &refusal)) {
        reason = "base path refused";
        return nullptr;
    }
    if (!gameRoot.IsOpen()) {
        reason = "no game folder";
        return nullptr;
    }
    Failure failure;
    platform::UniqueFile base = gameRoot.OpenFile(relative, platform::FileAccess::kRead, &failure);
    if (base == nullptr) {
        reason = failure.cause == FailureClass::kNotRegularFile ? "base not a regular file"
                 : failure.cause == FailureClass::kUnsafePath   ? "base path unsafe"
                                                                : "no base";
        return nullptr;
    }
    platform::FileIdentity identity;
    if (!platform::ReadOpenFileIdentity(base.get(), identity) || identity.size != delta.base_size) {
        reason = "different base (size)";
        return nullptr;
    }
    const FileDigestTexts digests =
        data.digestCache != nullptr
            ? CachedOpenFileDigests(*data.digestCache, base.get(), false, &data.stop)
            : FileDigests(base.get(), false, &data.stop);
    if (digests.md5 != delta.base_md5) {
        reason = "different base (md5)";
        return nullptr;
    }
    return base;
}

void Announce(const DownloadThreadData& data, const DownloadEntry& entry, const DeltaEntry& delta) {
    if (data.page_window == nullptr)
        return;
    data.page_window->Post(
        WM_DL_SETTEXT, 0, 1,
        FormatMessageText(LoadMessage(kMsgDeltaFile),
                          {entry.target, Megabytes(delta.size), Megabytes(entry.size)}));
}

// Applies the fetched delta into the result file and puts the result in the target's place.
bool Build(DownloadThreadData& data, const platform::TrustedFolder& root,
           const DownloadEntry& entry, const std::wstring& relative, const DeltaEntry& delta,
           std::FILE* base, std::string& reason) {
    const std::wstring deltaName = DeltaName(delta);
    const std::wstring resultName = ResultName(delta);
    Failure failure;
    platform::UniqueFile deltaFile =
        root.OpenFile(deltaName, platform::FileAccess::kRead, &failure);
    root.RemoveFile(resultName);
    platform::UniqueFile result =
        root.OpenFile(resultName, platform::FileAccess::kCreateNewReadWrite, &failure);
    if (deltaFile == nullptr || result == nullptr) {
        reason = "cannot open: " + DescribeFailure(failure);
        return false;
    }
    const bool withSha256 = !entry.sha256.empty();
    const DeltaApplied applied =
        ApplyDelta(base, delta.base_size, deltaFile.get(), result.get(), entry.size, withSha256);
    platform::FileIdentity identity;
    const bool known = platform::ReadOpenFileIdentity(result.get(), identity);
    const bool closed = platform::CloseFile(result, &failure);
    if (!applied.Succeeded()) {
        reason = DeltaRefusalText(applied.refusal);
        if (!applied.detail.empty())
            reason += " (" + applied.detail + ")";
    } else if (!MatchEntry(entry, applied.digests, identity.size).All()) {
        reason = "result does not match";
    } else if (!known || !closed) {
        reason = "cannot write: " + DescribeFailure(failure);
    } else if (!root.MoveFile(resultName, relative, &failure)) {
        reason = "cannot put in place: " + DescribeFailure(failure);
    } else {
        // Renaming moves the change time; the file is the same one when nothing else about it
        // moved, and only then does this run's record of its digests hold.
        platform::UniqueFile placed = root.OpenFile(relative, platform::FileAccess::kRead);
        platform::FileIdentity now;
        data.written.Forget(relative);
        if (placed != nullptr && platform::ReadOpenFileIdentity(placed.get(), now) &&
            now.device == identity.device && now.inode == identity.inode &&
            now.size == identity.size && now.modifiedNs == identity.modifiedNs)
            data.written.Record(relative, now, applied.digests);
        return true;
    }
    root.RemoveFile(resultName);
    return false;
}

// One delta: its base checked, the delta fetched and checked, then applied.
DeltaOutcome TryDelta(DownloadThreadData& data, const platform::TrustedFolder& gameRoot,
                      const platform::TrustedFolder& root, const DownloadEntry& entry,
                      const std::wstring& relative, const DeltaEntry& delta, std::string& reason) {
    platform::UniqueFile base = OpenBase(data, gameRoot, delta, reason);
    if (WorkerStopped(data))
        return DeltaOutcome::kStop;
    if (base == nullptr)
        return DeltaOutcome::kNone;

    Announce(data, entry, delta);
    // The delta travels as a file of its own: the progress line names the entry it is for.
    DownloadEntry file;
    file.url = delta.url;
    file.target = entry.target;
    file.md5 = delta.md5;
    file.size = delta.size;
    const std::wstring deltaName = DeltaName(delta);
    Failure failure;
    const EntryOutcome fetched = FetchEntry(data, root, file, deltaName, &failure);
    if (fetched == EntryOutcome::kStop || WorkerStopped(data))
        return DeltaOutcome::kStop;
    bool built = false;
    if (failure.IsFailure()) {
        reason = "delta not fetched: " + DescribeFailure(failure);
    } else if (!EntryInPlace(data, root, file, deltaName, delta.size)) {
        reason = "delta has the wrong digest";
    } else {
        built = Build(data, root, entry, relative, delta, base.get(), reason);
    }
    root.RemoveFile(deltaName);
    return built ? DeltaOutcome::kBuilt : DeltaOutcome::kFellBack;
}

}  // namespace

std::wstring DeltaSummaryLine(const DeltaTally& deltas) {
    return FormatMessageText(LoadMessage(kMsgDeltaTotal),
                             {Megabytes(deltas.fetchedBytes), Megabytes(deltas.fileBytes),
                              std::to_wstring(deltas.built)});
}

std::string DescribeDeltas(const DeltaTally& deltas) {
    std::string text = std::to_string(deltas.built) + " built, " + std::to_string(deltas.fellBack) +
                       " fell back, " + std::to_string(deltas.fetchedBytes) + " of " +
                       std::to_string(deltas.fileBytes) + " bytes fetched";
    if (!deltas.firstReason.empty())
        text += "; first fall-back: " + deltas.firstReason;
    return text;
}

bool IsReservedTarget(const std::wstring& target) {
    return target.rfind(kReservedNamePrefix, 0) == 0;
}

DeltaOutcome FetchByDelta(DownloadThreadData& data, const platform::TrustedFolder& gameRoot,
                          const platform::TrustedFolder& root, const DownloadEntry& entry,
                          const std::wstring& relative, std::string& reason) {
    reason.clear();
    if (entry.deltas.empty() || entry.size <= 0)
        return DeltaOutcome::kNone;
    platform::EntryStatus status;
    if (root.Stat(relative, status) && status.kind == platform::EntryKind::kRegularFile &&
        status.size == entry.size && EntryInPlace(data, root, entry, relative))
        return DeltaOutcome::kNone;
    if (WorkerStopped(data))
        return DeltaOutcome::kStop;

    // A base that is not in place is no failure of the delta: the next delta may fit, and with
    // none the file comes whole, as it always has.
    std::string firstMiss;
    for (const DeltaEntry& delta : entry.deltas) {
        std::string why;
        const DeltaOutcome outcome = TryDelta(data, gameRoot, root, entry, relative, delta, why);
        if (outcome == DeltaOutcome::kBuilt) {
            LogLine("delta: %s built from %s, %lld bytes fetched for %lld",
                    LogText(entry.target).c_str(), LogText(delta.base).c_str(),
                    static_cast<long long>(delta.size), static_cast<long long>(entry.size));
            return outcome;
        }
        if (outcome == DeltaOutcome::kStop)
            return outcome;
        if (outcome == DeltaOutcome::kFellBack) {
            reason = why;
            LogLine("delta: %s falls back to the whole file: %s", LogText(entry.target).c_str(),
                    why.c_str());
            // The page said the file comes as a delta; it must not go on saying so.
            if (data.page_window != nullptr) {
                data.page_window->Post(
                    WM_DL_SETTEXT, 0, 1,
                    FormatMessageText(LoadMessage(kMsgDeltaFellBack), {entry.target}));
            }
            return outcome;
        }
        if (firstMiss.empty())
            firstMiss = why;
    }
    reason = firstMiss;
    LogLine("delta: %s comes whole: %s", LogText(entry.target).c_str(), firstMiss.c_str());
    return DeltaOutcome::kFellBack;
}
