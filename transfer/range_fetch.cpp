#include "transfer/range_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "text/log.h"
#include "text/utf8.h"
#include "transfer/delta_fetch.h"
#include "transfer/download_path.h"
#include "transfer/md5.h"
#include "transfer/progress_line.h"
#include "transfer/receive_digester.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;
// Ranges start on this grain, so a split never leaves a sliver.
constexpr std::int64_t kGrain = 64 * kKiB;
// A range is halved for an idle connection only while both halves keep this much.
constexpr std::int64_t kSmallestSplit = 256 * kKiB;
// The first connection fetches alone for this long; the others join only when at its speed the
// rest would take longer than kWorthJoining. On a fast link one connection is done before they
// could help, and keeping to it keeps the file in order for its digests.
constexpr auto kJoinAfter = std::chrono::milliseconds(250);
constexpr double kWorthJoiningSeconds = 1.0;
// The record is rewritten at most this often while bytes come (and whenever a range ends).
constexpr auto kRecordInterval = std::chrono::seconds(1);
// How much of what arrived ahead is read back for the digests in one go, so the connections are
// served again soon.
constexpr std::int64_t kCatchUpStep = 4 * kMiB;
constexpr std::size_t kReadBlock = 256 * 1024;
// A record with more spans than this was not written by this program.
constexpr std::size_t kMaxRecordSpans = 4096;
constexpr std::size_t kMaxRecordBytes = 128 * 1024;
constexpr char kRecordHeader[] = "velmora-ranges 1";

// The ranges handed out in order of place, each a sixteenth of what is to come, between the
// grain and 8 MiB: the file's start stays close behind the furthest byte (so the digests wait
// little at the end), and a large file still takes few requests.
std::int64_t PieceBytes(std::int64_t remaining) {
    const std::int64_t sixteenth = (remaining + 15) / 16;
    // Rounded up, so the last piece is the smaller one rather than a sliver of its own.
    return std::clamp<std::int64_t>((sixteenth + kGrain - 1) / kGrain * kGrain, kGrain, 8 * kMiB);
}

std::wstring OriginOf(const std::wstring& url) {
    const std::size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos)
        return url;
    const std::size_t path = url.find(L'/', scheme + 3);
    return path == std::wstring::npos ? url : url.substr(0, path);
}

bool Rangeless(const DownloadThreadData& data, const std::wstring& url) {
    return std::find(data.rangelessOrigins.begin(), data.rangelessOrigins.end(), OriginOf(url)) !=
           data.rangelessOrigins.end();
}

// The record's path: at the top of the download folder, written and read like the launcher's
// other small files.
std::wstring RecordPath(const DownloadThreadData& data, const std::wstring& relative) {
    std::wstring path;
    BuildDownloadPath(data.folder, RangeRecordName(relative), path);
    return path;
}

// Hands the file's gaps to the connections, writes what they bring at its place, and keeps the
// record and the digests up with it.
class Schedule final : public RangeSchedule {
  public:
    Schedule(DownloadThreadData& data, const DownloadEntry& entry, const std::wstring& relative, std::FILE* file, ByteSpans spans,
             std::vector<std::wstring> sources, std::size_t first, bool oneSource,
             ReceiveDigester* digester, std::int64_t digested)
        : m_data(data),
          m_entry(entry),
          m_record(RecordPath(data, relative)),
          m_file(file),
          m_done(std::move(spans)),
          m_sources(std::move(sources)),
          m_alive(m_sources.size(), false),
          m_used(m_sources.size(), false),
          m_piece(PieceBytes(entry.size - m_done.Total())),
          m_digester(digester),
          m_digested(digested) {
        // A source seen to ignore ranges serves none here.
        for (std::size_t i = first; i < m_sources.size() && (i == first || !oneSource); ++i)
            m_alive[i] = !Rangeless(data, m_sources[i]);
    }

