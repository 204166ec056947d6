#include "tests/support/loopback_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "text/utf8.h"
#include "tools/http/byte_range.h"

namespace {

using Route = std::function<void(const httplib::Request&, httplib::Response&)>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kUnpacedBlock = 256 * 1024;
constexpr auto kPollStep = std::chrono::milliseconds(10);

// httplib applies Range headers by itself after the handler, and mishandles ranges beyond the
// end; this server answers ranges itself, so the parsed ranges must not be applied twice.
void TakeOverRanges(const httplib::Request& request) {
    const_cast<httplib::Request&>(request).ranges.clear();
}

}  // namespace

struct LoopbackServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = -1;
    std::atomic<bool> stopping{false};
    // Bodies of ServeBytes being sent right now, and the most there were at once.
    std::atomic<int> bodiesSending{0};
    std::atomic<int> bodiesPeak{0};

    mutable std::mutex mutex;
    std::map<std::string, Route> routes;
    std::vector<LoggedRequest> log;

    bool Stopping() const { return stopping.load(); }

    // Sleeps for `duration` unless the server stops first; false when it did.
    bool Pause(std::chrono::microseconds duration) const {
        const auto until = Clock::now() + duration;
        while (Clock::now() < until) {
            if (Stopping()) {
                return false;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(kPollStep, until - Clock::now()));
        }
        return !Stopping();
    }

    // Sends body[offset, offset + length) in one provider call's worth of blocks.
    bool SendSlice(const std::shared_ptr<const std::string>& body, std::size_t offset,
                   std::size_t length, std::size_t bytesPerSecond, httplib::DataSink& sink) const {
        if (Stopping()) {
            return false;
        }
        if (bytesPerSecond == 0) {
            const std::size_t block = std::min(length, kUnpacedBlock);
            return sink.write(body->data() + offset, block);
        }
        // Twenty blocks a second: fine enough for progress, coarse enough to be cheap.
        const std::size_t block = std::min(length, std::max<std::size_t>(1, bytesPerSecond / 20));
        if (!sink.write(body->data() + offset, block)) {
            return false;
        }
        return Pause(std::chrono::microseconds(block * 1000000 / bytesPerSecond));
    }

    void Handle(const httplib::Request& request, httplib::Response& response) {
        Route route;
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back({request.method, request.path, request.get_header_value("Range"),
                           request.get_header_value("User-Agent"),
                           request.get_header_value("Accept-Encoding"), request.remote_port,
                           request.get_header_value("Cache-Control"),
                           request.get_header_value("If-None-Match"),
                           request.get_header_value("If-Modified-Since")});
            const auto found = routes.find(request.path);
            if (found != routes.end()) {
                route = found->second;
            }
        }
        TakeOverRanges(request);
        if (!route) {
            response.status = 404;
            response.set_content("no behaviour registered for " + request.path, "text/plain");
            return;
        }
        route(request, response);
    }

    void SetRoute(const std::string& path, Route route) {
        std::lock_guard<std::mutex> lock(mutex);
        routes[path] = std::move(route);
    }
};

LoopbackServer::LoopbackServer(int requestsPerConnection) : m_impl(std::make_unique<Impl>()) {
#ifdef SIGPIPE
    // A client that hangs up mid-body must cost the server a failed write, not the test process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    Impl& impl = *m_impl;
    impl.server.set_tcp_nodelay(true);
    // One request per connection unless asked: a body without a length then ends with the
    // connection, and no idle keep-alive connection can delay the shutdown.
    impl.server.set_keep_alive_max_count(static_cast<std::size_t>(requestsPerConnection));
    impl.server.set_keep_alive_timeout(1);
    impl.server.Get(".*", [&impl](const httplib::Request& request, httplib::Response& response) {
        impl.Handle(request, response);
    });
    impl.port = impl.server.bind_to_any_port("127.0.0.1");
    if (impl.port <= 0) {
        impl.port = -1;
        return;
    }
    impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
    // stop() only reaches a server that is already listening, so wait for that here.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!impl.server.is_running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackServer::~LoopbackServer() {
    Impl& impl = *m_impl;
    impl.stopping = true;
    if (impl.thread.joinable()) {
        impl.server.stop();
        impl.thread.join();
    }
}

bool LoopbackServer::IsRunning() const {
    return m_impl->port > 0 && m_impl->server.is_running();
}

int LoopbackServer::Port() const {
    return m_impl->port;
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_impl->port) + path;
}

std::wstring LoopbackServer::WideUrl(const std::string& path) const {
    return Utf8ToWide(Url(path));
}

