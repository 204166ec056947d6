#pragma once
// A large file fetched in ranges over several connections at once (CCurlWrapper::
// DownloadRanges), each range written at its place in the file. Which bytes are on disk is kept
// in a small record beside the file, written before any byte lands past the file's contiguous
// start, so a stop or a crash loses no more than the last second's bytes: the next run fetches
// only the gaps. The record is never taken for the file: only its digests make it the patch's.
//
// MD5 is sequential, so the digests follow the contiguous start of the file as it grows: the
// bytes that arrive at its end are digested on their way, the ones that arrived ahead of it are
// read back (from the page cache) once it reaches them. A fresh file is then known without being
// read again, as after a transfer over one connection.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/patch_info.h"
#include "platform/safe_files.h"
#include "transfer/download_thread_data.h"
#include "transfer/entry_fetch.h"

// The bytes of a file that are on disk: sorted, disjoint, non-adjacent [begin, end) spans.
class ByteSpans {
  public:
    void Add(std::int64_t begin, std::int64_t end);
    // The end of the span that starts at 0 (0 when none does).
    std::int64_t PrefixEnd() const;
    std::int64_t Total() const;
    // The first byte at or after from that no span holds, and the start of the next span after
    // it (limit when none): the gap [first, next). first == limit when there is none below limit.
    std::pair<std::int64_t, std::int64_t> NextGap(std::int64_t from, std::int64_t limit) const;
    const std::vector<std::pair<std::int64_t, std::int64_t>>& Spans() const { return m_spans; }

  private:
    std::vector<std::pair<std::int64_t, std::int64_t>> m_spans;
};

// The record's text and its reading back. A record counts only for the file it was written for:
// the same listed size and MD5, every span inside the size, and no more than a bounded number of
// spans; anything else reads as no record.
std::string FormatRangeRecord(const ByteSpans& spans, std::int64_t size, const std::wstring& md5);
bool ParseRangeRecord(std::string_view text, std::int64_t size, const std::wstring& md5,
                      ByteSpans& spans);

// The record's name in the download folder for the file at relative (a reserved name).
std::wstring RangeRecordName(const std::wstring& relative);

// Whether a valid record for entry stands beside the file at relative. A record that is not
// valid for it (another file's, cut, or describing more than the file holds) goes, and with it
// the file it described, whose bytes are then of unknown places.
bool HasRangeRecord(const DownloadThreadData& data, const platform::TrustedFolder& root,
                    const DownloadEntry& entry, const std::wstring& relative);
// Removes the record of the file at relative, if any.
void ForgetRanges(const platform::TrustedFolder& root, const std::wstring& relative);

// Whether the rest of entry, from offset on, is worth several connections from url: large
// enough (data.rangedMinimum), several allowed, no rate cap, and not from a server seen to
// ignore ranges.
bool WorthRanges(const DownloadThreadData& data, const DownloadEntry& entry, std::int64_t offset,
                 const std::wstring& url);

// Remembers for the rest of the run that the server of url ignores ranges.
void NoteRangeless(DownloadThreadData& data, const std::wstring& url);
// The bytes the record of the file at relative names as on disk (0 without a valid one).
std::int64_t RangesOnDisk(const DownloadThreadData& data, const platform::TrustedFolder& root,
                          const DownloadEntry& entry, const std::wstring& relative);

// What a ranged fetch did besides its result.
struct RangedFetch {
    // The last source answered a range with the whole file, a refusal or another range: it is
    // noted as one without ranges (NoteRangeless), the record is gone, and the file holds its
    // contiguous start alone, for one connection.
    bool rangesRefused = false;
    std::wstring refusedBy;  // the source that did
    // The bytes came from more than one source.
    bool severalSources = false;
};

// Fetches the gaps of the file at relative below root in ranges: from its record when one
// stands beside it, else from the end of its contiguous start (offset bytes). The sources are
// sources[first] and, unless oneSource, the ones after it, spread over the connections; a
// source that fails while another is left is dropped for the rest of the call. digests gives
// the start's digests when they are known (ReadPart), so it is not read again.
//
// True when the file is whole: its digests are then recorded in data.written (when every byte
// was seen) and the record is gone. On false the record tells what is on disk, and failure
// receives the cause as DownloadFile gives it, with entry.target as subject.
bool DownloadInRanges(DownloadThreadData& data, const platform::TrustedFolder& root,
                      const DownloadEntry& entry, const std::wstring& relative,
                      const std::vector<std::wstring>& sources, std::size_t first, bool oneSource,
                      std::int64_t offset, const WriteDigests& digests, bool& aborted,
                      RangedFetch& outcome, Failure* failure);
