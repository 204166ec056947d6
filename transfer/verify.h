#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "text/failure.h"
#include "transfer/file_digests.h"
#include "transfer/known_digests.h"

struct PatchEntry;

// True when every file of the patch's download list exists below folder and has the listed
// digest (exact, case-sensitive), and the listed sha256 too when the entry has one (both come
// from one read of the file); an empty list passes. Stops at the first failing entry.
// When stop is given and raised, verification ends early and reports false. An entry whose
// target cannot be placed inside folder (BuildDownloadPath) fails; a null patch fails. Every
// file is reached from folder down without following a link (platform::TrustedFolder) and read
// on that open file: a link, FIFO or folder at a target fails as kNotRegularFile, a link on
// the way to it as kUnsafePath.
//
// failure, when given, is emptied first and on false names the first failing entry's target
// as subject: kDigestMismatch (the file's digest is not the listed one; detail: both digests),
// kUnreadable (the file is missing: ENOENT, or a system call on the way failed: its errno; it
// could not be opened or read: code 0), kUnsafePath (the target cannot be placed inside
// the folder, or the entry is empty, or a link stands on the way), kNotRegularFile (anything
// but a regular file at the target), kStopped (stop was raised). A null patch has no entry to
// name and leaves it empty.
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const std::atomic<bool>* stop = nullptr, Failure* failure = nullptr);

// The same with the digests of a file supplied by the caller (FileDigestFunction).
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const FileDigestFunction& digest, const std::atomic<bool>* stop,
                        Failure* failure = nullptr);

// The same, with a file's digests taken from known where it holds them for the file as it is
// now (DigestsOfOpenFile: the run's record of its own write, the digest cache), else read from
// the open file. The verdict and the cause are the ones reading every file would give.
bool VerifyDownloadList(const PatchEntry* patch, const std::wstring& folder,
                        const KnownDigests& known, const std::atomic<bool>* stop,
                        Failure* failure = nullptr);