    bool NextRange(std::size_t connection, RangeAssignment& range) override {
        if (connection >= kMaxConnections || m_failed)
            return false;
        // One range first: whether the server honours ranges at all is seen from its answer.
        if (!m_confirmed && AnyActive())
            return false;
        if (!m_spread && AnyActive()) {
            if (!WorthSpreading())
                return false;
            // The first connection asked for all it could; it keeps a piece of it, and the rest
            // goes out in pieces, in order.
            m_spread = true;
            for (Slot& other : m_slots)
                if (other.active && other.end - other.cursor > m_piece)
                    other.end = (other.cursor + m_piece + kGrain - 1) / kGrain * kGrain;
        }
        std::vector<std::size_t> alive;
        for (std::size_t i = 0; i < m_sources.size(); ++i)
            if (m_alive[i])
                alive.push_back(i);
        if (alive.empty())
            return false;
        Slot& slot = m_slots[connection];
        slot.source = alive[connection % alive.size()];
        if (!Unclaimed(slot.begin, slot.end) && !Split(slot.begin, slot.end))
            return false;
        slot.cursor = slot.begin;
        slot.active = true;
        range = RangeAssignment{slot.source, slot.begin, slot.end};
        if (LogEnabled())
            LogLine("download: %s: range %lld-%lld from %s", LogText(m_entry.target).c_str(),
                    static_cast<long long>(slot.begin), static_cast<long long>(slot.end - 1),
                    LogText(m_sources[slot.source]).c_str());
        return true;
    }

    std::size_t Received(std::size_t connection, const unsigned char* bytes,
                         std::size_t length) override {
        Slot& slot = m_slots[connection];
        if (!m_confirmed)
            m_firstByte = Clock::now();
        m_confirmed = true;
        if (m_data.stop.load(std::memory_order_acquire) || m_failed)
            return 0;
        const std::size_t taken =
            static_cast<std::size_t>(std::min<std::int64_t>(length, slot.end - slot.cursor));
        int error = 0;
        if (taken > 0 && !platform::WriteAt(m_file, slot.cursor, bytes, taken, error)) {
            m_writeFailure = SystemFailure(error, m_entry.target);
            m_failed = true;
            return 0;
        }
        m_done.Add(slot.cursor, slot.cursor + static_cast<std::int64_t>(taken));
        if (m_digester != nullptr && slot.cursor == m_digested) {
            m_digester->Written(bytes, taken);
            m_digested += static_cast<std::int64_t>(taken);
        }
        slot.cursor += static_cast<std::int64_t>(taken);
        m_received += static_cast<std::int64_t>(taken);
        if (taken > 0)
            m_used[slot.source] = true;
        CatchUp(m_digested + kCatchUpStep);
        SaveRecord(false);
        return taken;
    }

    bool RangeComplete(std::size_t connection) const override {
        const Slot& slot = m_slots[connection];
        return slot.cursor >= slot.end;
    }

    bool Ended(std::size_t connection, const Failure* cause) override {
        Slot& slot = m_slots[connection];
        slot.active = false;
        SaveRecord(true);
        if (cause == nullptr)
            return true;
        if (m_failed || cause->cause == FailureClass::kStopped)
            return false;
        // A source that serves no ranges is one for a single connection, for the rest of the
        // run.
        if (IsRangeRefusal(*cause)) {
            m_refusedBy = m_sources[slot.source];
            NoteRangeless(m_data, m_refusedBy);
        }
        // A source that fails leaves its ranges to the others while any is left.
        const std::size_t others = static_cast<std::size_t>(
            std::count(m_alive.begin(), m_alive.end(), true)) - (m_alive[slot.source] ? 1 : 0);
        if (SourceFault(*cause) && others > 0) {
            m_alive[slot.source] = false;
            if (LogEnabled())
                LogLine("%s: source %s failed (%s); its ranges go to the others, %lld bytes on "
                        "disk",
                        LogText(m_entry.target).c_str(), LogText(m_sources[slot.source]).c_str(),
                        DescribeFailure(*cause).c_str(), static_cast<long long>(m_done.Total()));
            return true;
        }
        m_failed = true;
        return false;
    }

