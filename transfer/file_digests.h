#pragma once
// The MD5 and SHA-256 digests of one file from a single read: a patch file that lists both is
// read from the disk once, not twice.

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

struct FileDigestTexts {
    std::wstring md5;     // 32 lower-case hex digits, or a sentinel
    std::wstring sha256;  // 64 lower-case hex digits, a sentinel, or empty when not asked for
};

// Reads the file once and feeds every block to MD5 and, when withSha256, to SHA-256. On
// failure each asked-for text is the sentinel CMD5Wrapper::FileHashW gives ("open__error",
// "read__error", or "stop__error" once stop is raised; stop is polled before every read), so a
// caller that only compares with the catalogue stays correct.
FileDigestTexts FileDigests(const std::wstring& path, bool withSha256,
                            const std::atomic<bool>* stop = nullptr);

// The same over a file the caller has opened (through platform::TrustedFolder, say), read from
// its current position to its end; the caller keeps and closes it. A null file gives
// "open__error".
FileDigestTexts FileDigests(std::FILE* file, bool withSha256,
                            const std::atomic<bool>* stop = nullptr);
// Where a caller takes a file's digests from, in FileDigests' form: the verification and the
// digest cache take one, so that a test can see which files were really read, and in which
// order.
using FileDigestFunction = std::function<FileDigestTexts(const std::wstring& path, bool withSha256,
                                                         const std::atomic<bool>* stop)>;
