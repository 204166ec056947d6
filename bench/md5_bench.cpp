// FileHashW against the system's md5sum on the same file (256 MiB by default, in the page
// cache), timed in one run. Each round starts a fresh process of this program that hashes the
// file several times: its first digest is what the launcher pays at start (the first file of a
// process), the later ones show whether the first pays for something they do not. md5sum runs
// in the same round as a fresh process too. Prints each round, then the medians and their
// ratios, by wall time and by CPU time (user + system; steadier when other work shares the
// processors). md5sum's figures include starting its process (about a millisecond); the
// child's do not.
// With "cold" (root only), the page cache is dropped before each fresh process and each md5sum,
// so that their first digest reads the file from the disk, as the first start after a reboot
// does; the later digests of the process then read it from memory.
// On a machine that others share, run it as `chrt -f 50 md5_bench ...`: the real-time class
// keeps their work from stretching the wall times (the children inherit it).
//   md5_bench [size-in-MiB] [rounds] [cold]
//   md5_bench --child PATH COUNT        (what each round runs: COUNT digests, one line each)

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "text/utf8.h"
#include "transfer/md5.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Cost {
    double wall = 0;
    double cpu = 0;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
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

// Runs a program with its standard output in a pipe; returns its first line, and its wall
// and CPU time (from the kernel's account of the child, not from a timing tool).
bool Run(const std::vector<std::string>& words, std::string& output, Cost& cost) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<char*> argv;
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        return false;
    }
    output.clear();
    char block[4096];
    for (ssize_t got; (got = read(pipeEnds[0], block, sizeof block)) > 0;)
        output.append(block, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    cost.wall = Seconds(Clock::now() - start);
    cost.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The child: COUNT digests of PATH, each as "digest wall cpu".
int Child(const std::string& path, int count) {
    const std::wstring widePath = Utf8ToWide(path);
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuSeconds();
        const std::wstring digest = CMD5Wrapper().FileHashW(widePath);
        const double cpu = ProcessCpuSeconds() - cpuStart;
        const double wall = Seconds(Clock::now() - start);
        std::printf("%s %.6f %.6f\n", WideToUtf8(digest).c_str(), wall, cpu);
    }
    return 0;
}

bool DropPageCache() {
    sync();
    std::FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (control == nullptr)
        return false;
    const bool written = std::fputs("3\n", control) >= 0;
    return std::fclose(control) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return Child(argv[2], std::atoi(argv[3]));
    const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = std::max(argc > 2 ? std::atoi(argv[2]) : 9, 1);
    const bool cold = argc > 3 && std::strcmp(argv[3], "cold") == 0;
    if (cold && !DropPageCache()) {
        std::fprintf(stderr, "cannot drop the page cache (needs root)\n");
        return 1;
    }
    constexpr int kDigestsPerChild = 4;

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
    const std::string self = std::filesystem::canonical("/proc/self/exe", error).string();

    // One untimed pass first, so that every round reads from the page cache.
    std::string line;
    Cost cost;
    int status = Run({"md5sum", path}, line, cost) ? 0 : 1;
    const std::string reference = line.substr(0, 32);

    std::vector<double> firstWall, firstCpu, laterWall, laterCpu, md5sumWall, md5sumCpu;
    for (int round = 0; round < rounds && status == 0; ++round) {
        std::string childOutput;
        Cost childCost;
        if ((cold && !DropPageCache()) ||
            !Run({self, "--child", path, std::to_string(kDigestsPerChild)}, childOutput,
                 childCost) ||
            (cold && !DropPageCache()) || !Run({"md5sum", path}, line, cost) ||
            line.substr(0, 32) != reference) {
            status = 1;
            break;
        }
        md5sumWall.push_back(cost.wall);
        md5sumCpu.push_back(cost.cpu);

        std::vector<double> roundLaterWall, roundLaterCpu;
        std::istringstream lines(childOutput);
        std::string digest;
        double wall = 0, cpu = 0;
        int index = 0;
        for (; lines >> digest >> wall >> cpu; ++index) {
            if (digest != reference)
                status = 1;
            if (index == 0) {
                firstWall.push_back(wall);
                firstCpu.push_back(cpu);
            } else {
                roundLaterWall.push_back(wall);
                roundLaterCpu.push_back(cpu);
            }
        }
        if (index != kDigestsPerChild || status != 0) {
            status = 1;
            break;
        }
        laterWall.push_back(Median(roundLaterWall));
        laterCpu.push_back(Median(roundLaterCpu));
        std::printf(
            "round %d: first %.3f s (cpu %.3f), later %.3f s (cpu %.3f), md5sum %.3f s "
            "(cpu %.3f)\n",
            round + 1, firstWall.back(), firstCpu.back(), laterWall.back(), laterCpu.back(),
            cost.wall, cost.cpu);
    }
    std::filesystem::remove_all(folder, error);
    if (status != 0) {
        std::fprintf(stderr, "a run failed or a digest differs from md5sum's %s\n",
                     reference.c_str());
        return status;
    }

    const double mib = static_cast<double>(mebibytes);
    const double fw = Median(firstWall), fc = Median(firstCpu);
    const double lw = Median(laterWall), lc = Median(laterCpu);
    const double mw = Median(md5sumWall), mc = Median(md5sumCpu);
    std::printf(
        "file: %zu MiB, %s; medians of %d rounds\n", mebibytes,
        cold ? "first digest and md5sum from the disk (page cache dropped)" : "in the page cache",
        rounds);
    std::printf(
        "wall: first FileHashW %.3f s (%.0f MiB/s), later %.3f s (%.0f MiB/s), md5sum "
        "%.3f s (%.0f MiB/s)\n",
        fw, mib / fw, lw, mib / lw, mw, mib / mw);
    std::printf("cpu:  first FileHashW %.3f s, later %.3f s, md5sum %.3f s\n", fc, lc, mc);
    std::printf("time ratio first/later:  wall %.3f, cpu %.3f\n", fw / lw, fc / lc);
    std::printf("time ratio first/md5sum: wall %.3f, cpu %.3f\n", fw / mw, fc / mc);
    return 0;
}
