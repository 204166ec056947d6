#include "transfer/delta_apply.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/file_identity.h"
#include "platform/mapped_file.h"

namespace {

// zstd --long=31 writes frames with a window of up to 2 GiB; the one-shot decoder needs no
// window buffer of its own, but still refuses a frame whose window is above its limit.
constexpr int kWindowLogMax = 31;

struct DctxFree {
    void operator()(ZSTD_DCtx* dctx) const { ZSTD_freeDCtx(dctx); }
};

// What the guarded decode reads and writes; plain data only, since a bus error leaves the call
// without unwinding it.
struct DecodeJob {
    ZSTD_DCtx* dctx;
    const unsigned char* delta;
    std::size_t deltaSize;
    unsigned char* out;
    std::size_t outSize;
    std::size_t result;
};

void Decode(void* context) {
    auto* job = static_cast<DecodeJob*>(context);
    job->result =
        ZSTD_decompressDCtx(job->dctx, job->out, job->outSize, job->delta, job->deltaSize);
}

struct DigestJob {
    RunningDigests* digests;
    const unsigned char* data;
    std::size_t size;
    bool md5;
};

void Digest(void* context) {
    auto* job = static_cast<DigestJob*>(context);
    if (job->md5)
        job->digests->FeedMd5(job->data, job->size);
    else
        job->digests->FeedSha256(job->data, job->size);
}

DeltaApplied Refused(DeltaRefusal refusal, std::string detail = {}) {
    DeltaApplied applied;
    applied.refusal = refusal;
    applied.detail = std::move(detail);
    return applied;
}

DeltaApplied SystemRefusal(const Failure& failure) {
    return Refused(DeltaRefusal::kSystem, DescribeFailure(failure));
}

// The result's digests from its map, MD5 here and SHA-256 beside it on a thread of its own
// when asked for (each under its own thread's guard). False when a bus error cut one short.
bool DigestMapped(const platform::MappedFile& map, bool withSha256, FileDigestTexts& texts) {
    RunningDigests digests(withSha256);
    DigestJob md5{&digests, map.Data(), map.Size(), true};
    DigestJob sha{&digests, map.Data(), map.Size(), false};
    bool shaDone = true;
    std::thread shaThread;
    if (withSha256) {
        try {
            shaThread =
                std::thread([&] { shaDone = platform::RunGuardedAgainstBusError(&Digest, &sha); });
        } catch (const std::system_error&) {
            shaDone = platform::RunGuardedAgainstBusError(&Digest, &sha);
        }
    }
    const bool md5Done = platform::RunGuardedAgainstBusError(&Digest, &md5);
    if (shaThread.joinable())
        shaThread.join();
    digests.Count(map.Size());
    texts = digests.Texts();
    return md5Done && shaDone;
}

}  // namespace

const char* DeltaRefusalText(DeltaRefusal refusal) {
    switch (refusal) {
        case DeltaRefusal::kNone:
            return "applied";
        case DeltaRefusal::kBaseChanged:
            return "base changed while read";
        case DeltaRefusal::kBadDelta:
            return "bad delta";
        case DeltaRefusal::kTooLong:
            return "decodes too long";
        case DeltaRefusal::kTooShort:
            return "decodes too short";
        case DeltaRefusal::kSystem:
            return "cannot map";
    }
    return "refused";
}

DeltaApplied ApplyDelta(std::FILE* base, std::int64_t baseSize, std::FILE* delta, std::FILE* result,
                        std::int64_t size, bool withSha256) {
    platform::FileIdentity before;
    Failure failure;
    if (!platform::ReadOpenFileIdentity(base, before, &failure))
        return SystemRefusal(failure);
    platform::MappedFile baseMap;
    platform::MappedFile deltaMap;
    if (!baseMap.MapForReading(base, &failure) || !deltaMap.MapForReading(delta, &failure))
        return SystemRefusal(failure);
    if (before.size != baseSize || static_cast<std::int64_t>(baseMap.Size()) != baseSize)
        return Refused(DeltaRefusal::kBaseChanged, "size");

    // The frame says what it decodes to when it was made from a file; a frame that promises
    // more is refused before a byte is written, one that says nothing is stopped at size.
    const unsigned long long promised = ZSTD_getFrameContentSize(deltaMap.Data(), deltaMap.Size());
    if (promised == ZSTD_CONTENTSIZE_ERROR)
        return Refused(DeltaRefusal::kBadDelta, "no zstd frame");
    if (promised != ZSTD_CONTENTSIZE_UNKNOWN) {
        if (promised > static_cast<unsigned long long>(size))
            return Refused(DeltaRefusal::kTooLong, std::to_string(promised) + " bytes");
        if (promised < static_cast<unsigned long long>(size))
            return Refused(DeltaRefusal::kTooShort, std::to_string(promised) + " bytes");
    }

    std::unique_ptr<ZSTD_DCtx, DctxFree> dctx(ZSTD_createDCtx());
    if (dctx == nullptr)
        return Refused(DeltaRefusal::kSystem, "no decoder");
    if (ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, kWindowLogMax)) ||
        (baseMap.Size() > 0 &&
         ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), baseMap.Data(), baseMap.Size()))))
        return Refused(DeltaRefusal::kSystem, "decoder refused its settings");

    platform::MappedFile out;
    if (!out.MapForWriting(result, size, &failure))
        return SystemRefusal(failure);
    DecodeJob job{dctx.get(), deltaMap.Data(), deltaMap.Size(), out.MutableData(), out.Size(), 0};
    if (!platform::RunGuardedAgainstBusError(&Decode, &job))
        return Refused(DeltaRefusal::kBaseChanged, "a mapped file was cut short");
    if (ZSTD_isError(job.result)) {
        const bool tooLong = ZSTD_getErrorCode(job.result) == ZSTD_error_dstSize_tooSmall;
        return Refused(tooLong ? DeltaRefusal::kTooLong : DeltaRefusal::kBadDelta,
                       ZSTD_getErrorName(job.result));
    }
    if (job.result != out.Size())
        return Refused(DeltaRefusal::kTooShort, std::to_string(job.result) + " bytes");

    // The bytes came from the base as it was while mapped: a base that was rewritten meanwhile
    // may have given a mix, which the digests below would reject anyway; say why.
    platform::FileIdentity after;
    if (!platform::ReadOpenFileIdentity(base, after) || after != before)
        return Refused(DeltaRefusal::kBaseChanged, "identity");

    DeltaApplied applied;
    if (!DigestMapped(out, withSha256, applied.digests))
        return Refused(DeltaRefusal::kSystem, "the result was cut short");
    return applied;
}
