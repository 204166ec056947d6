#include "transfer/known_digests.h"

void WrittenDigests::Record(const std::wstring& relative, const platform::FileIdentity& identity,
                            const FileDigestTexts& digests) {
    m_entries[relative] = Entry{identity, digests};
}

void WrittenDigests::Forget(const std::wstring& relative) {
    m_entries.erase(relative);
}

bool WrittenDigests::Find(const std::wstring& relative, const platform::FileIdentity& identity,
                          bool withSha256, FileDigestTexts& digests) const {
    const auto found = m_entries.find(relative);
    if (found == m_entries.end() || found->second.identity != identity ||
        (withSha256 && found->second.digests.sha256.empty()))
        return false;
    digests = found->second.digests;
    if (!withSha256)
        digests.sha256.clear();
    return true;
}

FileDigestTexts DigestsOfOpenFile(std::FILE* file, const std::wstring& relative, bool withSha256,
                                  const KnownDigests& known, const std::atomic<bool>* stop) {
    // No time window here, unlike the cache's: the record was made by this run right after
    // its own last write, and the file's state is compared now, in the same run. A change
    // that slips in unseen between that write and this look is no different from one made
    // just after the verification, and nothing trusts that moment for long: the installer's
    // check reads the file again before it is started.
    platform::FileIdentity identity;
    FileDigestTexts digests;
    if (known.written != nullptr && file != nullptr &&
        platform::ReadOpenFileIdentity(file, identity) &&
        known.written->Find(relative, identity, withSha256, digests))
        return digests;
    bool read = file != nullptr;
    digests = known.cache != nullptr
                  ? CachedOpenFileDigests(*known.cache, file, withSha256, stop, &read)
                  : FileDigests(file, withSha256, stop);
    if (read && known.reads != nullptr)
        known.reads->push_back(relative);
    return digests;
}
