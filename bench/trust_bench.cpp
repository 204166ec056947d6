// What trust costs: the signature check of a 1 MiB catalogue signed by the minisign program
// (both forms), and what SHA-256 adds to the MD5 pass over a patch file.
//   trust_bench [Google Benchmark options]

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "transfer/file_digests.h"
#include "trust/minisign.h"
#include "trust/signature_policy.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCatalogueSize = 1 << 20;
constexpr std::size_t kPatchFileSize = 16 << 20;

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A catalogue-like text: download lines with digests, as a big catalogue is made of.
std::string MakeCatalogue() {
    std::mt19937_64 generator(1);
    std::string text = "<patch_info><game_version_list><release><patch_list><update>\n";
    static const char kHex[] = "0123456789abcdef";
    while (text.size() < kCatalogueSize) {
        std::string md5;
        for (int i = 0; i < 32; ++i)
            md5 += kHex[generator() & 15];
        text += "<download url=\"http://dl.example/" + md5 + ".bin\" target=\"" + md5 +
                ".bin\" md5=\"" + md5 + "\" size=\"123456\"/>\n";
    }
    text.resize(kCatalogueSize);
    return text;
}

struct Fixture {
    fs::path folder;
    std::string catalogue;
    std::string prehashed;
    std::string legacy;
    std::vector<MinisignPublicKey> keys;
    std::wstring patchFile;
    bool ready = false;

    Fixture() {
        std::error_code error;
        folder = fs::temp_directory_path(error) /
                 ("velmora-trust-bench-" + std::to_string(std::random_device()()));
        fs::create_directories(folder, error);
        catalogue = MakeCatalogue();
        std::ofstream(folder / "patchinfo.xml", std::ios::binary) << catalogue;
        const std::string in = "'" + folder.string() + "/";
        const std::string quiet = " >/dev/null 2>&1";
        if (std::system(
                ("minisign -G -W -p " + in + "k.pub' -s " + in + "k.key'" + quiet).c_str()) != 0 ||
            std::system(("minisign -S -s " + in + "k.key' -m " + in + "patchinfo.xml' -x " + in +
                         "p.minisig' -t 'serial:42 expires:2099-01-01T00:00:00Z'" + quiet)
                            .c_str()) != 0 ||
            std::system(("minisign -S -l -s " + in + "k.key' -m " + in + "patchinfo.xml' -x " + in +
                         "l.minisig' -t 'serial:42 expires:2099-01-01T00:00:00Z'" + quiet)
                            .c_str()) != 0)
            return;
        prehashed = ReadWhole(folder / "p.minisig");
        legacy = ReadWhole(folder / "l.minisig");
        keys.resize(1);
        if (!ParseMinisignPublicKey(ReadWhole(folder / "k.pub"), keys[0]))
            return;

        std::string bytes(kPatchFileSize, '\0');
        std::mt19937_64 generator(2);
        for (char& ch : bytes)
            ch = static_cast<char>(generator());
        std::ofstream(folder / "patch.bin", std::ios::binary) << bytes;
        patchFile = (folder / "patch.bin").wstring();
        ready = true;
    }
    ~Fixture() {
        std::error_code error;
        fs::remove_all(folder, error);
    }
};

Fixture& Data() {
    static Fixture fixture;
    return fixture;
}

void CheckSignature(benchmark::State& state, bool legacy) {
    Fixture& data = Data();
    if (!data.ready) {
        state.SkipWithError("minisign could not make the signatures");
        return;
    }
    const std::string& signature = legacy ? data.legacy : data.prehashed;
    const RecordedSerials recorded = {{data.keys[0].keyId, 41}};
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        const CatalogueTrust trust =
            CheckCatalogueSignature(data.catalogue, signature, data.keys, now, recorded);
        if (!trust.use) {
            state.SkipWithError(trust.reason.c_str());
            return;
        }
        benchmark::DoNotOptimize(trust.serialToRecord);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kCatalogueSize);
}

void BM_CatalogueSignature1MiBPrehashed(benchmark::State& state) {
    CheckSignature(state, false);
}
void BM_CatalogueSignature1MiBLegacy(benchmark::State& state) {
    CheckSignature(state, true);
}

// The patch file is read from the page cache; the difference between the two is SHA-256.
void Digests(benchmark::State& state, bool withSha256) {
    Fixture& data = Data();
    if (!data.ready) {
        state.SkipWithError("no patch file");
        return;
    }
    for (auto _ : state) {
        FileDigestTexts texts = FileDigests(data.patchFile, withSha256);
        benchmark::DoNotOptimize(texts);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPatchFileSize);
}

void BM_FileDigests16MiBMd5(benchmark::State& state) {
    Digests(state, false);
}
void BM_FileDigests16MiBMd5AndSha256(benchmark::State& state) {
    Digests(state, true);
}

}  // namespace

BENCHMARK(BM_CatalogueSignature1MiBPrehashed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogueSignature1MiBLegacy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileDigests16MiBMd5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileDigests16MiBMd5AndSha256)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
