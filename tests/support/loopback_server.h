#pragma once
// A real HTTP server on 127.0.0.1 for tests, running in its own thread inside the test
// process. Each path is given a behaviour: a body (with or without byte ranges), a redirect,
// an error page, a stall, a cut connection, a body without a length. Every request is logged
// so tests can check what the client asked for. Construction starts it on an ephemeral port;
// destruction stops it promptly, even while connections are stalled.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How a body answers a Range request.
enum class RangeMode {
    kHonour,  // 206 with Content-Range for a satisfiable range, 416 otherwise
    kIgnore,  // always 200 with the whole body, as servers without range support do
    kRefuse,  // always 416
};

struct BodyOptions {
    RangeMode ranges = RangeMode::kHonour;
    // 0: as fast as the socket takes it. Otherwise the body goes out in small blocks paced to
    // roughly this rate, so a client sees many progress notifications.
    std::size_t bytesPerSecond = 0;
    int status = 200;
    std::string contentType = "application/octet-stream";
};

// One request as the server received it.
struct LoggedRequest {
    std::string method;
    std::string path;
    std::string range;  // the Range header, empty when none was sent
    std::string userAgent;
    std::string acceptEncoding;  // empty when the client sent none
    int clientPort = 0;          // the client's end of the connection: one per connection
    std::string cacheControl;    // empty when the client sent none
    std::string ifNoneMatch;     // the request's conditions, empty when not sent
    std::string ifModifiedSince;
};

// A header of an answer.
struct HeaderLine {
    std::string name;
    std::string value;
};

class LoopbackServer {
  public:
    // Each connection carries at most requestsPerConnection requests before the server closes it.
    explicit LoopbackServer(int requestsPerConnection = 1);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // False when no port could be bound; every other call is then harmless.
    bool IsRunning() const;
    int Port() const;
    // "http://127.0.0.1:<port>" followed by path (which starts with '/').
    std::string Url(const std::string& path) const;
    std::wstring WideUrl(const std::string& path) const;

    // --- Behaviours, one per path; registering a path again replaces its behaviour. -------

    void ServeBytes(const std::string& path, std::string body, BodyOptions options = {});
    // Sends the blocks one after another with a pause between them, so the client receives
    // them as separate reads.
    void ServeBlocks(const std::string& path, std::vector<std::string> blocks,
                     std::chrono::milliseconds pause = std::chrono::milliseconds(100));
    void ServeRedirect(const std::string& path, const std::string& location, int status = 302);
    // path + "/0" redirects to path + "/1" and so on; path + "/<hops>" serves finalBody. A
    // client that starts at path + "/0" meets exactly `hops` redirects.
    void ServeRedirectChain(const std::string& path, int hops, std::string finalBody);
    // An error status with a page as its body (a 404 with an HTML page, say).
    void ServeStatus(const std::string& path, int status, std::string page,
                     std::vector<HeaderLine> headers = {});
    // The first `failures` requests get the error status (with its page and headers); every
    // later one is served like ServeBytes with body. A server that is briefly overloaded.
    void ServeFailingFirst(const std::string& path, int failures, int status,
                           std::vector<HeaderLine> headers, std::string body);
    // The first `cuts` requests get head (the start of body, or of the asked-for range) and
    // then lose their connection; later ones are served like ServeBytes with body.
    void ServeCutFirst(const std::string& path, int cuts, std::size_t headLength, std::string body);
    // Announces declaredLength bytes, sends head, then sends nothing more for `stall` (or until
    // the client goes away or the server stops) and closes the connection.
    void ServeStall(const std::string& path, std::string head, std::uint64_t declaredLength,
                    std::chrono::milliseconds stall);
    // Announces declaredLength bytes, sends head (shorter), then closes the connection.
    void ServeCut(const std::string& path, std::string head, std::uint64_t declaredLength);
    // A document with validators: 200 with ETag: etag and a fixed Last-Modified, or 304 without
    // a body to a request whose If-None-Match names etag.
    void ServeCurrent(const std::string& path, std::string body, std::string etag);
    // A body whose end is marked by chunked encoding, or else by closing the connection.
    void ServeWithoutLength(const std::string& path, std::string body, bool chunked);

    // --- Request log ----------------------------------------------------------------------

    std::vector<LoggedRequest> Requests() const;
    std::vector<LoggedRequest> RequestsFor(const std::string& path) const;
    void ClearRequests();
    // The most bodies of ServeBytes paths that were being sent at the same time.
    int PeakBodiesAtOnce() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
