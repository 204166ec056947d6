// Writes a stand-in game executable for bench/start_bench.sh: a real Windows image with the
// given file version (which the launcher reads), padded with pseudo-random bytes to the given
// size, so that hashing it costs what hashing the real game costs.
//
//   bench_game_exe VERSION SIZE_MIB OUT       (VERSION like 1.2.0.0)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/version_compare.h"
#include "text/utf8.h"
#include "tools/pe_writer/pe_writer.h"

int main(int argc, char** argv) {
    PeOptions options;
    if (argc != 4 || !ParseFileVersion(Utf8ToWide(argv[1]), options.fileVersion)) {
        std::fprintf(stderr, "usage: bench_game_exe VERSION SIZE_MIB OUT\n");
        return 2;
    }
    options.productVersion = options.fileVersion;
    const std::size_t size = std::strtoull(argv[2], nullptr, 10) * 1024 * 1024;
    const std::vector<unsigned char> image = BuildPeImage(options);
    if (image.size() > size) {
        std::fprintf(stderr, "the image alone is %zu bytes\n", image.size());
        return 2;
    }

    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    bool ok = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    // splitmix64: bytes that no compressor or deduplicating store shortens.
    std::uint64_t state = 0x5eed;
    std::vector<std::uint64_t> chunk(1 << 16);
    for (std::size_t left = size - image.size(); ok && left > 0;) {
        for (std::uint64_t& word : chunk) {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
        const std::size_t bytes = std::min(left, chunk.size() * sizeof chunk[0]);
        ok = std::fwrite(chunk.data(), 1, bytes, out) == bytes;
        left -= bytes;
    }
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
