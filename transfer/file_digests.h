#pragma once
// The MD5 and SHA-256 digests of one file from a single read: a patch file that lists both is
// read from the disk once, not twice.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "transfer/md5.h"
#include "transfer/sha256.h"

struct DownloadEntry;

struct FileDigestTexts {
    std::wstring md5;     // 32 lower-case hex digits, or a sentinel (md5.h)
    std::wstring sha256;  // 64 lower-case hex digits, a sentinel, or empty when not asked for
};

// Whether text (narrow or wide) is exactly digits lower-case hexadecimal digits: the one form
// in which this program writes a digest, and so the only one that can ever match one.
template <typename Text>
bool IsDigestText(const Text& text, std::size_t digits) {
    if (text.size() != digits)
        return false;
    for (const auto ch : text)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f')))
            return false;
    return true;
}

// Which parts of a file agree with the download entry that lists it.
struct EntryMatch {
    bool size = true;    // also when the size was not compared
    bool md5 = false;    // the computed MD5 is a digest and equals the listed text exactly
    bool sha256 = true;  // the same for the SHA-256; also when the entry lists none
    bool All() const { return size && md5 && sha256; }
};

// The one rule for whether a file is the file entry lists, from its digests (FileDigests'
// form) and, when given, its size in bytes. The comparison is of texts, exact and
// case-sensitive, and only a digest can match: a sentinel never does, whatever the entry lists,
// and neither does a listed digest written in any other form (upper case, blanks, too short).
// A SHA-256 counts only when the entry lists one, and then it must have been computed.
EntryMatch MatchEntry(const DownloadEntry& entry, const FileDigestTexts& digests,
                      std::optional<std::int64_t> size = std::nullopt);

// The MD5 and, when asked for, the SHA-256 of the bytes fed so far. Texts can be taken at any
// point without ending the digests, so the part of a file already on disk is read once and its
// digests go on with the bytes that are appended to it.
class RunningDigests {
  public:
    RunningDigests() = default;
    explicit RunningDigests(bool withSha256) : m_withSha256(withSha256) {}

    bool WithSha256() const { return m_withSha256; }
    // Bytes fed so far.
    std::int64_t Bytes() const { return m_bytes; }

    void Feed(const unsigned char* data, std::size_t length);
    // The same in three parts, for a caller that feeds the two digests on threads of their
    // own: each must see every byte in order, and Count once per block.
    void FeedMd5(const unsigned char* data, std::size_t length);
    void FeedSha256(const unsigned char* data, std::size_t length);
    void Count(std::size_t length) { m_bytes += static_cast<std::int64_t>(length); }

    // The digests of the bytes so far, in FileDigests' form (sha256 empty unless asked for).
    FileDigestTexts Texts() const;

  private:
    md5wrapper m_md5;
    Sha256Digest m_sha256;
    bool m_withSha256 = false;
    std::int64_t m_bytes = 0;
};

// Feeds digests with the file from its current position to its end. nullptr when every byte
// was fed, else the sentinel that tells why not (kReadErrorDigest, or kStopErrorDigest once
// stop is raised; it is polled before every read); digests then holds part of the file and is
// of no use.
const wchar_t* FeedFile(std::FILE* file, RunningDigests& digests,
                        const std::atomic<bool>* stop = nullptr);

// Reads the file once and feeds every block to MD5 and, when withSha256, to SHA-256. On
// failure each asked-for text is the sentinel CMD5Wrapper::FileHashW gives (kOpenErrorDigest,
// kReadErrorDigest, or kStopErrorDigest once stop is raised; stop is polled before every read).
FileDigestTexts FileDigests(const std::wstring& path, bool withSha256,
                            const std::atomic<bool>* stop = nullptr);

// The same over a file the caller has opened (through platform::TrustedFolder, say), read from
// its current position to its end; the caller keeps and closes it. A null file gives
// kOpenErrorDigest.
FileDigestTexts FileDigests(std::FILE* file, bool withSha256,
                            const std::atomic<bool>* stop = nullptr);
// Where a caller takes a file's digests from, in FileDigests' form: the verification and the
// digest cache take one, so that a test can see which files were really read, and in which
// order.
using FileDigestFunction = std::function<FileDigestTexts(const std::wstring& path, bool withSha256,
                                                         const std::atomic<bool>* stop)>;