    // Digests what of the file's start is not digested yet, up to limit.
    void CatchUp(std::int64_t limit) {
        const std::int64_t until = std::min(limit, m_done.PrefixEnd());
        // Made when first needed: a file fetched in order never reads anything back.
        if (m_digester != nullptr && m_digested < until && m_readBuffer == nullptr)
            m_readBuffer = std::make_unique<unsigned char[]>(kReadBlock);
        while (m_digester != nullptr && m_digested < until) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::int64_t>(kReadBlock, until - m_digested));
            const std::int64_t n = platform::ReadAt(m_file, m_digested, m_readBuffer.get(), want);
            if (n <= 0) {
                m_digester = nullptr;  // the digests are not known; the file is read later
                break;
            }
            m_digester->Written(m_readBuffer.get(), static_cast<std::size_t>(n));
            m_digested += n;
        }
    }

    void SaveRecord(bool now) {
        const Clock::time_point at = Clock::now();
        if (!now && at - m_saved < kRecordInterval)
            return;
        m_saved = at;
        if (!platform::WriteFileAtomically(
                m_record, FormatRangeRecord(m_done, m_entry.size, m_entry.md5)))
            LogLine("%s: the record of its ranges cannot be written",
                    LogText(m_entry.target).c_str());
    }

    bool Whole() const { return m_done.PrefixEnd() >= m_entry.size; }
    std::int64_t PrefixEnd() const { return m_done.PrefixEnd(); }
    bool Digested() const { return m_digester != nullptr && m_digested == m_entry.size; }
    std::int64_t DoneBytes() const { return m_done.Total(); }
    const Failure& WriteFailure() const { return m_writeFailure; }
    const std::wstring& RefusedBy() const { return m_refusedBy; }
    bool SeveralSources() const { return std::count(m_used.begin(), m_used.end(), true) > 1; }

  private:
    struct Slot {
        bool active = false;
        std::size_t source = 0;
        std::int64_t begin = 0;
        std::int64_t cursor = 0;
        std::int64_t end = 0;
    };

    static bool IsRangeRefusal(const Failure& cause) {
        return cause.cause == FailureClass::kNetwork && cause.code == CURLE_RANGE_ERROR;
    }

    bool WorthSpreading() const {
        const double seconds = std::chrono::duration<double>(Clock::now() - m_firstByte).count();
        if (Clock::now() - m_firstByte < kJoinAfter || seconds <= 0)
            return false;
        const double rate = static_cast<double>(m_received) / seconds;
        return static_cast<double>(m_entry.size - m_done.Total()) > rate * kWorthJoiningSeconds;
    }

    bool AnyActive() const {
        return std::any_of(std::begin(m_slots), std::end(m_slots),
                           [](const Slot& slot) { return slot.active; });
    }

    // The lowest bytes neither on disk nor being fetched, at most a piece of them once the
    // connections have spread.
    bool Unclaimed(std::int64_t& begin, std::int64_t& end) const {
        ByteSpans claimed = m_done;
        for (const Slot& slot : m_slots)
            if (slot.active && slot.cursor < slot.end)
                claimed.Add(slot.cursor, slot.end);
        const auto [first, next] = claimed.NextGap(0, m_entry.size);
        if (first >= m_entry.size)
            return false;
        begin = first;
        // Alone, a connection asks for the whole gap: one request, as a transfer over one
        // connection would make.
        end = m_spread ? std::min(next, first + m_piece) : next;
        return true;
    }

    // The second half of the range with the most still to come, when nothing is unclaimed: a
    // slow connection (or source) hands part of its work to a free one.
    bool Split(std::int64_t& begin, std::int64_t& end) {
        Slot* largest = nullptr;
        for (Slot& slot : m_slots)
            if (slot.active && (largest == nullptr ||
                                slot.end - slot.cursor > largest->end - largest->cursor))
                largest = &slot;
        if (largest == nullptr || largest->end - largest->cursor < 2 * kSmallestSplit)
            return false;
        const std::int64_t middle =
            (largest->cursor + (largest->end - largest->cursor) / 2) / kGrain * kGrain;
        if (middle <= largest->cursor)
            return false;
        begin = middle;
        end = largest->end;
        largest->end = middle;
        return true;
    }

    DownloadThreadData& m_data;
    const DownloadEntry& m_entry;
    const std::wstring m_record;
    std::FILE* const m_file;
    ByteSpans m_done;
    const std::vector<std::wstring> m_sources;
    std::vector<bool> m_alive;
    // The sources whose bytes are in the file.
    std::vector<bool> m_used;
    const std::int64_t m_piece;
    Slot m_slots[kMaxConnections];
    bool m_confirmed = false;
    // Whether the other connections have joined the first.
    bool m_spread = false;
    Clock::time_point m_firstByte{};
    std::int64_t m_received = 0;
    bool m_failed = false;
    Failure m_writeFailure;
    // The source that answered a range with something else.
    std::wstring m_refusedBy;
    ReceiveDigester* m_digester;
    std::int64_t m_digested;
    std::unique_ptr<unsigned char[]> m_readBuffer;
    Clock::time_point m_saved{};
};

}  // namespace

