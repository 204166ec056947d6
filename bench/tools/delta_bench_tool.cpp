// The steps of the delta benchmark (bench/delta_bench.sh) as single commands, so that the
// script can time each against the zstd program doing the same:
//   delta_bench_tool fill FILE MIB          deterministic bytes
//   delta_bench_tool change BASE NEW        BASE with one run of 64 bytes in every 6400 changed
//   delta_bench_tool make BASE NEW DELTA    velmora-publish build's delta maker
//   delta_bench_tool apply BASE DELTA OUT   the launcher's ApplyDelta with the result's MD5,
//                                           printing it and the peak of anonymous memory
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "text/utf8.h"
#include "tools/publish/delta_maker.h"
#include "transfer/delta_apply.h"

namespace {

std::vector<char> ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

bool WriteAll(const char* path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// RssAnon of this process in KiB: memory that belongs to no file.
long AnonymousKib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "RssAnon:" && status >> value)
            return value;
        status.ignore(1 << 20, '\n');
    }
    return -1;
}

int Fill(const char* path, long mib) {
    std::vector<char> bytes(static_cast<std::size_t>(mib) << 20);
    std::uint64_t state = 88172645463325252ull;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state >> 56);
    }
    return WriteAll(path, bytes) ? 0 : 1;
}

int Change(const char* base, const char* fresh) {
    std::vector<char> bytes = ReadAll(base);
    for (std::size_t at = 97; at + 64 < bytes.size(); at += 6400)
        for (std::size_t i = 0; i < 64; ++i)
            bytes[at + i] = static_cast<char>(bytes[at + i] ^ 0xA5);
    return WriteAll(fresh, bytes) ? 0 : 1;
}

int Apply(const char* base, const char* delta, const char* out) {
    platform::UniqueFile baseFile = platform::OpenFile(Utf8ToWide(std::string(base)), "rb");
    platform::UniqueFile deltaFile = platform::OpenFile(Utf8ToWide(std::string(delta)), "rb");
    platform::UniqueFile result = platform::OpenFile(Utf8ToWide(std::string(out)), "w+b");
    std::int64_t baseSize = 0;
    if (!baseFile || !deltaFile || !result ||
        !platform::GetFileSize(Utf8ToWide(std::string(base)), baseSize))
        return 1;
    // The bench's files are made by "change", which keeps the size.
    std::atomic<bool> done{false};
    long peak = AnonymousKib();
    std::thread sampler([&] {
        while (!done.load()) {
            const long now = AnonymousKib();
            peak = now > peak ? now : peak;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const DeltaApplied applied =
        ApplyDelta(baseFile.get(), baseSize, deltaFile.get(), result.get(), baseSize, false);
    done = true;
    sampler.join();
    if (!applied.Succeeded()) {
        std::fprintf(stderr, "%s %s\n", DeltaRefusalText(applied.refusal), applied.detail.c_str());
        return 1;
    }
    std::printf("%s peak-anonymous-kib %ld\n", WideToUtf8(applied.digests.md5).c_str(), peak);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "fill" && argc == 4)
        return Fill(argv[2], std::atol(argv[3]));
    if (command == "change" && argc == 4)
        return Change(argv[2], argv[3]);
    if (command == "make" && argc == 5) {
        std::string error;
        if (MakeDelta(argv[2], argv[3], argv[4], error))
            return 0;
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (command == "apply" && argc == 5)
        return Apply(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: see the top of bench/tools/delta_bench_tool.cpp\n");
    return 2;
}
