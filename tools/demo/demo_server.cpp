// velmora-demo-server: prepares the demo sandbox and serves its server/ folder on 127.0.0.1,
// so the launcher can be watched doing its whole job without the maker's download server.
// Prints the base URL as the only line on standard output, then serves until SIGINT, SIGTERM
// or the end of standard input (so a parent that dies takes the server with it).

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/demo/demo_data.h"
#include "tools/http/byte_range.h"
#include "tools/http/served_path.h"

namespace {

// Any thread may take the signal; a lock-free atomic is safe to set in a handler and is seen by
// the main thread's wait without a race.
std::atomic<bool> g_signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> g_stopping{false};
// Set by the standard-input watcher, which may outlive main's locals.
std::atomic<bool> g_inputEnded{false};

extern "C" void OnStopSignal(int) {
    g_signalled.store(true);
}

struct ServerOptions {
    std::string sandbox = "sandbox";
    bool reset = false;
    bool corrupt = false;
    int flakyCuts = 0;                 // connections cut half-way per patch file
    std::uint64_t bytesPerSecond = 0;  // 0: unthrottled
    std::string language = "English";
    std::uint32_t partBytes = DemoOptions{}.partBytes;
    std::string patcherVersion = DemoOptions{}.patcherVersion;
    bool watchStdin = true;
    bool verbose = false;
};

const char kUsage[] =
    "Usage: velmora-demo-server [options]\n"
    "Prepares the demo sandbox and serves it on 127.0.0.1; prints the base URL and serves\n"
    "until interrupted or until standard input ends.\n"
    "  --sandbox DIR           sandbox folder (default ./sandbox)\n"
    "  --reset                 start the sandbox over (the game is 1.0.0.0 again)\n"
    "  --slow RATE             send at most RATE bytes per second per download (suffix k or m)\n"
    "  --corrupt               serve one patch file with bytes that do not match its digest\n"
    "  --flaky N               cut the first N downloads of each patch file half-way (1 to 9)\n"
    "  --lang en|fr|de         the language written into the game profile (default en)\n"
    "  --part-size BYTES       size of each data file of the patch (suffix k or m)\n"
    "  --patcher-version V     the catalogue's launcher version (default 1.0.0.38)\n"
    "  --ignore-stdin          keep serving when standard input ends\n"
    "  --verbose               log every request to standard error\n";

// "1500", "64k", "2m": bytes, kibibytes, mebibytes. False for anything else or zero.
bool ParseAmount(const std::string& text, std::uint64_t& value) {
    if (text.empty())
        return false;
    std::uint64_t unit = 1;
    std::string digits = text;
    const char last = static_cast<char>(std::tolower(static_cast<unsigned char>(text.back())));
    if (last == 'k' || last == 'm') {
        unit = last == 'k' ? 1024 : 1024 * 1024;
        digits.pop_back();
    }
    if (digits.empty() || digits.size() > 12)
        return false;
    value = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(ch - '0');
    }
    value *= unit;
    return value > 0;
}

// False with a message on standard error when the command line cannot be used.
bool ParseOptions(int argc, char** argv, ServerOptions& options, bool& showHelp) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmora-demo-server: %s needs a value\n", arg.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            showHelp = true;
        } else if (arg == "--sandbox") {
            if (!value(options.sandbox))
                return false;
        } else if (arg == "--reset") {
            options.reset = true;
        } else if (arg == "--corrupt") {
            options.corrupt = true;
        } else if (arg == "--flaky") {
            if (!value(text))
                return false;
            if (text.size() != 1 || text[0] < '1' || text[0] > '9') {
                std::fprintf(stderr, "velmora-demo-server: --flaky takes a count from 1 to 9\n");
                return false;
            }
            options.flakyCuts = text[0] - '0';
        } else if (arg == "--ignore-stdin") {
            options.watchStdin = false;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--slow") {
            if (!value(text))
                return false;
            if (!ParseAmount(text, options.bytesPerSecond)) {
                std::fprintf(stderr, "velmora-demo-server: --slow takes a rate such as 512k\n");
                return false;
            }
        } else if (arg == "--part-size") {
            std::uint64_t bytes = 0;
            if (!value(text))
                return false;
            if (!ParseAmount(text, bytes) || bytes < 1024 || bytes > 256u * 1024u * 1024u) {
                std::fprintf(stderr, "velmora-demo-server: --part-size takes 1k to 256m bytes\n");
                return false;
            }
            options.partBytes = static_cast<std::uint32_t>(bytes);
        } else if (arg == "--lang") {
            if (!value(text))
                return false;
            options.language = DemoLanguageName(text);
            if (options.language.empty()) {
                std::fprintf(stderr, "velmora-demo-server: --lang takes en, fr or de\n");
                return false;
            }
        } else if (arg == "--patcher-version") {
            if (!value(options.patcherVersion))
                return false;
        } else {
            std::fprintf(stderr, "velmora-demo-server: unknown option %s (see --help)\n",
                         arg.c_str());
            return false;
        }
    }
    return true;
}

