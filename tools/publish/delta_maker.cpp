#include "tools/publish/delta_maker.h"

#include <zstd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/mapped_file.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "text/utf8.h"
#include "transfer/delta_apply.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLevel = 19;
// Above a window of 128 MiB the matches a base offers are found by the long-distance matcher,
// as with zstd's --long.
constexpr int kLongWindowLog = 27;
constexpr int kMinWindowLog = 10;
constexpr int kMaxWindowLog = 31;

struct CctxFree {
    void operator()(ZSTD_CCtx* cctx) const { ZSTD_freeCCtx(cctx); }
};

std::wstring Wide(const fs::path& path) {
    return Utf8ToWide(std::string_view(path.string()));
}

bool MapFile(const fs::path& path, platform::UniqueFile& file, platform::MappedFile& map,
             std::string& error) {
    file = platform::OpenRegularFileForReading(Wide(path));
    Failure failure;
    if (file == nullptr || !map.MapForReading(file.get(), &failure)) {
        error = "cannot read " + path.string();
        return false;
    }
    return true;
}

// The window reaches over the whole base and the whole new file, as --patch-from sets it.
int WindowLogFor(std::size_t baseSize, std::size_t freshSize) {
    const std::size_t reach = baseSize > freshSize ? baseSize : freshSize;
    int log = kMinWindowLog;
    while (log < kMaxWindowLog && (std::size_t{1} << log) < reach)
        ++log;
    return log;
}

}  // namespace

bool MakeDelta(const fs::path& base, const fs::path& fresh, const fs::path& out,
               std::string& error) {
    platform::UniqueFile baseFile, freshFile;
    platform::MappedFile baseMap, freshMap;
    if (!MapFile(base, baseFile, baseMap, error) || !MapFile(fresh, freshFile, freshMap, error))
        return false;
    std::unique_ptr<ZSTD_CCtx, CctxFree> cctx(ZSTD_createCCtx());
    const int windowLog = WindowLogFor(baseMap.Size(), freshMap.Size());
    if (cctx == nullptr ||
        ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, kLevel)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_windowLog, windowLog)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_enableLongDistanceMatching,
                                            windowLog > kLongWindowLog ? 1 : 0)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_checksumFlag, 1)) ||
        (baseMap.Size() > 0 &&
         ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), baseMap.Data(), baseMap.Size())))) {
        error = "libzstd refused the settings of a delta";
        return false;
    }
    std::vector<unsigned char> delta(ZSTD_compressBound(freshMap.Size()));
    const std::size_t written =
        ZSTD_compress2(cctx.get(), delta.data(), delta.size(), freshMap.Data(), freshMap.Size());
    if (ZSTD_isError(written)) {
        error = std::string("libzstd: ") + ZSTD_getErrorName(written);
        return false;
    }
    std::error_code ec;
    fs::create_directories(out.parent_path(), ec);
    Failure failure;
    if (!platform::WriteFileAtomically(
            Wide(out), std::string_view(reinterpret_cast<const char*>(delta.data()), written),
            &failure)) {
        error = "cannot write " + out.string() + ": " + DescribeFailure(failure);
        return false;
    }
    return true;
}

bool DigestAppliedDelta(const fs::path& base, const fs::path& delta, std::int64_t expectedSize,
                        std::string& md5, std::string& sha256, std::string& error) {
    platform::UniqueFile baseFile = platform::OpenRegularFileForReading(Wide(base));
    platform::UniqueFile deltaFile = platform::OpenRegularFileForReading(Wide(delta));
    std::int64_t baseSize = 0;
    if (baseFile == nullptr || deltaFile == nullptr ||
        !platform::GetOpenFileSize(baseFile.get(), baseSize)) {
        error = "cannot read " + (baseFile == nullptr ? base : delta).string();
        return false;
    }
    // The result lives only as long as this call: an unnamed file.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> result(std::tmpfile(), &std::fclose);
    if (result == nullptr) {
        error = "no temporary file for the result";
        return false;
    }
    const DeltaApplied applied =
        ApplyDelta(baseFile.get(), baseSize, deltaFile.get(), result.get(), expectedSize, true);
    if (!applied.Succeeded()) {
        error = DeltaRefusalText(applied.refusal);
        if (!applied.detail.empty())
            error += " (" + applied.detail + ")";
        return false;
    }
    md5 = WideToUtf8(std::wstring_view(applied.digests.md5));
    sha256 = WideToUtf8(std::wstring_view(applied.digests.sha256));
    return true;
}
