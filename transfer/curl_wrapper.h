#pragma once
// The launcher's only road to the network, into memory or into a file the caller has opened.
// A wrapper drives its transfers through libcurl's multi interface on one easy handle kept for
// its whole life, with a share of name lookups, open connections and TLS sessions that every
// wrapper of the process uses in turn: the requests of a run to one server (the catalogue's, its
// signature's, the download worker's) go over one connection while the server keeps it open. One
// call at a time per wrapper; the multi handle is where several transfers at once will go.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "text/failure.h"
#include "transfer/memory_buffer.h"
#include "transfer/transfer_limits.h"

// Progress of one file transfer. The caller creates it zeroed, sets notify and context, and may
// raise stop from another thread; the transfer then ends at its next progress notification.
struct TransferProgress {
    double receiveTotal = 0;  // bytes expected (remaining part when resuming); 0 while unknown
    double received = 0;
    double receiveSpeed = 0;  // average bytes per second
    double sendTotal = 0;
    double sent = 0;
    double sendSpeed = 0;
    void (*notify)(TransferProgress*) = nullptr;
    void* context = nullptr;
    std::atomic<bool> stop{false};
};

// Sees the body's bytes in the order the file form writes them, each block once the stream
// has taken all of it; a block it did not take ends the transfer as failed. Runs on the thread
// of the transfer.
class FileWriteTap {
  public:
    virtual ~FileWriteTap() = default;
    virtual void Written(const unsigned char* data, std::size_t length) = 0;
};

// One connection's share of a transfer over several (DownloadRanges): the bytes [begin, end) of
// the file, from the source with that index.
struct RangeAssignment {
    std::size_t source = 0;
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

// The caller's side of DownloadRanges: hands out the ranges, takes their bytes and hears how
// each ended. Every call comes on the thread that called DownloadRanges, so nothing here needs a
// lock. A connection is named by its number, below the call's connection count.
class RangeSchedule {
  public:
    virtual ~RangeSchedule() = default;
    // The next range for a connection that has none; false while there is none for it (it is
    // asked again once anything has changed).
    virtual bool NextRange(std::size_t connection, RangeAssignment& range) = 0;
    // The next bytes of the connection's range, in order from its begin. Returns how many were
    // taken; fewer ends the connection's transfer, which then counts as complete exactly when
    // RangeComplete says so.
    virtual std::size_t Received(std::size_t connection, const unsigned char* data,
                                 std::size_t length) = 0;
    // Whether the connection's range has every byte up to its end (which the schedule may have
    // brought closer since it handed the range out).
    virtual bool RangeComplete(std::size_t connection) const = 0;
    // The connection's range ended, complete or not (cause null), or failed with cause. True
    // goes on with the other connections, false ends the whole transfer with that cause.
    virtual bool Ended(std::size_t connection, const Failure* cause) = 0;
};

// What identifies a server's copy of a document (its ETag and Last-Modified, as sent). A request
// that names them is answered 304 without a body while that copy is still the current one.
struct HttpValidators {
    std::string etag;
    std::string lastModified;
    bool Empty() const { return etag.empty() && lastModified.empty(); }
};

// Every form returns true exactly when libcurl reported success, with one exception for the
// file form below. In the memory form an error page is a success: its body is delivered like
// any other, and LastHttpStatus tells what the server said.
//
// failure, when given, is emptied at the start of the call and on a false result receives the
// cause, with the URL as subject: kStopped (stop raised), kStalled (too slow for too long, or
// out of time), kTooLarge (a memory body over kMaxMemoryBody), kSystem (writing the body failed:
// code is errno when it is known; ENOMEM when memory ran out), kNetwork for everything else
// libcurl refuses (resolving, connecting, TLS, a cut connection, a refused range, too many
// redirects, a malformed or refused URL): code is libcurl's CURLcode, detail its own words;
// kCertificate when the server's certificate was refused (code: the TLS library's verdict).
class CCurlWrapper {
  public:
    CCurlWrapper();
    ~CCurlWrapper();
    CCurlWrapper(const CCurlWrapper&) = delete;
    CCurlWrapper& operator=(const CCurlWrapper&) = delete;