std::string ContentType(const std::filesystem::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".xml")
        return "text/xml; charset=utf-8";
    if (ext == ".html")
        return "text/html; charset=utf-8";
    return "application/octet-stream";
}

// One response's body: a byte range of a file, paced to the throttle.
struct BodyStream {
    std::ifstream file;
    std::uint64_t offset = 0;
    std::uint64_t bytesPerSecond = 0;
    std::uint64_t sent = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Sleeps until the body is back under its rate, waking up early when the server stops.
void Pace(const BodyStream& body) {
    if (body.bytesPerSecond == 0)
        return;
    const auto due =
        body.start + std::chrono::microseconds(body.sent * 1000000 / body.bytesPerSecond);
    while (!g_stopping && std::chrono::steady_clock::now() < due) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
    }
}

// A server that drops connections, for trying the launcher's retries: the first cuts downloads
// of every file but the catalogue end half-way through their body.
class FlakyConnections {
  public:
    explicit FlakyConnections(int cuts) : m_cuts(cuts) {}
    bool CutThisOne(const std::string& path) {
        if (m_cuts == 0 || path == "/patchinfo.xml" || path == "/patchinfo.xml.minisig")
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_served[path]++ < m_cuts;
    }

  private:
    const int m_cuts;
    std::mutex m_mutex;
    std::map<std::string, int> m_served;
};

