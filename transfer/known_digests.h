#pragma once
// Where the download worker may take a file's digests from without reading the file: its own
// record of what it wrote in this run, and the digest cache kept between runs.

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "transfer/digest_cache.h"
#include "transfer/file_digests.h"

// The digests of the files this run wrote, each with the identity the file had right after its
// last byte was written. Only a transfer that succeeded, whose every byte went through the
// run's own write path and was digested on its way, leaves a record; the file is then known to
// hold exactly those bytes for as long as its identity stays the same.
class WrittenDigests {
  public:
    void Record(const std::wstring& relative, const platform::FileIdentity& identity,
                const FileDigestTexts& digests);
    void Forget(const std::wstring& relative);
    // The digests recorded for relative when identity is exactly the recorded one (and they
    // hold a SHA-256 when one is asked for).
    bool Find(const std::wstring& relative, const platform::FileIdentity& identity, bool withSha256,
              FileDigestTexts& digests) const;
    bool Empty() const { return m_entries.empty(); }

  private:
    struct Entry {
        platform::FileIdentity identity;
        FileDigestTexts digests;
    };
    std::map<std::wstring, Entry> m_entries;
};

struct KnownDigests {
    const WrittenDigests* written = nullptr;
    // Disabled or missing: every file not in written is read.
    DigestCache* cache = nullptr;
    // When given, receives the relative path of every file that had to be read, in order.
    std::vector<std::wstring>* reads = nullptr;
};

// The digests of the file at relative, open for reading and not yet read: this run's record
// when the open file is in the recorded state; else the cache's trusted entry for it; else the
// file is read (and remembered in the cache, CachedOpenFileDigests). In FileDigests' form.
FileDigestTexts DigestsOfOpenFile(std::FILE* file, const std::wstring& relative, bool withSha256,
                                  const KnownDigests& known,
                                  const std::atomic<bool>* stop = nullptr);