void LoopbackServer::ServeBytes(const std::string& path, std::string body, BodyOptions options) {
    Impl* impl = m_impl.get();
    auto shared = std::make_shared<const std::string>(std::move(body));
    impl->SetRoute(path, [impl, shared, options](const httplib::Request& request,
                                                 httplib::Response& response) {
        ByteRange range{0, shared->size()};
        response.status = options.status;
        const std::string header = request.get_header_value("Range");
        if (!header.empty() && options.ranges != RangeMode::kIgnore) {
            const RangeRequest kind = options.ranges == RangeMode::kRefuse
                                          ? RangeRequest::kUnsatisfiable
                                          : ParseByteRange(header, shared->size(), range);
            if (kind == RangeRequest::kUnsatisfiable) {
                response.status = 416;
                response.set_header("Content-Range", UnsatisfiedContentRange(shared->size()));
                response.set_content("range not satisfiable", "text/plain");
                return;
            }
            if (kind == RangeRequest::kSatisfiable) {
                response.status = 206;
                response.set_header("Content-Range", ContentRange(range, shared->size()));
            } else {
                range = ByteRange{0, shared->size()};
            }
        }
        if (range.count == 0) {
            response.set_header("Content-Length", "0");
            return;
        }
        const std::size_t base = static_cast<std::size_t>(range.offset);
        const std::size_t rate = options.bytesPerSecond;
        const int sending = ++impl->bodiesSending;
        for (int peak = impl->bodiesPeak.load(); sending > peak &&
                                                 !impl->bodiesPeak.compare_exchange_weak(peak, sending);) {
        }
        response.set_content_provider(
            range.count, options.contentType,
            [impl, shared, base, rate](std::size_t offset, std::size_t length,
                                       httplib::DataSink& sink) {
                return impl->SendSlice(shared, base + offset, length, rate, sink);
            },
            [impl](bool) { --impl->bodiesSending; });
    });
}

void LoopbackServer::ServeBlocks(const std::string& path, std::vector<std::string> blocks,
                                 std::chrono::milliseconds pause) {
    Impl* impl = m_impl.get();
    auto shared = std::make_shared<const std::vector<std::string>>(std::move(blocks));
    std::size_t total = 0;
    for (const std::string& block : *shared) {
        total += block.size();
    }
    impl->SetRoute(
        path, [impl, shared, total, pause](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                total, "application/octet-stream",
                [impl, shared, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    // The provider is asked again at each new offset; find the block that starts
                    // there.
                    std::size_t start = 0;
                    for (const std::string& block : *shared) {
                        if (start == offset && !block.empty()) {
                            if (offset != 0 && !impl->Pause(pause)) {
                                return false;
                            }
                            return sink.write(block.data(), block.size());
                        }
                        start += block.size();
                    }
                    return false;
                });
        });
}

void LoopbackServer::ServeRedirect(const std::string& path, const std::string& location,
                                   int status) {
    m_impl->SetRoute(path,
                     [location, status](const httplib::Request&, httplib::Response& response) {
                         response.set_redirect(location, status);
                     });
}

void LoopbackServer::ServeRedirectChain(const std::string& path, int hops, std::string finalBody) {
    for (int hop = 0; hop < hops; ++hop) {
        ServeRedirect(path + "/" + std::to_string(hop), path + "/" + std::to_string(hop + 1));
    }
    ServeBytes(path + "/" + std::to_string(hops), std::move(finalBody));
}

void LoopbackServer::ServeStatus(const std::string& path, int status, std::string page,
                                 std::vector<HeaderLine> headers) {
    m_impl->SetRoute(path,
                     [status, page, headers](const httplib::Request&, httplib::Response& response) {
                         response.status = status;
                         for (const HeaderLine& header : headers)
                             response.set_header(header.name, header.value);
                         response.set_content(page, "text/html");
                     });
}

void LoopbackServer::ServeFailingFirst(const std::string& path, int failures, int status,
                                       std::vector<HeaderLine> headers, std::string body) {
    // Both behaviours live under private names; this route picks one per request.
    const std::string failing = path + "#failing";
    const std::string serving = path + "#serving";
    ServeStatus(failing, status, "<html>busy</html>", std::move(headers));
    ServeBytes(serving, std::move(body));
    Impl* impl = m_impl.get();
    auto left = std::make_shared<std::atomic<int>>(failures);
    impl->SetRoute(path, [impl, left, failing, serving](const httplib::Request& request,
                                                        httplib::Response& response) {
        const std::string& chosen = left->fetch_sub(1) > 0 ? failing : serving;
        Route route;
        {
            std::lock_guard<std::mutex> lock(impl->mutex);
            route = impl->routes[chosen];
        }
        route(request, response);
    });
}

