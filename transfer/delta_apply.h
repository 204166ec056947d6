#pragma once
// Builds a file from a delta: a zstd frame, as "zstd --patch-from=BASE NEW" writes it, decoded
// with the base file as its referenced prefix. The base, the delta and the result are all
// mapped files, and the frame is decoded in one call straight into the result, so the memory
// the launcher holds stays at the decoder's few hundred kilobytes whatever the sizes (a
// streaming decoder would hold a window as large as the base).

#include <cstdint>
#include <cstdio>
#include <string>

#include "text/failure.h"
#include "transfer/file_digests.h"

// Why a delta gave no file.
enum class DeltaRefusal {
    kNone,
    kBaseChanged,  // the base is not the size it was checked at, or changed while it was read
    kBadDelta,     // not a zstd frame, cut short, damaged, or not for this base
    kTooLong,      // it decodes to more bytes than the file is listed with
    kTooShort,     // it decodes to fewer
    kSystem,       // a file could not be mapped or sized (failure says why)
};

// Short English words for the log ("bad delta", "decodes too long" ...).
const char* DeltaRefusalText(DeltaRefusal refusal);

struct DeltaApplied {
    DeltaRefusal refusal = DeltaRefusal::kNone;
    // Libzstd's or the system's words when there are any.
    std::string detail;
    // The result's digests, taken from the mapped result (sha256 only when asked for).
    FileDigestTexts digests;
    bool Succeeded() const { return refusal == DeltaRefusal::kNone; }
};

// Decodes the delta (open for reading) into result (opened for reading and writing, empty),
// which is made exactly size bytes long; base (open for reading) must still be baseSize bytes
// long, before and after. A base cut short while it is read, or a result file cut short under
// the decoder, ends the call with kBaseChanged or kSystem instead of the launcher. On failure
// result holds nothing of use. The files stay open; the caller closes them.
DeltaApplied ApplyDelta(std::FILE* base, std::int64_t baseSize, std::FILE* delta, std::FILE* result,
                        std::int64_t size, bool withSha256);
