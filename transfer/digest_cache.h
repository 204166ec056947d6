#pragma once
// Digests of files remembered between runs, so that an unchanged file is not read again.
//
// An entry belongs to one state of one file (platform::FileIdentity) and is trusted only when
// it was recorded at least kRacyWindowNs after the file's last change: a write that lands in
// the same timestamp tick as the one before it leaves the times untouched, so a digest taken
// that close to a change may describe bytes that are gone. No entry is trusted for a file on
// a file system that does not keep a change time of its own (FileIdentity::changeTimeKept):
// such a file is read every time. Anything else about the cache that
// is off (no folder, a read-only one, a damaged or foreign file, a disabled cache) costs a read
// of the file and never changes a result.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/file_identity.h"
#include "text/failure.h"
#include "transfer/file_digests.h"

// The wall clock in ns since 1970, the scale of the file times.
std::int64_t WallClockNs();

class DigestCache {
  public:
    // The entries kept at most; beyond it the entry recorded longest ago is dropped.
    static constexpr std::size_t kMaxEntries = 4096;
    // Coarser than the timestamps of every file system the game may live on (FAT: 2 s).
    static constexpr std::int64_t kRacyWindowNs = 2'000'000'000;

    using Clock = std::function<std::int64_t()>;

    // A cache kept in the file at path; an empty path makes a disabled cache, which finds and
    // keeps nothing. clock gives the recording times (tests move it).
    explicit DigestCache(std::wstring path, Clock clock = WallClockNs);
    DigestCache(const DigestCache&) = delete;
    DigestCache& operator=(const DigestCache&) = delete;

    bool IsEnabled() const { return !m_path.empty(); }
    const std::wstring& Path() const { return m_path; }
    std::int64_t Now() const { return m_clock(); }

    // Replaces the entries with those of the file. False when it is missing, or damaged,
    // foreign or too large; the cache is then empty, and a file that was there but unusable
    // is rewritten by the next Save.
    bool Load();
    // Writes the entries when they changed since Load: into a new file beside the cache file,
    // then renamed over it. False, with the cause, when that cannot be done; nothing else
    // depends on it.
    bool Save(Failure* failure = nullptr);

    // The digests recorded for exactly this state of the file, when that record is trusted:
    // the MD5 always, the SHA-256 when it was recorded (else empty).
    bool LookUp(const platform::FileIdentity& identity, FileDigestTexts& digests) const;
    // Records the digests of the file in the given state. startedNs is the wall clock taken
    // before the identity was read and the first byte hashed. False when nothing is kept: a
    // disabled cache, a digest that is no digest (an error text), or a record so close to
    // the file's last change that LookUp would not trust it.
    bool Remember(const platform::FileIdentity& identity, const FileDigestTexts& digests,
                  std::int64_t startedNs);

    std::size_t Size() const;

  private:
    struct Entry {
        platform::FileIdentity identity;
        std::int64_t recordedNs = 0;
        FileDigestTexts digests;
    };
    // One entry per file: a newer state of the same inode replaces the older one.
    using Key = std::pair<std::uint64_t, std::uint64_t>;

    bool Parse(const std::string& text);
    std::string Serialise() const;
    void DropOldest();

    const std::wstring m_path;
    const Clock m_clock;
    mutable std::mutex m_mutex;
    std::map<Key, Entry> m_entries;
    bool m_dirty = false;
};

// $XDG_CACHE_HOME/velmora-launcher/digests (else ~/.cache/velmora-launcher/digests); empty
// when no cache folder can be named, which gives a disabled cache.
std::wstring UserDigestCachePath();

// The file's digests exactly as FileDigests(path, withSha256, stop) gives them, but taken from
// the cache when a trusted entry matches the file's present identity (and holds a SHA-256 when
// one is asked for), so the file is not read. Otherwise digest (default: FileDigests) reads
// it, and the result is remembered when the file kept one identity across the whole read.
// Links, folders and missing files go straight to digest, uncached.
FileDigestTexts CachedFileDigests(DigestCache& cache, const std::wstring& path, bool withSha256,
                                  const std::atomic<bool>* stop = nullptr,
                                  const FileDigestFunction& digest = {});

// The same for a file the caller has opened for reading (below a folder, without following
// links: platform::TrustedFolder) and not yet read: the identity is that of the open file
// itself (fstat), so the entry found belongs to the very file the digests would be read from,
// whatever has become of its name. read, when given, tells whether the file was read (false:
// the digests came from the cache). A null file gives "open__error".
FileDigestTexts CachedOpenFileDigests(DigestCache& cache, std::FILE* file, bool withSha256,
                                      const std::atomic<bool>* stop = nullptr,
                                      bool* read = nullptr);

// The MD5 alone, as CMD5Wrapper::FileHashW(path, stop) gives it: hex text or an error text.
std::wstring CachedFileHash(DigestCache& cache, const std::wstring& path,
                            const std::atomic<bool>* stop = nullptr,
                            const FileDigestFunction& digest = {});
