// One download worker run, driven the way the download page drives it, for
// bench/worker_bench.sh: a DownloadJob fetches one file into a folder while this thread drains
// the message queue like a page would (100 ms text throttle included).
//
//   worker_bench_client URL FOLDER TARGET MD5 SIZE [SHA256]
//
// With SHA256 the entry lists it too, and the worker checks both digests.
//
// Prints, one "key value" per line: the seconds from the start to the end of the downloads
// (the worker's final position), to the verdict, the verdict, the messages the page received
// (all, posted texts, posted positions, the most in any one second) and the process's peak
// resident memory in KiB.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/patch_info.h"
#include "platform/window_messages.h"
#include "text/utf8.h"
#include "transfer/download_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Peak resident set size of this process in KiB (VmHWM), or -1.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long value = -1;
            status >> value;
            return value;
        }
        std::getline(status, key);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: worker_bench_client URL FOLDER TARGET MD5 SIZE [SHA256]\n");
        return 2;
    }
    PatchEntry patch;
    auto entry = std::make_unique<DownloadEntry>();
    entry->url = Utf8ToWide(std::string(argv[1]));
    entry->target = Utf8ToWide(std::string(argv[3]));
    entry->md5 = Utf8ToWide(std::string(argv[4]));
    entry->size = std::strtoll(argv[5], nullptr, 10);
    if (argc == 7)
        entry->sha256 = Utf8ToWide(std::string(argv[6]));
    patch.download_list.push_back(std::move(entry));

    auto queue = std::make_shared<platform::WindowMessageQueue>();
    DownloadJob job;
    const Clock::time_point start = Clock::now();
    if (!job.Start(&patch, Utf8ToWide(std::string(argv[2])), queue)) {
        std::fprintf(stderr, "the worker did not start\n");
        return 1;
    }

    Clock::time_point downloaded = start;
    Clock::time_point finished = start;
    bool done = false;
    int verdict = -1;
    long messages = 0, texts = 0, positions = 0;
    // Messages per whole second since the start, to find the busiest second.
    std::vector<long> perSecond;
    Clock::time_point lastShown = start - std::chrono::seconds(1);
    std::wstring shownText;
    int shownPosition = 0;

    while (!done) {
        queue->WaitForMessage(100);
        queue->Dispatch([&](const platform::WindowMessage& m) {
            const Clock::time_point now = Clock::now();
            const auto second = static_cast<std::size_t>(Seconds(start, now));
            if (perSecond.size() <= second)
                perSecond.resize(second + 1, 0);
            ++perSecond[second];
            ++messages;
            switch (m.id) {
                case WM_DL_SETPOS:
                    if (!m.sent)
                        ++positions;
                    shownPosition = static_cast<int>(m.wParam);
                    if (m.sent && m.wParam == 100)
                        downloaded = now;
                    break;
                case WM_DL_SETTEXT:
                    if (!m.sent)
                        ++texts;
                    // The page's throttle: a forced text at once, others after 100 ms.
                    if (m.lParam == 1 || now - lastShown > std::chrono::milliseconds(100)) {
                        shownText = m.text;
                        lastShown = now;
                    }
                    break;
                case WM_DL_FINISHED:
                    verdict = static_cast<int>(m.wParam);
                    finished = now;
                    done = true;
                    break;
                default:
                    break;
            }
        });
        if (!done && !job.IsRunning() && queue->PendingCount() == 0)
            break;
    }
    job.Cancel();

    long busiest = 0;
    for (long count : perSecond)
        busiest = count > busiest ? count : busiest;
    std::printf("download_seconds %.3f\n", Seconds(start, downloaded));
    std::printf("total_seconds %.3f\n", Seconds(start, finished));
    std::printf("verdict %d\n", verdict);
    std::printf("messages %ld\n", messages);
    std::printf("posted_texts %ld\n", texts);
    std::printf("posted_positions %ld\n", positions);
    std::printf("busiest_second_messages %ld\n", busiest);
    std::printf("last_position %d\n", shownPosition);
    std::printf("peak_rss_kib %ld\n", PeakResidentKiB());
    return verdict == 1 ? 0 : 1;
}