void ByteSpans::Add(std::int64_t begin, std::int64_t end) {
    if (end <= begin)
        return;
    // The first span that ends at or after begin: everything from it that starts at or before
    // end merges with the new one.
    auto it = std::lower_bound(m_spans.begin(), m_spans.end(), begin,
                               [](const auto& span, std::int64_t at) { return span.second < at; });
    auto last = it;
    while (last != m_spans.end() && last->first <= end) {
        begin = std::min(begin, last->first);
        end = std::max(end, last->second);
        ++last;
    }
    it = m_spans.erase(it, last);
    m_spans.insert(it, {begin, end});
}

std::int64_t ByteSpans::PrefixEnd() const {
    return !m_spans.empty() && m_spans.front().first == 0 ? m_spans.front().second : 0;
}

std::int64_t ByteSpans::Total() const {
    std::int64_t total = 0;
    for (const auto& span : m_spans)
        total += span.second - span.first;
    return total;
}

std::pair<std::int64_t, std::int64_t> ByteSpans::NextGap(std::int64_t from,
                                                         std::int64_t limit) const {
    for (const auto& span : m_spans) {
        if (span.second <= from)
            continue;
        if (span.first > from)
            return {std::min(from, limit), std::min(span.first, limit)};
        from = span.second;
    }
    return {std::min(from, limit), limit};
}

std::string FormatRangeRecord(const ByteSpans& spans, std::int64_t size, const std::wstring& md5) {
    std::string text = std::string(kRecordHeader) + "\n" + std::to_string(size) + " " +
                       WideToUtf8(md5) + "\n";
    for (const auto& span : spans.Spans())
        text += std::to_string(span.first) + " " + std::to_string(span.second) + "\n";
    return text;
}

bool ParseRangeRecord(std::string_view text, std::int64_t size, const std::wstring& md5,
                      ByteSpans& spans) {
    spans = ByteSpans{};
    const auto line = [&text](std::string_view& out) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return false;
        out = text.substr(0, end);
        text.remove_prefix(end + 1);
        return true;
    };
    const auto number = [](std::string_view& rest, std::int64_t& value) {
        const auto [last, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (error != std::errc{} || last == rest.data())
            return false;
        rest.remove_prefix(static_cast<std::size_t>(last - rest.data()));
        return true;
    };
    std::string_view header;
    std::string_view file;
    if (!line(header) || header != kRecordHeader || !line(file) ||
        file != std::to_string(size) + " " + WideToUtf8(md5))
        return false;
    std::int64_t previousEnd = -1;
    std::size_t count = 0;
    std::string_view entry;
    while (line(entry)) {
        std::int64_t begin = 0;
        std::int64_t end = 0;
        if (++count > kMaxRecordSpans || !number(entry, begin) || entry.empty() ||
            entry.front() != ' ' || (entry.remove_prefix(1), !number(entry, end)) ||
            !entry.empty() || begin <= previousEnd || end <= begin || end > size) {
            spans = ByteSpans{};
            return false;
        }
        spans.Add(begin, end);
        previousEnd = end;
    }
    if (!text.empty()) {
        spans = ByteSpans{};
        return false;
    }
    return true;
}

