#pragma once
// A download entry built from one of its deltas instead of being fetched whole: when the base
// a delta names is in the game folder with the listed size and MD5, the delta is fetched (as
// resumable, retried and capped as any file) under a reserved name in the download folder,
// applied into a temporary file beside it (ApplyDelta), and put in the target's place only
// once the result gives the entry's size and digests. Anything less leaves the target as it
// was, for the whole file to come the usual way.

#include <string>

#include "catalogue/patch_info.h"
#include "platform/safe_files.h"
#include "transfer/download_thread_data.h"

// The names in the download folder that belong to the launcher's own work on deltas: every
// one starts with this. No target may take one (the worker refuses such an entry).
inline constexpr wchar_t kReservedNamePrefix[] = L".velmora-delta-";
// Whether a target (in the catalogue's spelling) is a reserved name.
bool IsReservedTarget(const std::wstring& target);

enum class DeltaOutcome {
    kNone,      // no delta was tried: none listed, or the target is already in place
    kBuilt,     // the target is the entry's file, its digests recorded in data.written
    kFellBack,  // tried and failed; reason says why, the target is untouched
    kStop,      // a stop was requested
};

// Message 284 for the page and the console: the bytes fetched in all against the files' sizes.
std::wstring DeltaSummaryLine(const DeltaTally& deltas);
// One line for the run log: "<built> built, <n> fell back, <fetched> of <size> bytes fetched"
// and the first fall-back's reason.
std::string DescribeDeltas(const DeltaTally& deltas);

// Tries entry's deltas in order, the first whose base is in place. gameRoot is the game folder
// held open (not open: no base can be found); root and relative are the download folder and
// the target's place below it. Tells the page when a file comes as a delta, and logs every
// fall-back with its reason.
DeltaOutcome FetchByDelta(DownloadThreadData& data, const platform::TrustedFolder& gameRoot,
                          const platform::TrustedFolder& root, const DownloadEntry& entry,
                          const std::wstring& relative, std::string& reason);
