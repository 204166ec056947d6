#include "transfer/verify.h"

#include "text/log.h"

#include <cerrno>
#include <cstdio>

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "text/utf8.h"
#include "transfer/download_path.h"

namespace {

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

// What a digest that does not match says about the file: a sentinel names a file that could not
// be read at all, anything else is a file with other bytes.
Failure MismatchFailure(const std::wstring& listed, const std::wstring& actual,
                        const std::wstring& target) {
    if (actual == kOpenErrorDigest || actual == kReadErrorDigest)
        return MakeFailure(FailureClass::kUnreadable, 0,
                           actual == kOpenErrorDigest ? "could not be opened" : "could not be read",
                           target);
    return MakeFailure(FailureClass::kDigestMismatch, 0,
                       "listed " + WideToUtf8(listed) + ", found " + WideToUtf8(actual), target);
}

// Records the cause (when asked for) and gives the verdict it stands for. Verification only
// reads: a system call that failed here failed to read, and is never told as a failed write.
bool Fail(Failure* out, Failure failure) {
    if (failure.cause == FailureClass::kSystem)
        failure.cause = FailureClass::kUnreadable;
    if (out != nullptr)
        *out = std::move(failure);
    return false;
}

// The digests of the file at relative below root (path is the same file as a whole path).
using EntryDigestFunction = std::function<FileDigestTexts(
    const platform::TrustedFolder& root, const std::wstring& relative, const std::wstring& path,
    bool withSha256, const std::atomic<bool>* stop)>;

FileDigestTexts DigestBelow(const platform::TrustedFolder& root, const std::wstring& relative,
                            bool withSha256, const std::atomic<bool>* stop,
                            const KnownDigests& known) {
    platform::UniqueFile file = root.OpenFile(relative, platform::FileAccess::kRead);
    if (file == nullptr)
        return FileDigests(static_cast<std::FILE*>(nullptr), withSha256, stop);
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return DigestsOfOpenFile(file.get(), relative, withSha256, known, stop);
}

bool VerifyBelow(const PatchEntry* patch, const std::wstring& folder,
                 const EntryDigestFunction& digest, const std::atomic<bool>* stop,
                 Failure* failure) {
    if (failure != nullptr)
        *failure = Failure{};
    if (patch == nullptr)
        return false;
    // Every file is reached from this one open folder, without following a link below it.
    platform::TrustedFolder root;
    Failure rootFailure;
    const bool rootOpen = root.Open(folder, &rootFailure);
    for (const auto& entry : patch->download_list) {
        if (Stopped(stop))
            return Fail(failure, MakeFailure(FailureClass::kStopped));
        if (!entry)
            return Fail(failure, MakeFailure(FailureClass::kUnsafePath, 0, "empty entry"));
        std::wstring path;
        if (!BuildDownloadPath(folder, entry->target, path))
            return Fail(failure, MakeFailure(FailureClass::kUnsafePath, 0, {}, entry->target));
        std::wstring relative;
        BuildDownloadPath(std::wstring(), entry->target, relative);
        if (!rootOpen) {
            rootFailure.subject = entry->target;
            return Fail(failure, std::move(rootFailure));
        }
        platform::EntryStatus status;
        Failure statFailure;
        if (!root.Stat(relative, status, &statFailure)) {
            statFailure.subject = entry->target;
            return Fail(failure, std::move(statFailure));
        }
        if (status.kind == platform::EntryKind::kMissing)
            return Fail(failure, SystemFailure(ENOENT, entry->target));
        if (status.kind != platform::EntryKind::kRegularFile)
            return Fail(failure, MakeFailure(FailureClass::kNotRegularFile, 0, {}, entry->target));
        // A listed sha256 must match as well as the MD5; without one the entry is checked as
        // catalogues without it always were.
        const bool withSha256 = !entry->sha256.empty();
        const FileDigestTexts actual = digest(root, relative, path, withSha256, stop);
        // A stop raised while this file was read may still have let it finish with the right
        // digest; the stop wins all the same, so a cancelled check never reads as passed.
        if (Stopped(stop))
            return Fail(failure, MakeFailure(FailureClass::kStopped, 0, {}, entry->target));
        const EntryMatch match = MatchEntry(*entry, actual);
        LogLine("digest: %s md5 %s, listed %s: %s", LogText(entry->target).c_str(),
                LogText(actual.md5).c_str(), LogText(entry->md5).c_str(),
                match.md5 && match.sha256 ? "matches" : "does not match");
        if (!match.md5)
            return Fail(failure, MismatchFailure(entry->md5, actual.md5, entry->target));
        if (!match.sha256)
            return Fail(failure, MismatchFailure(entry->sha256, actual.sha256, entry->target));
    }
    if (Stopped(stop))
        return Fail(failure, MakeFailure(FailureClass::kStopped));
    return true;
}

}  // namespace

bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const std::atomic<bool>* stop, Failure* failure) {
    return VerifyDownloadList(patch, folder, KnownDigests{}, stop, failure);
}

bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const KnownDigests& known, const std::atomic<bool>* stop,
                        Failure* failure) {
    return VerifyBelow(
        patch, folder,
        [&known](const platform::TrustedFolder& root, const std::wstring& relative,
                 const std::wstring&, bool withSha256, const std::atomic<bool>* stopFlag) {
            return DigestBelow(root, relative, withSha256, stopFlag, known);
        },
        stop, failure);
}

bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const FileDigestFunction& digest, const std::atomic<bool>* stop,
                        Failure* failure) {
    return VerifyBelow(
        patch, folder,
        [&digest](const platform::TrustedFolder&, const std::wstring&, const std::wstring& path,
                  bool withSha256,
                  const std::atomic<bool>* stopFlag) { return digest(path, withSha256, stopFlag); },
        stop, failure);
}