std::wstring RangeRecordName(const std::wstring& relative) {
    md5wrapper md5;
    return std::wstring(kReservedNamePrefix) + L"ranges-" +
           Utf8ToWide(std::string_view(md5.hashOfText(WideToUtf8(relative))));
}

void ForgetRanges(const platform::TrustedFolder& root, const std::wstring& relative) {
    const std::wstring name = RangeRecordName(relative);
    platform::EntryStatus status;
    if (root.Stat(name, status) && status.kind != platform::EntryKind::kMissing)
        root.RemoveFile(name);
}

namespace {

// The record's spans, when it is valid for entry and the file at relative holds all of them.
bool LoadRecord(const DownloadThreadData& data, const platform::TrustedFolder& root,
                const DownloadEntry& entry, const std::wstring& relative, ByteSpans& spans,
                bool& present) {
    platform::EntryStatus status;
    present = root.Stat(RangeRecordName(relative), status) &&
              status.kind != platform::EntryKind::kMissing;
    std::string text;
    platform::EntryStatus file;
    return present &&
           platform::ReadSmallFile(RecordPath(data, relative), kMaxRecordBytes, text) &&
           ParseRangeRecord(text, entry.size, entry.md5, spans) && root.Stat(relative, file) &&
           file.kind == platform::EntryKind::kRegularFile &&
           (spans.Spans().empty() || spans.Spans().back().second <= file.size);
}

}  // namespace

bool HasRangeRecord(const DownloadThreadData& data, const platform::TrustedFolder& root,
                    const DownloadEntry& entry, const std::wstring& relative) {
    ByteSpans spans;
    bool present = false;
    if (LoadRecord(data, root, entry, relative, spans, present))
        return true;
    if (present) {
        LogLine("%s: the record of its ranges does not fit it; fetched anew",
                LogText(entry.target).c_str());
        root.RemoveFile(RangeRecordName(relative));
        root.RemoveFile(relative);
    }
    return false;
}

void NoteRangeless(DownloadThreadData& data, const std::wstring& url) {
    data.rangelessOrigins.push_back(OriginOf(url));
}

std::int64_t RangesOnDisk(const DownloadThreadData& data, const platform::TrustedFolder& root,
                          const DownloadEntry& entry, const std::wstring& relative) {
    ByteSpans spans;
    bool present = false;
    return LoadRecord(data, root, entry, relative, spans, present) ? spans.Total() : 0;
}

bool WorthRanges(const DownloadThreadData& data, const DownloadEntry& entry, std::int64_t offset,
                 const std::wstring& url) {
    return data.connections > 1 && entry.size > 0 && entry.size - offset >= data.rangedMinimum &&
           data.curl.ReceiveRateLimit() == 0 && !Rangeless(data, url);
}

