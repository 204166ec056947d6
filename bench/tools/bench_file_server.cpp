// A plain HTTP file server for the download benchmarks: serves the files below one folder,
// streaming them from disk (no file is ever held in memory whole), with single byte ranges.
//
//   bench_file_server --root DIR [--host 127.0.0.1] [--port 0] [--port-file PATH] [--block BYTES]
//
// Port 0 (the default) takes any free port. The port is printed as "port N" on standard
// output, and written to --port-file when given (written whole, then renamed into place, so a
// script that sees the file can read it). The server runs until it is killed.

#include <httplib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tools/http/byte_range.h"
#include "tools/http/served_path.h"

namespace {

struct Options {
    std::filesystem::path root;
    std::string host = "127.0.0.1";
    int port = 0;
    std::string portFile;
    std::size_t block = 1024 * 1024;
};

void Usage() {
    std::cerr << "usage: bench_file_server --root DIR [--host ADDRESS] [--port N] "
                 "[--port-file PATH] [--block BYTES]\n";
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (name == "--root") {
            options.root = value;
        } else if (name == "--host") {
            options.host = value;
        } else if (name == "--port") {
            options.port = std::atoi(value.c_str());
        } else if (name == "--port-file") {
            options.portFile = value;
        } else if (name == "--block") {
            options.block = std::max<std::size_t>(4096, std::strtoull(value.c_str(), nullptr, 10));
        } else {
            return false;
        }
    }
    return !options.root.empty();
}

struct OpenFile {
    std::FILE* stream = nullptr;
    std::uint64_t position = 0;
    std::vector<char> block;
    ~OpenFile() {
        if (stream != nullptr) {
            std::fclose(stream);
        }
    }
};

void ServeFile(const Options& options, const httplib::Request& request,
               httplib::Response& response) {
    // httplib would apply the parsed ranges again after this handler, and gets ranges past the
    // end wrong; this server answers them itself.
    const_cast<httplib::Request&>(request).ranges.clear();
    std::filesystem::path path;
    if (!ResolveServedPath(options.root, request.path, path)) {
        response.status = 404;
        response.set_content("not found", "text/plain");
        return;
    }
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(path, error);
    auto file = std::make_shared<OpenFile>();
    file->stream = std::fopen(path.c_str(), "rb");
    if (error || file->stream == nullptr) {
        response.status = 403;
        response.set_content("cannot read", "text/plain");
        return;
    }
    ByteRange range{0, size};
    response.status = 200;
    const RangeRequest kind = request.has_header("Range")
                                  ? ParseByteRange(request.get_header_value("Range"), size, range)
                                  : RangeRequest::kNone;
    if (kind == RangeRequest::kNone)
        range = ByteRange{0, size};
    const std::uint64_t offset = range.offset;
    const std::uint64_t count = range.count;
    if (kind != RangeRequest::kNone) {
        if (kind == RangeRequest::kUnsatisfiable) {
            response.status = 416;
            response.set_header("Content-Range", UnsatisfiedContentRange(size));
            return;
        }
        response.status = 206;
        response.set_header("Content-Range", ContentRange(range, size));
    }
    if (count == 0) {
        return;
    }
    file->block.resize(options.block);
    const std::uint64_t base = offset;
    response.set_content_provider(
        static_cast<std::size_t>(count), "application/octet-stream",
        [file, base](std::size_t at, std::size_t length, httplib::DataSink& sink) {
            const std::uint64_t want = base + at;
            if (file->position != want) {
                if (std::fseek(file->stream, static_cast<long>(want), SEEK_SET) != 0) {
                    return false;
                }
                file->position = want;
            }
            const std::size_t chunk = std::min(length, file->block.size());
            const std::size_t got = std::fread(file->block.data(), 1, chunk, file->stream);
            if (got == 0) {
                return false;
            }
            file->position += got;
            return sink.write(file->block.data(), got);
        });
}

bool WritePortFile(const std::string& target, int port) {
    const std::string temporary = target + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << '\n';
        if (!out) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
#ifdef SIGPIPE
    // A client that hangs up mid-file costs one failed write, not the server.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Get(".*", [&options](const httplib::Request& request, httplib::Response& response) {
        ServeFile(options, request, response);
    });
    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.host);
    } else if (!server.bind_to_port(options.host, port)) {
        port = -1;
    }
    if (port <= 0) {
        std::cerr << "bench_file_server: cannot bind " << options.host << "\n";
        return 1;
    }
    std::cout << "port " << port << std::endl;
    if (!options.portFile.empty() && !WritePortFile(options.portFile, port)) {
        std::cerr << "bench_file_server: cannot write " << options.portFile << "\n";
        return 1;
    }
    return server.listen_after_bind() ? 0 : 1;
}