void ServeFile(const std::filesystem::path& root, std::uint64_t bytesPerSecond,
               FlakyConnections& flaky, const httplib::Request& request,
               httplib::Response& response) {
    // httplib would cut the body to the Range header a second time after this handler.
    const_cast<httplib::Request&>(request).ranges.clear();

    std::filesystem::path file;
    if (!ResolveServedPath(root, request.path, file)) {
        response.status = 404;
        response.set_content("not found\n", "text/plain");
        return;
    }
    std::error_code ec;
    const std::uint64_t length = std::filesystem::file_size(file, ec);
    auto body = std::make_shared<BodyStream>();
    body->file.open(file, std::ios::binary);
    if (ec || !body->file) {
        response.status = 500;
        response.set_content("cannot read the file\n", "text/plain");
        return;
    }

    // As nginx makes its own: the file's size and time, so a rebuilt catalogue gets a new one
    // and a launcher that kept the old one is answered 304 only while it is current.
    const auto written = std::filesystem::last_write_time(file, ec).time_since_epoch().count();
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(length),
                  static_cast<unsigned long long>(written));
    response.set_header("ETag", etag);
    if (request.get_header_value("If-None-Match") == etag) {
        response.status = 304;
        return;
    }

    ByteRange range{0, length};
    response.set_header("Accept-Ranges", "bytes");
    const std::string header = request.get_header_value("Range");
    switch (header.empty() ? RangeRequest::kNone : ParseByteRange(header, length, range)) {
        case RangeRequest::kUnsatisfiable:
            response.status = 416;
            response.set_header("Content-Range", UnsatisfiedContentRange(length));
            response.set_content("range not satisfiable\n", "text/plain");
            return;
        case RangeRequest::kSatisfiable:
            response.status = 206;
            response.set_header("Content-Range", ContentRange(range, length));
            break;
        case RangeRequest::kNone:
            range = ByteRange{0, length};
            break;
    }
    body->offset = range.offset;
    body->bytesPerSecond = bytesPerSecond;
    // Small blocks when throttled, so a progress bar moves several times a second.
    const std::size_t block = bytesPerSecond == 0
                                  ? 64 * 1024
                                  : static_cast<std::size_t>(std::clamp<std::uint64_t>(
                                        bytesPerSecond / 10, 1024, 64 * 1024));

    // A probe for a byte or two (velmora-publish lint checks every address so) is no download.
    const bool cut = range.count > 2 && flaky.CutThisOne(request.path);
    const std::size_t cutAt =
        cut ? static_cast<std::size_t>(range.count / 2) : std::numeric_limits<std::size_t>::max();
    response.set_content_provider(
        static_cast<std::size_t>(range.count), ContentType(file),
        [body, block, cutAt](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (g_stopping || offset >= cutAt)
                return false;
            length = std::min(length, cutAt - offset);
            std::vector<char> buffer(std::min(block, length));
            body->file.seekg(static_cast<std::streamoff>(body->offset + offset));
            body->file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto got = static_cast<std::size_t>(body->file.gcount());
            // The file shrank under us (a sandbox reset while serving): end the connection
            // rather than announce bytes that will never come.
            if (got == 0)
                return false;
            if (!sink.write(buffer.data(), got))
                return false;
            body->sent += got;
            Pace(*body);
            return !g_stopping;
        });
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    bool showHelp = false;
    if (!ParseOptions(argc, argv, options, showHelp))
        return 2;
    if (showHelp) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGPIPE
    // A client that goes away mid-body must cost a connection, not the server.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    httplib::Server server;
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "velmora-demo-server: cannot listen on 127.0.0.1\n");
        return 1;
    }
    const std::string baseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";

    DemoOptions demo;
    demo.baseUrl = baseUrl;
    demo.corrupt = options.corrupt;
    demo.partBytes = options.partBytes;
    demo.patcherVersion = options.patcherVersion;
    demo.reset = options.reset;
    demo.language = options.language;
    DemoSandbox sandbox;
    std::string error;
    if (!DemoSandbox::Create(options.sandbox, demo, sandbox, error)) {
        std::fprintf(stderr, "velmora-demo-server: %s\n", error.c_str());
        return 1;
    }

    std::mutex logMutex;
    std::ofstream log(sandbox.root / "server.log", std::ios::app);
    const bool verbose = options.verbose;
    server.set_logger([&](const httplib::Request& request, const httplib::Response& response) {
        std::string line = request.method + " " + request.path;
        const std::string range = request.get_header_value("Range");
        if (!range.empty())
            line += " (" + range + ")";
        const std::string condition = request.get_header_value("If-None-Match");
        if (!condition.empty())
            line += " (If-None-Match: " + condition + ")";
        line += " -> " + std::to_string(response.status);
        std::lock_guard<std::mutex> lock(logMutex);
        log << line << std::endl;
        if (verbose)
            std::fprintf(stderr, "velmora-demo-server: %s\n", line.c_str());
    });
    const std::filesystem::path served = sandbox.serverFolder;
    const std::uint64_t rate = options.bytesPerSecond;
    auto flaky = std::make_shared<FlakyConnections>(options.flakyCuts);
    server.Get(".*",
               [served, rate, flaky](const httplib::Request& request, httplib::Response& response) {
                   ServeFile(served, rate, *flaky, request, response);
               });

    std::atomic<bool> listenEnded{false};
    std::thread listener([&] {
        server.listen_after_bind();
        listenEnded = true;
    });

    // A stop asked before the listener runs would be lost (the server only stops once it is
    // running), so the address is printed, and a signal becomes possible to act on, only then.
    while (!server.is_running() && !listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    if (options.watchStdin) {
        // Blocks in a read for the whole run; detached, since nothing can interrupt it.
        std::thread([] {
            while (std::fgetc(stdin) != EOF) {
            }
            g_inputEnded = true;
        }).detach();
    }

    std::printf("%s\n", baseUrl.c_str());
    std::fflush(stdout);
    if (verbose) {
        std::fprintf(stderr, "velmora-demo-server: serving %s at %s\n", served.string().c_str(),
                     baseUrl.c_str());
    }

    while (!g_signalled && !g_inputEnded && !listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    g_stopping = true;
    server.stop();
    listener.join();
    // The stdin reader may still sit in its read, holding the lock of stdin: flush only the
    // streams written to (flushing all would wait for that lock) and leave without it.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}