bool DownloadInRanges(DownloadThreadData& data, const platform::TrustedFolder& root,
                      const DownloadEntry& entry, const std::wstring& relative,
                      const std::vector<std::wstring>& sources, std::size_t first, bool oneSource,
                      std::int64_t offset, const WriteDigests& digests, bool& aborted,
                      RangedFetch& outcome, Failure* failure) {
    outcome = RangedFetch{};
    aborted = false;
    if (failure != nullptr)
        *failure = Failure{};
    data.written.Forget(relative);
    ByteSpans spans;
    bool present = false;
    const bool recorded = LoadRecord(data, root, entry, relative, spans, present);
    Failure openFailure;
    platform::UniqueFile file =
        root.OpenFile(relative, platform::FileAccess::kUpdate, &openFailure);
    if (file == nullptr) {
        openFailure.subject = entry.target;
        if (failure != nullptr)
            *failure = std::move(openFailure);
        return false;
    }
    std::int64_t size = 0;
    platform::GetOpenFileSize(file.get(), size);
    if (!recorded) {
        // Without a record only the contiguous start counts, and never past the listed size.
        spans = ByteSpans{};
        spans.Add(0, std::min({offset, size, entry.size}));
        if (size > spans.PrefixEnd() && !platform::TruncateOpenFile(file.get(), spans.PrefixEnd()))
            spans = ByteSpans{};
    }

    // The digests go on from the start's when they were read from this very file, untouched.
    std::unique_ptr<ReceiveDigester> digester;
    std::int64_t digested = 0;
    platform::FileIdentity now;
    if (digests.partKnown && digests.part.Bytes() == spans.PrefixEnd() &&
        platform::ReadOpenFileIdentity(file.get(), now) && now == digests.partIdentity) {
        digester = std::make_unique<ReceiveDigester>(digests.part);
        digested = digests.part.Bytes();
    } else {
        digester = std::make_unique<ReceiveDigester>(RunningDigests(!entry.sha256.empty()));
    }
    const std::int64_t before = spans.Total();
    Schedule schedule(data, entry, relative, file.get(), std::move(spans), sources, first,
                      oneSource, digester.get(), digested);
    // Before any byte lands past the start: a crash then still leaves a record of it.
    schedule.SaveRecord(true);

    PageTransfer transfer(data, entry.target, before);
    const std::size_t connections = std::clamp<std::size_t>(data.connections, 1, kMaxConnections);
    LogLine("download: %s in ranges over up to %zu connections, %lld of %lld bytes on disk",
            LogText(entry.target).c_str(), connections, static_cast<long long>(before),
            static_cast<long long>(entry.size));
    const std::uint32_t started = platform::TickCountMs();
    Failure cause;
    bool succeeded = data.curl.DownloadRanges(sources, entry.size, connections, schedule,
                                              &transfer.Record(), entry.size - before,
                                              aborted, &cause);
    transfer.Withdraw();
    data.bytesFetched += schedule.DoneBytes() - before;
    outcome.severalSources = schedule.SeveralSources();
    if (LogEnabled())
        LogLine("download: %s: %lld bytes in ranges in %u ms%s%s", LogText(entry.target).c_str(),
                static_cast<long long>(schedule.DoneBytes() - before),
                static_cast<unsigned>(platform::TickCountMs() - started),
                succeeded ? "" : ", failed: ", succeeded ? "" : DescribeFailure(cause).c_str());
    if (schedule.WriteFailure().cause != FailureClass::kNone) {
        succeeded = false;
        cause = schedule.WriteFailure();
    }
    succeeded = succeeded && schedule.Whole();
    if (!succeeded && cause.cause == FailureClass::kNone)
        cause = MakeFailure(FailureClass::kNetwork, CURLE_PARTIAL_FILE, "ranges left unfetched",
                            entry.target);
    if (!succeeded && cause.cause == FailureClass::kNetwork && cause.code == CURLE_RANGE_ERROR) {
        // A server without ranges (or one that stopped serving them on the way): one connection
        // goes on from the contiguous start.
        outcome.rangesRefused = true;
        outcome.refusedBy = schedule.RefusedBy();
        // Nothing past the start is of use to one stream.
        const std::int64_t prefix = schedule.PrefixEnd();
        ForgetRanges(root, relative);
        if (!platform::TruncateOpenFile(file.get(), prefix)) {
            file.reset();
            root.RemoveFile(relative);
        }
    }

    platform::FileIdentity identity;
    FileDigestTexts texts;
    bool known = false;
    if (succeeded) {
        schedule.CatchUp(entry.size);
        if (schedule.Digested()) {
            texts = digester->Finish().Texts();
            known = std::fflush(file.get()) == 0 &&
                    platform::ReadOpenFileIdentity(file.get(), identity) &&
                    identity.size == entry.size;
        }
    }
    digester.reset();
    Failure closeFailure;
    if (file != nullptr && !platform::CloseFile(file, &closeFailure) && succeeded) {
        succeeded = false;
        closeFailure.subject = entry.target;
        cause = std::move(closeFailure);
    }
    if (succeeded) {
        ForgetRanges(root, relative);
        if (known)
            data.written.Record(relative, identity, texts);
        return true;
    }
    cause.subject = entry.target;
    if (failure != nullptr)
        *failure = std::move(cause);
    return false;
}
