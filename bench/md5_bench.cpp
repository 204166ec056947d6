// FileHashW against the system's md5sum on the same 256 MiB file, both from the page cache,
// timed in one run. Prints the best of several rounds for each and the speed ratios: by wall
// time, and by CPU time when /usr/bin/time can report md5sum's share (steadier when other
// work shares the processors).
//   md5_bench [size-in-MiB] [rounds]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "text/utf8.h"
#include "transfer/md5.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

bool WriteTestFile(const std::string& path, std::size_t mebibytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    std::mt19937_64 generator(42);
    std::vector<std::uint64_t> chunk(1 << 17);  // 1 MiB
    bool ok = true;
    for (std::size_t i = 0; i < mebibytes && ok; ++i) {
        for (auto& word : chunk)
            word = generator();
        ok = std::fwrite(chunk.data(), sizeof chunk[0], chunk.size(), file) == chunk.size();
    }
    return std::fclose(file) == 0 && ok;
}

bool HaveTimeTool() {
    return std::system("/usr/bin/time -f '' true >/dev/null 2>&1") == 0;
}

struct Md5sumRun {
    std::string digest;
    double cpuSeconds = -1;  // user + system, when measured
};

Md5sumRun RunMd5sum(const std::string& path, bool timed) {
    const std::string command =
        timed ? "/usr/bin/time -f 'cpu %U %S' md5sum '" + path + "' 2>&1" : "md5sum '" + path + "'";
    Md5sumRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char line[256] = {};
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        double user = 0, system = 0;
        if (std::sscanf(line, "cpu %lf %lf", &user, &system) == 2)
            run.cpuSeconds = user + system;
        else if (run.digest.empty())
            run.digest = std::string(line).substr(0, 32);
    }
    if (pclose(pipe) != 0)
        run.digest.clear();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;

    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path(error) /
        ("velmora-md5-bench-" + std::to_string(std::random_device()()));
    std::filesystem::create_directory(folder, error);
    const std::string path = (folder / "data.bin").string();
    if (error || !WriteTestFile(path, mebibytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const std::wstring widePath = Utf8ToWide(path);
    const bool timed = HaveTimeTool();

    // One untimed pass of each first, so that both read from the page cache.
    const std::string reference = RunMd5sum(path, false).digest;
    const std::wstring ours = CMD5Wrapper().FileHashW(widePath);
    int status = 0;
    if (reference.size() != 32 || ours != Utf8ToWide(reference)) {
        std::fprintf(stderr, "digests differ: md5sum %s, FileHashW %s\n", reference.c_str(),
                     WideToUtf8(ours).c_str());
        status = 1;
    }

    double oursWall = 1e9, md5sumWall = 1e9, oursCpu = 1e9, md5sumCpu = 1e9;
    for (int round = 0; round < rounds && status == 0; ++round) {
        auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        const std::wstring digest = CMD5Wrapper().FileHashW(widePath);
        oursCpu = std::min(oursCpu, CpuSeconds() - cpuStart);
        oursWall = std::min(oursWall, Seconds(Clock::now() - start));

        start = Clock::now();
        const Md5sumRun system = RunMd5sum(path, timed);
        md5sumWall = std::min(md5sumWall, Seconds(Clock::now() - start));
        if (system.cpuSeconds > 0)
            md5sumCpu = std::min(md5sumCpu, system.cpuSeconds);
        if (digest != ours || system.digest != reference)
            status = 1;
    }
    std::filesystem::remove_all(folder, error);
    if (status != 0) {
        std::fprintf(stderr, "a digest changed between rounds\n");
        return status;
    }

    const double mib = static_cast<double>(mebibytes);
    std::printf("file: %zu MiB in the page cache, best of %d rounds\n", mebibytes, rounds);
    std::printf("wall: FileHashW %.3f s (%.0f MiB/s), md5sum %.3f s (%.0f MiB/s)\n", oursWall,
                mib / oursWall, md5sumWall, mib / md5sumWall);
    std::printf("ratio FileHashW/md5sum speed, wall time: %.3f\n", md5sumWall / oursWall);
    if (md5sumCpu < 1e9) {
        std::printf("cpu:  FileHashW %.3f s, md5sum %.3f s\n", oursCpu, md5sumCpu);
        std::printf("ratio FileHashW/md5sum speed, CPU time: %.3f\n", md5sumCpu / oursCpu);
    }
    return 0;
}
