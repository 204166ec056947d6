#include "transfer/digest_cache.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/path.h"
#include "platform/platform.h"
#include "platform/user_folders.h"
#include "text/utf8.h"

namespace {

// The first line names the format; a file that starts otherwise is someone else's, or ours
// from a version that wrote a different layout, and is not read.
constexpr std::string_view kMagicLine = "velmora-launcher digest cache 1";
// The last line repeats the entry count, so a file cut at a line boundary is noticed too.
constexpr std::string_view kEndWord = "end";
// Far above what kMaxEntries lines take (each under 250 bytes); a bigger file is not ours.
constexpr std::size_t kMaxFileBytes = 2 * 1024 * 1024;
constexpr wchar_t kCacheFileName[] = L"digests";

bool IsValidDigests(const FileDigestTexts& digests) {
    return IsDigestText(digests.md5, 32) &&
           (digests.sha256.empty() || IsDigestText(digests.sha256, 64));
}

// An entry is trusted only when the file had stood still for the whole window before the
// digest began; a change time in the future (a clock set back since) never qualifies.
bool IsTrusted(const platform::FileIdentity& identity, std::int64_t recordedNs) {
    // Where the times do not move with the content, no age of a record makes it true.
    if (!identity.changeTimeKept)
        return false;
    const std::int64_t lastChange = std::max(identity.modifiedNs, identity.changedNs);
    if (lastChange > std::numeric_limits<std::int64_t>::max() - DigestCache::kRacyWindowNs)
        return false;
    return recordedNs >= lastChange + DigestCache::kRacyWindowNs;
}

template <typename Number>
bool ParseNumber(std::string_view word, Number& value) {
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value);
    return !word.empty() && result.ec == std::errc() && result.ptr == end;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at <= line.size()) {
        const std::size_t space = std::min(line.find(' ', at), line.size());
        words.push_back(line.substr(at, space - at));
        at = space + 1;
    }
    return words;
}

std::wstring Widen(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string Narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

bool ReadWholeFile(const std::wstring& path, std::string& text) {
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    if (!file)
        return false;
    text.clear();
    char block[64 * 1024];
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, file.get());
        text.append(block, got);
        if (text.size() > kMaxFileBytes)
            return false;
        if (got < sizeof block)
            return !std::ferror(file.get());
    }
}

}  // namespace

std::int64_t WallClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

DigestCache::DigestCache(std::wstring path, Clock clock)
    : m_path(std::move(path)), m_clock(clock ? std::move(clock) : Clock(WallClockNs)) {}

bool DigestCache::Load() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_dirty = false;
    if (!IsEnabled())
        return false;
    // Only a regular file is opened: a FIFO planted in its place would block the start.
    platform::FileIdentity identity;
    Failure failure;
    if (!platform::ReadFileIdentity(m_path, identity, &failure)) {
        m_dirty = failure.cause == FailureClass::kNotRegularFile;
        return false;
    }
    std::string text;
    if (!ReadWholeFile(m_path, text)) {
        // A file that is there but unreadable or oversized is replaced by the next Save.
        m_dirty = true;
        return false;
    }
    if (!Parse(text)) {
        m_entries.clear();
        m_dirty = true;
        return false;
    }
    return true;
}

bool DigestCache::Parse(const std::string& text) {
    if (text.empty() || text.back() != '\n')
        return false;
    std::vector<std::string_view> lines;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        lines.push_back(rest.substr(0, newline));
        rest.remove_prefix(newline + 1);
    }
    if (lines.size() < 2 || lines.front() != kMagicLine)
        return false;
    const std::vector<std::string_view> end = SplitWords(lines.back());
    std::size_t count = 0;
    if (end.size() != 2 || end[0] != kEndWord || !ParseNumber(end[1], count) ||
        count != lines.size() - 2 || count > kMaxEntries)
        return false;

    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::vector<std::string_view> words = SplitWords(lines[i]);
        if (words.size() != 8)
            return false;
        Entry entry;
        platform::FileIdentity& id = entry.identity;
        if (!ParseNumber(words[0], id.device) || !ParseNumber(words[1], id.inode) ||
            !ParseNumber(words[2], id.size) || id.size < 0 ||
            !ParseNumber(words[3], id.modifiedNs) || !ParseNumber(words[4], id.changedNs) ||
            !ParseNumber(words[5], entry.recordedNs))
            return false;
        if (!IsDigestText(words[6], 32) || (words[7] != "-" && !IsDigestText(words[7], 64)))
            return false;
        entry.digests.md5 = Widen(words[6]);
        if (words[7] != "-")
            entry.digests.sha256 = Widen(words[7]);
        // The writer never puts two entries for one file; a file that does is not its work.
        if (!m_entries.emplace(Key(id.device, id.inode), std::move(entry)).second)
            return false;
    }
    return true;
}

