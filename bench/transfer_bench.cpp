// Our side of the download benchmark (bench/download_bench.sh times it against `curl -s -o`):
// one DownloadToFile into a file, with a progress record whose notify formats the progress
// line the download page shows, as the download worker's does.
//
//   transfer_bench URL OUTPUT [STREAM_BUFFER_BYTES]
//
// STREAM_BUFFER_BYTES, when given, sets the output stream's buffer with setvbuf right after
// opening it, to measure what a caller gains from a larger stream buffer. (Measured with 1 MiB:
// nothing; the copy through the larger buffer cost more system time than the writes it saved.)
//
// Prints "bytes N seconds S lines L" and exits 0 when the transfer succeeded.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "text/utf8.h"
#include "transfer/curl_wrapper.h"

namespace {

struct LineContext {
    std::wstring displayName;
    wchar_t line[256] = {};
    unsigned long long lines = 0;
    unsigned long long checksum = 0;  // keeps the formatting from being optimised away
};

void FormatProgressLine(TransferProgress* progress) {
    auto* context = static_cast<LineContext*>(progress->context);
    const float done = static_cast<float>(progress->received) * (1.0f / 1024) * (1.0f / 1024);
    const float total = static_cast<float>(progress->receiveTotal) * (1.0f / 1024) * (1.0f / 1024);
    float speed = static_cast<float>(progress->receiveSpeed) * (1.0f / 1024);
    const wchar_t* unit = L"KB/s";
    if (speed >= 1024) {
        speed *= 1.0f / 1024;
        unit = L"MB/s";
    }
    if (total == 0) {
        return;
    }
    const int length =
        std::swprintf(context->line, 256, L"%ls %ls %.2f MB / %.2f MB (%.1f %ls)", L"Downloading",
                      context->displayName.c_str(), done, total, speed, unit);
    ++context->lines;
    context->checksum += static_cast<unsigned long long>(length) + context->line[length / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: transfer_bench URL OUTPUT [STREAM_BUFFER_BYTES]\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "transfer_bench: cannot open %s\n", argv[2]);
        return 1;
    }
    // glibc ignores the size when setvbuf is given no buffer, so hand it one.
    std::vector<char> streamBuffer(argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 0);
    if (!streamBuffer.empty() &&
        std::setvbuf(file, streamBuffer.data(), _IOFBF, streamBuffer.size()) != 0) {
        std::fprintf(stderr, "transfer_bench: setvbuf failed\n");
        return 1;
    }
    LineContext context;
    context.displayName = Utf8ToWide(std::string(argv[2]));
    TransferProgress progress;
    progress.notify = &FormatProgressLine;
    progress.context = &context;

    CCurlWrapper wrapper;
    bool aborted = false;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = wrapper.DownloadToFile(std::string(argv[1]), file, 0, &progress, aborted);
    const bool closed = std::fclose(file) == 0;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok || !closed) {
        std::fprintf(stderr, "transfer_bench: transfer failed (aborted %d)\n", aborted ? 1 : 0);
        return 1;
    }
    std::printf("bytes %.0f seconds %.3f lines %llu checksum %llu\n", progress.received, seconds,
                context.lines, context.checksum);
    return 0;
}