    // Fetches the whole body into buffer (emptied first). A body over kMaxMemoryBody fails.
    // Whenever the call returns false the buffer is left empty, never holding part of a body.
    // aborted = the transfer was stopped; it is left untouched when no transfer was started.
    // stop, when given, may be raised from another thread: the transfer then ends within about
    // a second (the transfer looks at it between its waits for the network), as kStopped.
    // condition, when given and not empty, is sent as If-None-Match / If-Modified-Since: a 304
    // answer then succeeds with the buffer empty.
    bool DownloadToMemory(const std::wstring& url, MemoryBuffer& buffer, bool& aborted,
                          Failure* failure = nullptr, const std::atomic<bool>* stop = nullptr,
                          const HttpValidators* condition = nullptr);
    bool DownloadToMemory(const std::string& url, MemoryBuffer& buffer, bool& aborted,
                          Failure* failure = nullptr, const std::atomic<bool>* stop = nullptr,
                          const HttpValidators* condition = nullptr);
    // Fetches the body from resumeOffset on and writes it to file (opened by the caller, who
    // also closes it). A null file or a negative offset starts no transfer and returns false.
    // progress may be null; its notify runs on the calling thread. Asks for no compression:
    // ranges count bytes of the file itself.
    //
    // An error answer (status 400 and up) never reaches the file: nothing of its body is
    // written and the call fails with kHttpStatus (code: the status, detail: the reason phrase
    // of the status line). The one exception is a 416 to a resume, which libcurl treats as
    // "nothing left to fetch": true, nothing written, LastHttpStatus 416.
    //
    // sizeCap, when above 0, is the whole file's size: the file (resumeOffset included) never
    // grows past it. A Content-Length that would take it past fails before anything is
    // written, and a body that runs on fails at the first block that would; both kTooLarge.
    //
    // tap, when given, sees every byte written to file, in order.
    bool DownloadToFile(const std::wstring& url, std::FILE* file, std::int64_t resumeOffset,
                        TransferProgress* progress, bool& aborted, Failure* failure = nullptr,
                        std::int64_t sizeCap = 0, FileWriteTap* tap = nullptr);
    bool DownloadToFile(const std::string& url, std::FILE* file, std::int64_t resumeOffset,
                        TransferProgress* progress, bool& aborted, Failure* failure = nullptr,
                        std::int64_t sizeCap = 0, FileWriteTap* tap = nullptr);

    // Fetches the ranges schedule hands out over up to `connections` connections at once
    // (separate ones, never streams of one), each asking sources[range.source] for
    // "Range: bytes=begin-(end-1)". A range's bytes count only in a 206 answer whose
    // Content-Range starts at its begin and gives size as the whole; any other answer fails the
    // range before a byte is handed over: kHttpStatus for an error answer, kNetwork with
    // CURLE_RANGE_ERROR for a server that ignores ranges or answers another one.
    //
    // Ends with true once no connection has a range and none is handed out; with false, and
    // the cause, when Ended says so or a stop is raised (kStopped, aborted set). progress, when
    // given, counts every connection's bytes together (receiveTotal: expected), and its stop
    // flag ends the call. The wrapper's rate cap does not hold here: with one set, fetch over
    // one connection.
    bool DownloadRanges(const std::vector<std::wstring>& sources, std::int64_t size,
                        std::size_t connections, RangeSchedule& schedule,
                        TransferProgress* progress, std::int64_t expected, bool& aborted,
                        Failure* failure = nullptr);

    // The HTTP status of the last response of the last call (the final one after redirects);
    // 0 when that call got no response at all.
    long LastHttpStatus() const { return m_lastHttpStatus; }
    // The seconds the last response's Retry-After asked for (a number, or an HTTP date turned
    // into the seconds from now, 0 when past); -1 when it carried none.
    long LastRetryAfterSeconds() const { return m_lastRetryAfterSeconds; }
    // The validators of the last memory call's final response (empty when it sent none, or
    // one too long or not plain text to be sent back).
    const HttpValidators& LastValidators() const { return m_lastValidators; }

    // Ends the current wait for the network at once, so that a stop flag raised just before is
    // seen now rather than at the end of the wait. Any thread may call it while the wrapper lives.
    void Wake();

    // Test hook: replaces the low-speed time (kLowSpeedTimeSeconds, or the value of
    // kLowSpeedTimeVariable) for the following calls, so that a stall test fails in seconds.
    void SetLowSpeedTime(long seconds) { m_lowSpeedTimeSeconds = seconds; }
    long LowSpeedTime() const { return m_lowSpeedTimeSeconds; }
    // Test hook: replaces the memory form's overall time limit (kMemoryTimeLimitSeconds, or the
    // value of kMemoryTimeLimitVariable) for the following calls.
    void SetMemoryTimeLimit(long seconds) { m_memoryTimeLimitSeconds = seconds; }
    long MemoryTimeLimit() const { return m_memoryTimeLimitSeconds; }

    // The bandwidth cap of the file form in bytes per second, for the wrapper as a whole (0:
    // none). Its transfers run one at a time and each gets all of it; transfers run side by
    // side share it.
    void SetReceiveRateLimit(std::int64_t bytesPerSecond) { m_rateLimit = bytesPerSecond; }
    std::int64_t ReceiveRateLimit() const { return m_rateLimit; }

    // Test hook: the certificates of the authorities to trust for the following calls (a PEM
    // file) in place of the system's, so a test server's own authority can vouch for it.
    void SetCertificateAuthorities(std::string pemFile) { m_authorities = std::move(pemFile); }

  private:
    struct Session;
    std::unique_ptr<Session> m_session;
    long m_lowSpeedTimeSeconds = kLowSpeedTimeSeconds;
    long m_memoryTimeLimitSeconds = kMemoryTimeLimitSeconds;
    long m_lastHttpStatus = 0;
    long m_lastRetryAfterSeconds = -1;
    HttpValidators m_lastValidators;
    std::string m_authorities;
    std::int64_t m_rateLimit = 0;
};

// The process-wide instance; created and deleted by the application object.
extern CCurlWrapper* g_pCurlWrapper;