std::string DigestCache::Serialise() const {
    // Oldest first, so that the file reads as a history.
    std::vector<const Entry*> order;
    order.reserve(m_entries.size());
    for (const auto& [key, entry] : m_entries)
        order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(),
                     [](const Entry* a, const Entry* b) { return a->recordedNs < b->recordedNs; });

    std::string text(kMagicLine);
    text += '\n';
    for (const Entry* entry : order) {
        const platform::FileIdentity& id = entry->identity;
        text += std::to_string(id.device) + ' ' + std::to_string(id.inode) + ' ' +
                std::to_string(id.size) + ' ' + std::to_string(id.modifiedNs) + ' ' +
                std::to_string(id.changedNs) + ' ' + std::to_string(entry->recordedNs) + ' ' +
                Narrow(entry->digests.md5) + ' ' +
                (entry->digests.sha256.empty() ? std::string("-") : Narrow(entry->digests.sha256)) +
                '\n';
    }
    text += std::string(kEndWord) + ' ' + std::to_string(order.size()) + '\n';
    return text;
}

bool DigestCache::Save(Failure* failure) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsEnabled() || !m_dirty)
        return true;
    if (!platform::WriteFileAtomically(m_path, Serialise(), failure))
        return false;
    m_dirty = false;
    return true;
}

bool DigestCache::LookUp(const platform::FileIdentity& identity, FileDigestTexts& digests) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(Key(identity.device, identity.inode));
    if (found == m_entries.end() || found->second.identity != identity ||
        !IsTrusted(identity, found->second.recordedNs))
        return false;
    digests = found->second.digests;
    return true;
}

bool DigestCache::Remember(const platform::FileIdentity& identity, const FileDigestTexts& digests,
                           std::int64_t startedNs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsEnabled() || !IsValidDigests(digests))
        return false;
    const Key key(identity.device, identity.inode);
    const auto found = m_entries.find(key);
    if (!IsTrusted(identity, startedNs)) {
        // Whatever was known of this file describes an older state of it.
        if (found != m_entries.end() && found->second.identity != identity) {
            m_entries.erase(found);
            m_dirty = true;
        }
        return false;
    }
    if (found != m_entries.end() && found->second.identity == identity &&
        found->second.digests.md5 == digests.md5 &&
        (digests.sha256.empty() || digests.sha256 == found->second.digests.sha256)) {
        // Nothing new: a run that only confirms what is known writes no file.
        return true;
    }
    Entry entry{identity, startedNs, digests};
    m_entries[key] = std::move(entry);
    m_dirty = true;
    if (m_entries.size() > kMaxEntries)
        DropOldest();
    return true;
}

void DigestCache::DropOldest() {
    auto oldest = m_entries.begin();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->second.recordedNs < oldest->second.recordedNs)
            oldest = it;
    }
    if (oldest != m_entries.end())
        m_entries.erase(oldest);
}

std::size_t DigestCache::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

std::wstring UserDigestCachePath() {
    std::wstring folder, path;
    if (!platform::GetLauncherFolder(platform::kCacheFolder, folder) ||
        !platform::JoinPath(folder, kCacheFileName, path, platform::kMaxNativePathLength))
        return {};
    return path;
}

FileDigestTexts CachedFileDigests(DigestCache& cache, const std::wstring& path, bool withSha256,
                                  const std::atomic<bool>* stop, const FileDigestFunction& digest) {
    const auto hash = [&]() {
        return digest ? digest(path, withSha256, stop) : FileDigests(path, withSha256, stop);
    };
    if (!cache.IsEnabled())
        return hash();
    // The clock is read before anything of the file: a write after this moment lands in a
    // later timestamp tick than any change the entry could be trusted against.
    const std::int64_t started = cache.Now();
    platform::FileIdentity before;
    if (!platform::ReadFileIdentity(path, before))
        return hash();
    FileDigestTexts known;
    if (cache.LookUp(before, known) && (!withSha256 || !known.sha256.empty())) {
        if (!withSha256)
            known.sha256.clear();
        return known;
    }

    const FileDigestTexts texts = hash();
    platform::FileIdentity after;
    if (IsValidDigests(texts) && platform::ReadFileIdentity(path, after) && after == before)
        cache.Remember(before, texts, started);
    return texts;
}

FileDigestTexts CachedOpenFileDigests(DigestCache& cache, std::FILE* file, bool withSha256,
                                      const std::atomic<bool>* stop, bool* read) {
    if (read != nullptr)
        *read = file != nullptr;
    if (file == nullptr || !cache.IsEnabled())
        return FileDigests(file, withSha256, stop);
    // As in CachedFileDigests: the clock first, then the file.
    const std::int64_t started = cache.Now();
    platform::FileIdentity before;
    if (!platform::ReadOpenFileIdentity(file, before))
        return FileDigests(file, withSha256, stop);
    FileDigestTexts known;
    if (cache.LookUp(before, known) && (!withSha256 || !known.sha256.empty())) {
        if (!withSha256)
            known.sha256.clear();
        if (read != nullptr)
            *read = false;
        return known;
    }

    const FileDigestTexts texts = FileDigests(file, withSha256, stop);
    platform::FileIdentity after;
    if (IsValidDigests(texts) && platform::ReadOpenFileIdentity(file, after) && after == before)
        cache.Remember(before, texts, started);
    return texts;
}

std::wstring CachedFileHash(DigestCache& cache, const std::wstring& path,
                            const std::atomic<bool>* stop, const FileDigestFunction& digest) {
    return CachedFileDigests(cache, path, false, stop, digest).md5;
}