void LoopbackServer::ServeCutFirst(const std::string& path, int cuts, std::size_t headLength,
                                   std::string body) {
    auto shared = std::make_shared<const std::string>(std::move(body));
    const std::string serving = path + "#serving";
    ServeBytes(serving, *shared);
    Impl* impl = m_impl.get();
    auto left = std::make_shared<std::atomic<int>>(cuts);
    impl->SetRoute(path, [impl, left, serving, shared, headLength](const httplib::Request& request,
                                                                   httplib::Response& response) {
        if (left->fetch_sub(1) <= 0) {
            Route route;
            {
                std::lock_guard<std::mutex> lock(impl->mutex);
                route = impl->routes[serving];
            }
            route(request, response);
            return;
        }
        // The cut comes headLength bytes into whatever part was asked for.
        ByteRange range{0, shared->size()};
        const std::string header = request.get_header_value("Range");
        if (!header.empty() &&
            ParseByteRange(header, shared->size(), range) == RangeRequest::kSatisfiable) {
            response.status = 206;
            response.set_header("Content-Range", ContentRange(range, shared->size()));
        } else {
            range = ByteRange{0, shared->size()};
        }
        const std::size_t base = static_cast<std::size_t>(range.offset);
        const std::size_t head = std::min<std::size_t>(headLength, range.count);
        response.set_content_provider(
            range.count, "application/octet-stream",
            [shared, base, head](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset < head)
                    return sink.write(shared->data() + base + offset, head - offset);
                return false;
            });
    });
}

void LoopbackServer::ServeStall(const std::string& path, std::string head,
                                std::uint64_t declaredLength, std::chrono::milliseconds stall) {
    Impl* impl = m_impl.get();
    // The provider only runs while bytes are owed, so at least one must remain after the head.
    const std::size_t length =
        std::max<std::size_t>(static_cast<std::size_t>(declaredLength), head.size() + 1);
    impl->SetRoute(
        path, [impl, head, length, stall](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                length, "application/octet-stream",
                [impl, head, stall](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset < head.size()) {
                        return sink.write(head.data() + offset, head.size() - offset);
                    }
                    const auto until = Clock::now() + stall;
                    while (Clock::now() < until && !impl->Stopping() && sink.is_writable()) {
                        std::this_thread::sleep_for(kPollStep);
                    }
                    return false;
                });
        });
}

void LoopbackServer::ServeCut(const std::string& path, std::string head,
                              std::uint64_t declaredLength) {
    Impl* impl = m_impl.get();
    const std::size_t length =
        std::max<std::size_t>(static_cast<std::size_t>(declaredLength), head.size() + 1);
    impl->SetRoute(path, [head, length](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            length, "application/octet-stream",
            [head](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset < head.size()) {
                    return sink.write(head.data() + offset, head.size() - offset);
                }
                // Refusing to provide more makes httplib drop the connection mid-body.
                return false;
            });
    });
}

void LoopbackServer::ServeCurrent(const std::string& path, std::string body, std::string etag) {
    m_impl->SetRoute(path,
                     [body, etag](const httplib::Request& request, httplib::Response& response) {
                         response.set_header("ETag", etag);
                         response.set_header("Last-Modified", "Wed, 09 Dec 2026 08:00:00 GMT");
                         if (request.get_header_value("If-None-Match") == etag) {
                             response.status = 304;
                             return;
                         }
                         response.set_content(body, "application/xml");
                     });
}

void LoopbackServer::ServeWithoutLength(const std::string& path, std::string body, bool chunked) {
    auto shared = std::make_shared<const std::string>(std::move(body));
    m_impl->SetRoute(path, [shared, chunked](const httplib::Request&, httplib::Response& response) {
        auto provider = [shared](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= shared->size()) {
                sink.done();
                return true;
            }
            const std::size_t block = std::min(shared->size() - offset, std::size_t{1000});
            return sink.write(shared->data() + offset, block);
        };
        if (chunked) {
            response.set_chunked_content_provider("application/octet-stream", provider);
        } else {
            response.set_content_provider("application/octet-stream", provider);
        }
    });
}

int LoopbackServer::PeakBodiesAtOnce() const {
    return m_impl->bodiesPeak.load();
}

std::vector<LoggedRequest> LoopbackServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->log;
}

std::vector<LoggedRequest> LoopbackServer::RequestsFor(const std::string& path) const {
    std::vector<LoggedRequest> matching;
    for (const LoggedRequest& request : Requests()) {
        if (request.path == path) {
            matching.push_back(request);
        }
    }
    return matching;
}

void LoopbackServer::ClearRequests() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->log.clear();
}
