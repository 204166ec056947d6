#include "transfer/curl_wrapper.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/platform.h"
#include "text/utf8.h"

CCurlWrapper* g_pCurlWrapper = nullptr;

namespace {

// Why a write function refused a block; libcurl only learns "write error".
enum class WriteFault { kNone, kTooLarge, kNoMemory, kSystem, kHttpError };

// What the write-to-memory function works on. The capacity lives here rather than in
// MemoryBuffer because the buffer's owner only ever sees bytes and byteCount.
struct MemorySink {
    MemoryBuffer* buffer = nullptr;
    std::size_t capacity = 0;
    WriteFault fault = WriteFault::kNone;
};

// What the write-to-file function works on: the caller's stream, the room left below the
// file's listed size (-1: no cap), and the errno of the first write that failed (0 while none
// did, or when the C library did not say).
// Holds a capped transfer to its rate from its first byte on: libcurl's own limit (7.88) lets a
// fast link through whenever the socket has more waiting, since it reads up to a hundred blocks
// in one go before it looks at the rate again (seen on loopback: 4 MiB capped at 500 KiB/s in
// anything from 0.1 s to 5.8 s). Sleeping here leaves the bytes in the socket, and the sender
// slows down to match.
struct Pacer {
    std::int64_t bytesPerSecond = 0;  // 0: no cap
    const TransferProgress* record = nullptr;
    std::chrono::steady_clock::time_point start{};
    std::int64_t bytes = 0;

    void Take(std::size_t n) {
        if (bytesPerSecond <= 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (bytes == 0)
            start = now;
        bytes += static_cast<std::int64_t>(n);
        const auto due = start + std::chrono::microseconds(bytes * 1000000 / bytesPerSecond);
        // In short steps, so that a stop is seen as soon as between the waits for the network.
        while (std::chrono::steady_clock::now() < due &&
               !(record != nullptr && record->stop.load(std::memory_order_acquire)))
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                std::chrono::milliseconds(20), due - std::chrono::steady_clock::now()));
    }
};

struct FileSink {
    std::FILE* file = nullptr;
    CURL* handle = nullptr;
    FileWriteTap* tap = nullptr;
    Pacer pacer;
    std::int64_t room = -1;
    bool statusChecked = false;
    WriteFault fault = WriteFault::kNone;
    int error = 0;
};

// What the header function keeps of the final response: the reason phrase of its status line
// and its Retry-After. A redirect's or an interim answer's status line starts afresh.
struct HeaderSink {
    std::string reason;
    long retryAfterSeconds = -1;
    HttpValidators validators;
    // "Content-Range: bytes <first>-<last>/<whole>"; -1 while the answer carried none.
    std::int64_t rangeFirst = -1;
    std::int64_t rangeWhole = -1;
};

// A validator goes back to the server in a header of ours: one that would not fit a header
// line, or any server's idea of a sensible length, is not kept.
constexpr std::size_t kMaxValidatorLength = 512;

std::string ValidatorValue(std::string_view value) {
    if (value.empty() || value.size() > kMaxValidatorLength)
        return {};
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return {};
    return std::string(value);
}

// What the progress function works on: the caller's record and the handle of this very
// transfer, so the speed query never reaches into another instance's transfer.
struct ProgressSink {
    TransferProgress* record = nullptr;
    CURL* handle = nullptr;
    // A stop flag of the caller's, for a transfer without a progress record.
    const std::atomic<bool>* stop = nullptr;
};

// The block belongs to the sink while the transfer runs, whatever byteCount says.
void EmptySink(MemorySink& sink) {
    std::free(sink.buffer->bytes);
    sink.buffer->bytes = nullptr;
    sink.buffer->byteCount = 0;
    sink.capacity = 0;
}

// Appends one block behind the body, keeping the terminating NUL. The capacity doubles, so a
// body of n bytes costs O(n) copying in all, however finely the server cuts it.
std::size_t WriteToMemory(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<MemorySink*>(user);
    if (sink == nullptr || sink->buffer == nullptr) {
        return 0;
    }
    if (size == 0 || count == 0) {
        return 0;
    }
    MemoryBuffer& buffer = *sink->buffer;
    const std::size_t body = buffer.byteCount == 0 ? 0 : buffer.byteCount - 1;
    // Written so that neither the product nor the sum can wrap.
    if (count > kMaxMemoryBody / size || size * count > kMaxMemoryBody - body) {
        EmptySink(*sink);
        sink->fault = WriteFault::kTooLarge;
        return 0;
    }
    const std::size_t n = size * count;
    const std::size_t needed = body + n + 1;
    if (needed > sink->capacity) {
        std::size_t capacity = std::max(needed, sink->capacity * 2);
        capacity = std::min<std::size_t>(capacity, std::size_t{kMaxMemoryBody} + 1);
        auto* grown = static_cast<unsigned char*>(std::realloc(buffer.bytes, capacity));
        if (grown == nullptr) {
            EmptySink(*sink);
            sink->fault = WriteFault::kNoMemory;
            return 0;
        }
        buffer.bytes = grown;
        sink->capacity = capacity;
    }
    std::memcpy(buffer.bytes + body, data, n);
    buffer.byteCount = static_cast<std::uint32_t>(needed);
    buffer.bytes[needed - 1] = 0;
    return n;
}

// libcurl's own writer does the same fwrite, but by the time the transfer has failed the errno
// of the write is gone; kept here, it tells a full disk from a vanished folder.
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<FileSink*>(user);
    const std::size_t n = size * count;
    // An error page is not the file; the status is known by the time the first block arrives.
    if (!sink->statusChecked) {
        sink->statusChecked = true;
        long status = 0;
        if (curl_easy_getinfo(sink->handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
            status >= 400) {
            sink->fault = WriteFault::kHttpError;
            return 0;
        }
    }
    if (sink->room >= 0) {
        if (static_cast<std::uint64_t>(n) > static_cast<std::uint64_t>(sink->room)) {
            sink->fault = WriteFault::kTooLarge;
            return 0;
        }
        sink->room -= static_cast<std::int64_t>(n);
    }
    errno = 0;
    const std::size_t written = std::fwrite(data, 1, n, sink->file);
    if (written != n) {
        if (sink->fault == WriteFault::kNone) {
            sink->fault = WriteFault::kSystem;
            sink->error = errno;
        }
    } else {
        if (sink->tap != nullptr)
            sink->tap->Written(reinterpret_cast<const unsigned char*>(data), n);
        sink->pacer.Take(n);
    }
    return written;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// Retry-After is either whole seconds or an HTTP date; anything else counts as absent.
long ParseRetryAfter(std::string_view value) {
    long seconds = 0;
    const auto [last, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error == std::errc{} && last == value.data() + value.size())
        return seconds < 0 ? -1 : seconds;
    const std::string text(value);
    const time_t when = curl_getdate(text.c_str(), nullptr);
    if (when < 0)
        return -1;
    const time_t now = std::time(nullptr);
    return when <= now ? 0 : static_cast<long>(std::min<time_t>(when - now, 1L << 30));
}

// Only the satisfied form counts: "bytes 100-199/1000". "bytes */1000" (a refusal) and a
// whole of "*" leave the range unknown.
void ParseContentRange(std::string_view value, HeaderSink& sink) {
    sink.rangeFirst = -1;
    sink.rangeWhole = -1;
    if (!StartsWithNoCase(value, "bytes "))
        return;
    value.remove_prefix(6);
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return;
    std::int64_t first = 0;
    std::int64_t whole = 0;
    const std::string_view firstText = value.substr(0, dash);
    const std::string_view wholeText = value.substr(slash + 1);
    const auto parsedFirst =
        std::from_chars(firstText.data(), firstText.data() + firstText.size(), first);
    const auto parsedWhole =
        std::from_chars(wholeText.data(), wholeText.data() + wholeText.size(), whole);
    if (parsedFirst.ec != std::errc{} || parsedFirst.ptr != firstText.data() + firstText.size() ||
        parsedWhole.ec != std::errc{} || parsedWhole.ptr != wholeText.data() + wholeText.size())
        return;
    sink.rangeFirst = first;
    sink.rangeWhole = whole;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<HeaderSink*>(user);
    const std::size_t n = size * count;
    const std::string_view line(data, n);
    if (StartsWithNoCase(line, "http/")) {
        *sink = HeaderSink{};
        // "HTTP/1.1 503 Service Unavailable": the reason is whatever follows the code.
        const std::size_t code = line.find(' ');
        const std::size_t reason = code == std::string_view::npos ? code : line.find(' ', code + 1);
        if (reason != std::string_view::npos)
            sink->reason = std::string(TrimBlanks(line.substr(reason + 1)));
    } else if (StartsWithNoCase(line, "retry-after:")) {
        sink->retryAfterSeconds = ParseRetryAfter(TrimBlanks(line.substr(12)));
    } else if (StartsWithNoCase(line, "etag:")) {
        sink->validators.etag = ValidatorValue(TrimBlanks(line.substr(5)));
    } else if (StartsWithNoCase(line, "last-modified:")) {
        sink->validators.lastModified = ValidatorValue(TrimBlanks(line.substr(14)));
    } else if (StartsWithNoCase(line, "content-range:")) {
        ParseContentRange(TrimBlanks(line.substr(14)), *sink);
    }
    return n;
}

int OnProgress(void* user, curl_off_t receiveTotal, curl_off_t received, curl_off_t sendTotal,
               curl_off_t sent) {
    auto* sink = static_cast<ProgressSink*>(user);
    if (sink == nullptr) {
        return 0;
    }
    if (sink->stop != nullptr && sink->stop->load(std::memory_order_acquire)) {
        return 1;
    }
    if (sink->record == nullptr) {
        return 0;
    }
    TransferProgress& record = *sink->record;
    if (record.stop.load(std::memory_order_acquire)) {
        return 1;
    }
    record.receiveTotal = static_cast<double>(receiveTotal);
    record.received = static_cast<double>(received);
    record.sendTotal = static_cast<double>(sendTotal);
    record.sent = static_cast<double>(sent);
    if (sink->handle != nullptr) {
        curl_off_t speed = 0;
        if (curl_easy_getinfo(sink->handle, CURLINFO_SPEED_DOWNLOAD_T, &speed) == CURLE_OK) {
            record.receiveSpeed = static_cast<double>(speed);
        }
        speed = 0;
        if (curl_easy_getinfo(sink->handle, CURLINFO_SPEED_UPLOAD_T, &speed) == CURLE_OK) {
            record.sendSpeed = static_cast<double>(speed);
        }
    }
    if (record.notify != nullptr) {
        record.notify(&record);
    }
    return 0;
}

long SecondsFromEnvironment(const char* variable, long fallback) {
    const char* text = std::getenv(variable);
    if (text == nullptr) {
        return fallback;
    }
    long seconds = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, seconds);
    if (error != std::errc{} || last != end || seconds < 1 || seconds > kMaxLowSpeedTimeSeconds) {
        return fallback;
    }
    return seconds;
}

// The fixed option list of every transfer, in its documented order; the two forms differ only
// in where the body goes, which progress record is told, and the resume offset.
void SetTransferOptions(CURL* handle, char* errorText, const std::string& url,
                        curl_write_callback writer, void* writeData, void* progressData,
                        curl_off_t resumeOffset) {
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_HEADER, 0L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writer);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, writeData);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, progressData);
    curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, resumeOffset);
}

// The launcher's bounds, set after the fixed option list on every handle.
void SetLimits(CURL* handle, long lowSpeedTimeSeconds, const std::string& authorities) {
    if (!authorities.empty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, authorities.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, lowSpeedTimeSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
#else
#if defined(VELMORA_REQUIRE_HTTPS)
    constexpr long kSchemes = CURLPROTO_HTTPS;
#else
    constexpr long kSchemes = CURLPROTO_HTTP | CURLPROTO_HTTPS;
#endif
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS, kSchemes);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS, kSchemes);
#endif
}

bool HasEmbeddedNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

void SetFailure(Failure* out, Failure failure) {
    if (out != nullptr)
        *out = std::move(failure);
}

// A URL that never reached libcurl fails the way libcurl would have failed it.
Failure MalformedUrl(std::wstring url, const char* why) {
    return MakeFailure(FailureClass::kNetwork, CURLE_URL_MALFORMAT, why, std::move(url));
}

// The cause of a finished transfer that did not succeed: libcurl's code, its words from the
// error buffer (or its general text for the code when the buffer stayed empty), and what the
// write function knows of a write error.
Failure TransferFailure(CURLcode code, const char* errorText, const std::string& url,
                        WriteFault fault, int error, long verifyResult) {
    std::string words = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    std::wstring subject = Utf8ToWide(std::string_view(url));
    switch (code) {
        case CURLE_ABORTED_BY_CALLBACK:
            return MakeFailure(FailureClass::kStopped, code, std::move(words), std::move(subject));
        case CURLE_PEER_FAILED_VERIFICATION:
            return MakeFailure(FailureClass::kCertificate, static_cast<int>(verifyResult),
                               std::move(words), std::move(subject));
        case CURLE_OPERATION_TIMEDOUT:
            return MakeFailure(FailureClass::kStalled, code, std::move(words), std::move(subject));
        case CURLE_FILESIZE_EXCEEDED:
            return MakeFailure(FailureClass::kTooLarge, code, std::move(words), std::move(subject));
        case CURLE_OUT_OF_MEMORY:
            return SystemFailure(ENOMEM, std::move(subject));
        case CURLE_WRITE_ERROR:
            if (fault == WriteFault::kTooLarge)
                return MakeFailure(FailureClass::kTooLarge, code,
                                   "more than " + std::to_string(kMaxMemoryBody) + " bytes",
                                   std::move(subject));
            if (fault == WriteFault::kNoMemory)
                return SystemFailure(ENOMEM, std::move(subject));
            if (error != 0)
                return SystemFailure(error, std::move(subject));
            return MakeFailure(FailureClass::kSystem, 0, std::move(words), std::move(subject));
        default:
            return MakeFailure(FailureClass::kNetwork, code, std::move(words), std::move(subject));
    }
}

// The longest wait for the network between two looks at the stop flags.
constexpr int kPollMilliseconds = 250;

bool StopRaised(const std::atomic<bool>* stop, const TransferProgress* record) {
    return (stop != nullptr && stop->load(std::memory_order_acquire)) ||
           (record != nullptr && record->stop.load(std::memory_order_acquire));
}

CURLcode FromMulti(CURLMcode code) {
    return code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
}

// One transfer on one easy handle, from its options to its result. Several at once will each
// have one of these on a handle of its own in the same multi handle.
struct Transfer {
    CURL* easy = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    CURLcode result = CURLE_OK;
    long httpStatus = 0;
    // The TLS library's verdict on the server's certificate (X509_V_OK when none was checked).
    long verifyResult = 0;
};

// Name lookups, TLS sessions and open connections: what a later request to the same server
// reuses.
void ShareWhatTransfersReuse(CURLSH* share) {
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
#if LIBCURL_VERSION_NUM >= 0x073900
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
#endif
}

// What every wrapper of the process may share: open connections, name lookups, TLS sessions. The
// download worker's wrapper then finds the connection the catalogue's fetch left open, and a
// start over HTTPS pays one handshake. libcurl does not support one connection cache used by
// several threads at the same moment, so a transfer holds it alone (inUse), and one that finds
// it held uses its own wrapper's caches instead.
class ProcessShare {
  public:
    // The one that lives while any wrapper does.
    static std::shared_ptr<ProcessShare> Instance() {
        static std::mutex lock;
        static std::weak_ptr<ProcessShare> current;
        const std::lock_guard<std::mutex> guard(lock);
        std::shared_ptr<ProcessShare> share = current.lock();
        if (share == nullptr) {
            share = std::make_shared<ProcessShare>();
            current = share;
        }
        return share;
    }

    ProcessShare() {
        if (handle == nullptr)
            return;
        // A wrapper that lets go of the share still detaches from another thread.
        curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &Lock);
        curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &Unlock);
        curl_share_setopt(handle, CURLSHOPT_USERDATA, this);
        ShareWhatTransfersReuse(handle);
    }
    ~ProcessShare() {
        if (handle != nullptr)
            curl_share_cleanup(handle);
    }
    ProcessShare(const ProcessShare&) = delete;
    ProcessShare& operator=(const ProcessShare&) = delete;

    CURLSH* const handle = curl_share_init();
    std::mutex inUse;

  private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<ProcessShare*>(user)->m_locks[Index(data)].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<ProcessShare*>(user)->m_locks[Index(data)].unlock();
    }
    static std::size_t Index(curl_lock_data data) {
        const auto index = static_cast<std::size_t>(data);
        return index < kKinds ? index : 0;
    }

    static constexpr std::size_t kKinds = CURL_LOCK_DATA_LAST;
    std::mutex m_locks[kKinds];
};

}  // namespace

// The handles of one wrapper. The easy handle is kept from call to call: what it learnt of a
// server (its address, an open connection, a TLS session) lives in the share, and both outlive
// a single request.
struct CCurlWrapper::Session {
    CURL* easy = curl_easy_init();  // first: it sets the library up when nobody else did
    CURLM* multi = curl_multi_init();
    CURLSH* share = curl_share_init();
    // Released after easy, so the process's share is never left with a handle using it.
    std::shared_ptr<ProcessShare> common = ProcessShare::Instance();

    Session() {
        if (share != nullptr)
            ShareWhatTransfersReuse(share);
    }
    ~Session() {
        // The share refuses to go while a handle still uses it.
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        if (multi != nullptr)
            curl_multi_cleanup(multi);
        if (share != nullptr)
            curl_share_cleanup(share);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Ready() const {
        return easy != nullptr && multi != nullptr && share != nullptr;
    }

    // A transfer on the kept handle, its options still to be set.
    Transfer Begin() {
        Transfer transfer;
        transfer.easy = easy;
        curl_easy_setopt(easy, CURLOPT_SHARE, share);
        return transfer;
    }

    // Runs transfer to its end. The stop flags are looked at between waits for the network, so
    // one raised ends the transfer within kPollMilliseconds, at once when Wake follows it. The
    // handle then forgets every option, so none of them points into a finished call's frame.
    void Run(Transfer& transfer, const std::atomic<bool>* stop, const TransferProgress* record) {
        // The connections of the whole process when no other transfer is using them.
        std::unique_lock<std::mutex> holding(common->inUse, std::try_to_lock);
        const bool shared = holding.owns_lock() && common->handle != nullptr;
        if (shared)
            curl_easy_setopt(transfer.easy, CURLOPT_SHARE, common->handle);
        CURLMcode status = curl_multi_add_handle(multi, transfer.easy);
        bool done = status != CURLM_OK;
        transfer.result = done ? FromMulti(status) : CURLE_OK;
        while (!done) {
            int running = 0;
            status = curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == transfer.easy) {
                    transfer.result = message->data.result;
                    done = true;
                }
            }
            if (done)
                break;
            if (status == CURLM_OK && StopRaised(stop, record))
                transfer.result = CURLE_ABORTED_BY_CALLBACK;
            else if (status == CURLM_OK)
                status = curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
            if (status != CURLM_OK)
                transfer.result = FromMulti(status);
            done = transfer.result != CURLE_OK;
        }
        transfer.httpStatus = 0;
        if (curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &transfer.httpStatus) !=
            CURLE_OK)
            transfer.httpStatus = 0;
        if (curl_easy_getinfo(transfer.easy, CURLINFO_SSL_VERIFYRESULT, &transfer.verifyResult) !=
            CURLE_OK)
            transfer.verifyResult = 0;
        curl_multi_remove_handle(multi, transfer.easy);
        // Let go of the process's share while still holding it; the connection stays there.
        if (shared)
            curl_easy_setopt(transfer.easy, CURLOPT_SHARE, share);
        curl_easy_reset(transfer.easy);
    }

    void Wake() {
        curl_multi_wakeup(multi);
    }
};

CCurlWrapper::~CCurlWrapper() = default;

void CCurlWrapper::Wake() {
    if (m_session != nullptr && m_session->multi != nullptr)
        m_session->Wake();
}

CCurlWrapper::CCurlWrapper()
    : m_lowSpeedTimeSeconds(SecondsFromEnvironment(kLowSpeedTimeVariable, kLowSpeedTimeSeconds)),
      m_memoryTimeLimitSeconds(
          SecondsFromEnvironment(kMemoryTimeLimitVariable, kMemoryTimeLimitSeconds)) {
    m_session = std::make_unique<Session>();
}

bool CCurlWrapper::DownloadToMemory(const std::wstring& url, MemoryBuffer& buffer, bool& aborted,
                                    Failure* failure, const std::atomic<bool>* stop,
                                    const HttpValidators* condition) {
    std::string narrow;
    if (!WideToUtf8(url.c_str(), narrow)) {
        m_lastHttpStatus = 0;
        SetFailure(failure, MalformedUrl(url, "the address cannot be converted to UTF-8"));
        return false;
    }
    return DownloadToMemory(narrow, buffer, aborted, failure, stop, condition);
}

bool CCurlWrapper::DownloadToMemory(const std::string& url, MemoryBuffer& buffer, bool& aborted,
                                    Failure* failure, const std::atomic<bool>* stop,
                                    const HttpValidators* condition) {
    SetFailure(failure, Failure{});
    m_lastHttpStatus = 0;
    m_lastValidators = HttpValidators{};
    ReleaseBuffer(buffer);
    // A block with a zero count is not ours to free or to grow; forget it.
    buffer.bytes = nullptr;
    buffer.byteCount = 0;
    // libcurl reads the URL up to its first NUL; a URL that carries one is not the URL asked for.
    if (HasEmbeddedNul(url)) {
        SetFailure(failure, MalformedUrl(Utf8ToWide(std::string_view(url)),
                                         "the address contains a NUL character"));
        return false;
    }
    if (stop != nullptr && stop->load(std::memory_order_acquire)) {
        aborted = true;
        SetFailure(failure,
                   MakeFailure(FailureClass::kStopped, 0, {}, Utf8ToWide(std::string_view(url))));
        return false;
    }
    if (!m_session->Ready()) {
        SetFailure(failure, SystemFailure(ENOMEM, Utf8ToWide(std::string_view(url))));
        return false;
    }

    Transfer transfer = m_session->Begin();
    CURL* handle = transfer.easy;
    MemorySink sink{&buffer, 0};
    ProgressSink progressSink{nullptr, handle, stop};
    SetTransferOptions(handle, transfer.errorText, url, &WriteToMemory, &sink, &progressSink, 0);
    SetLimits(handle, m_lowSpeedTimeSeconds, m_authorities);
    // An announced length over the cap fails before a byte is stored; the write function
    // still enforces it for bodies without a length.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t{kMaxMemoryBody});
    // A catalogue compresses well; "" offers every encoding this libcurl can decode.
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, m_memoryTimeLimitSeconds);
    // The memory form fetches the catalogue and its signature, which change under the same
    // address when a patch is released: a caching proxy must ask the server again.
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Cache-Control: no-cache"), &curl_slist_free_all);
    // The copy the caller keeps: the server (and the proxy asking on its behalf) can answer
    // "unchanged" in a few bytes. A validator that could break the header line is never sent.
    const auto addHeader = [&headers](const char* name, const std::string& value) {
        if (headers == nullptr || ValidatorValue(value).empty())
            return;
        // Appending to a list keeps its head; a failed append leaves the list as it was, and
        // the request then simply goes without the condition.
        curl_slist_append(headers.get(), (name + value).c_str());
    };
    if (condition != nullptr) {
        addHeader("If-None-Match: ", condition->etag);
        addHeader("If-Modified-Since: ", condition->lastModified);
    }
    if (headers != nullptr)
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

    // A busy server's Retry-After is read here too: the catalogue is retried like the files.
    HeaderSink headerSink;
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &headerSink);

    m_lastRetryAfterSeconds = -1;
    m_session->Run(transfer, stop, nullptr);
    m_lastRetryAfterSeconds = headerSink.retryAfterSeconds;
    m_lastValidators = headerSink.validators;
    m_lastHttpStatus = transfer.httpStatus;
    const CURLcode code = transfer.result;
    aborted = (code == CURLE_ABORTED_BY_CALLBACK);

    if (code != CURLE_OK) {
        // A cut connection or a time-out leaves part of a body behind; nobody may mistake it
        // for the whole, and the caller of a failed fetch does not expect to free anything.
        EmptySink(sink);
        SetFailure(failure, TransferFailure(code, transfer.errorText, url, sink.fault, 0,
                                            transfer.verifyResult));
        return false;
    }
    if (sink.capacity > buffer.byteCount && buffer.bytes != nullptr) {
        // Give back the slack of the last doubling; keep the larger block if that fails.
        if (auto* fitted =
                static_cast<unsigned char*>(std::realloc(buffer.bytes, buffer.byteCount))) {
            buffer.bytes = fitted;
        }
    }
    return true;
}

bool CCurlWrapper::DownloadToFile(const std::wstring& url, std::FILE* file,
                                  std::int64_t resumeOffset, TransferProgress* progress,
                                  bool& aborted, Failure* failure, std::int64_t sizeCap,
                                  FileWriteTap* tap) {
    std::string narrow;
    if (!WideToUtf8(url.c_str(), narrow)) {
        m_lastHttpStatus = 0;
        SetFailure(failure, MalformedUrl(url, "the address cannot be converted to UTF-8"));
        return false;
    }
    return DownloadToFile(narrow, file, resumeOffset, progress, aborted, failure, sizeCap, tap);
}

bool CCurlWrapper::DownloadToFile(const std::string& url, std::FILE* file,
                                  std::int64_t resumeOffset, TransferProgress* progress,
                                  bool& aborted, Failure* failure, std::int64_t sizeCap,
                                  FileWriteTap* tap) {
    SetFailure(failure, Failure{});
    m_lastHttpStatus = 0;
    m_lastRetryAfterSeconds = -1;
    // A null stream has nowhere to put the bytes, and a negative offset asks for the end of a
    // body rather than a resume.
    if (file == nullptr || resumeOffset < 0) {
        SetFailure(failure, SystemFailure(file == nullptr ? EBADF : EINVAL,
                                          Utf8ToWide(std::string_view(url))));
        return false;
    }
    if (HasEmbeddedNul(url)) {
        SetFailure(failure, MalformedUrl(Utf8ToWide(std::string_view(url)),
                                         "the address contains a NUL character"));
        return false;
    }
    if (!m_session->Ready()) {
        SetFailure(failure, SystemFailure(ENOMEM, Utf8ToWide(std::string_view(url))));
        return false;
    }

    Transfer transfer = m_session->Begin();
    CURL* handle = transfer.easy;
    ProgressSink progressSink{progress, handle};
    FileSink fileSink{file, handle, tap, {}};
    HeaderSink headerSink;
    SetTransferOptions(handle, transfer.errorText, url, &WriteToFile, &fileSink, &progressSink,
                       static_cast<curl_off_t>(resumeOffset));
    SetLimits(handle, m_lowSpeedTimeSeconds, m_authorities);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &headerSink);
    if (sizeCap > 0) {
        fileSink.room = std::max<std::int64_t>(0, sizeCap - resumeOffset);
        // libcurl reads a limit of 0 as "none"; the write function holds that case alone.
        if (fileSink.room > 0)
            curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                             static_cast<curl_off_t>(fileSink.room));
    }
    // libcurl's 16 KiB receive block costs a receive, a poll, a progress notification and a
    // write per 16 KiB; with 256 KiB a large local download keeps level with the curl tool
    // (bench/worker_bench.sh: about 0.8x of curl's speed before, about 1.0x after).
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, 256L * 1024L);
    // One transfer at a time holds the whole cap. Blocks of an eighth of a second's worth keep
    // the pauses short, so progress lines keep coming and the page never takes a cap for a
    // silent server.
    if (m_rateLimit > 0) {
        curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE,
                         static_cast<curl_off_t>(m_rateLimit));
        curl_easy_setopt(
            handle, CURLOPT_BUFFERSIZE,
            static_cast<long>(std::clamp<std::int64_t>(m_rateLimit / 8, 1024, 256 * 1024)));
        fileSink.pacer.bytesPerSecond = m_rateLimit;
        fileSink.pacer.record = progress;
    }

    m_session->Run(transfer, nullptr, progress);
    m_lastHttpStatus = transfer.httpStatus;
    const CURLcode code = transfer.result;
    m_lastRetryAfterSeconds = headerSink.retryAfterSeconds;
    aborted = (code == CURLE_ABORTED_BY_CALLBACK);
    // An error answer with an empty body never reaches the write function; it fails all the
    // same, as does one whose connection broke. libcurl skips the body of a 416 to a resume and
    // reports success: left as it is. An announced length over the cap is checked by libcurl before
    // the status is looked at: the status still tells what really happened.
    const bool errorAnswer = fileSink.fault == WriteFault::kHttpError ||
                             (code != CURLE_ABORTED_BY_CALLBACK && m_lastHttpStatus >= 400 &&
                              !(m_lastHttpStatus == 416 && resumeOffset > 0));
    if (errorAnswer) {
        SetFailure(failure,
                   MakeFailure(FailureClass::kHttpStatus, static_cast<int>(m_lastHttpStatus),
                               headerSink.reason, Utf8ToWide(std::string_view(url))));
        return false;
    }
    if (code != CURLE_OK) {
        Failure cause = TransferFailure(code, transfer.errorText, url, fileSink.fault,
                                        fileSink.error, transfer.verifyResult);
        if (cause.cause == FailureClass::kTooLarge && sizeCap > 0)
            cause.detail = "more than the listed " + std::to_string(sizeCap) + " bytes";
        SetFailure(failure, std::move(cause));
        return false;
    }
    return true;
}

namespace {

// One connection of DownloadRanges: its own easy handle, kept from range to range so that the
// connection behind it is asked again while the server keeps it open.
struct RangeConnection {
    CURL* easy = nullptr;
    std::size_t index = 0;
    RangeSchedule* schedule = nullptr;
    std::int64_t size = 0;
    RangeAssignment range;
    bool active = false;
    std::string url;
    std::string rangeText;
    char errorText[CURL_ERROR_SIZE] = {};
    HeaderSink headers;
    bool answerChecked = false;
    WriteFault fault = WriteFault::kNone;
    // Not the answer to the range asked for: said as the reason of the range's failure.
    std::string refusal;
    std::int64_t* received = nullptr;
};

std::size_t WriteRange(char* data, std::size_t size, std::size_t count, void* user) {
    auto* connection = static_cast<RangeConnection*>(user);
    const std::size_t n = size * count;
    if (!connection->answerChecked) {
        connection->answerChecked = true;
        long status = 0;
        curl_easy_getinfo(connection->easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) {
            connection->fault = WriteFault::kHttpError;
            return 0;
        }
        // A whole body, or another range than the one asked for, would land at the wrong place.
        if (status != 206 || connection->headers.rangeFirst != connection->range.begin ||
            connection->headers.rangeWhole != connection->size) {
            connection->refusal = status != 206 ? "the server ignored the range (HTTP status " +
                                                      std::to_string(status) + ")"
                                                : "the server answered another range";
            return 0;
        }
    }
    const std::size_t taken = connection->schedule->Received(
        connection->index, reinterpret_cast<const unsigned char*>(data), n);
    *connection->received += static_cast<std::int64_t>(taken);
    return taken;
}

}  // namespace

bool CCurlWrapper::DownloadRanges(const std::vector<std::wstring>& sources, std::int64_t size,
                                  std::size_t connections, RangeSchedule& schedule,
                                  TransferProgress* progress, std::int64_t expected,
                                  bool& aborted, Failure* failure) {
    SetFailure(failure, Failure{});
    m_lastHttpStatus = 0;
    m_lastRetryAfterSeconds = -1;
    aborted = false;
    std::vector<std::string> urls;
    for (const std::wstring& source : sources) {
        std::string narrow;
        if (!WideToUtf8(source.c_str(), narrow) || HasEmbeddedNul(narrow)) {
            SetFailure(failure, MalformedUrl(source, "the address cannot be converted to UTF-8"));
            return false;
        }
        urls.push_back(std::move(narrow));
    }
    if (!m_session->Ready() || connections == 0 || urls.empty()) {
        SetFailure(failure, SystemFailure(ENOMEM, sources.empty() ? L"" : sources.front()));
        return false;
    }
    CURLM* multi = m_session->multi;
    std::int64_t received = 0;
    std::vector<std::unique_ptr<RangeConnection>> pool;
    for (std::size_t i = 0; i < connections; ++i) {
        auto connection = std::make_unique<RangeConnection>();
        connection->index = i;
        connection->schedule = &schedule;
        connection->size = size;
        connection->received = &received;
        pool.push_back(std::move(connection));
    }
    const auto release = [&]() {
        for (const auto& connection : pool) {
            if (connection->active)
                curl_multi_remove_handle(multi, connection->easy);
            if (connection->easy != nullptr)
                curl_easy_cleanup(connection->easy);
        }
        pool.clear();
    };
    // Several transfers to one server must each have a connection of their own: a server's
    // cap is per connection, and streams of one HTTP/2 connection would all share it.
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_NOTHING);

    const auto start = [&](RangeConnection& connection) {
        if (!schedule.NextRange(connection.index, connection.range))
            return false;
        // A handle (and its receive buffer) only for a connection that is used.
        if (connection.easy == nullptr && (connection.easy = curl_easy_init()) == nullptr) {
            const Failure none = SystemFailure(ENOMEM, sources.front());
            schedule.Ended(connection.index, &none);
            return false;
        }
        CURL* easy = connection.easy;
        curl_easy_reset(easy);
        connection.url = urls[std::min(connection.range.source, urls.size() - 1)];
        connection.rangeText = std::to_string(connection.range.begin) + "-" +
                               std::to_string(connection.range.end - 1);
        connection.errorText[0] = '\0';
        connection.headers = HeaderSink{};
        connection.answerChecked = false;
        connection.fault = WriteFault::kNone;
        connection.refusal.clear();
        SetTransferOptions(easy, connection.errorText, connection.url, &WriteRange, &connection,
                           nullptr, 0);
        // Progress is counted here for all connections together; each handle only moves bytes.
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
        SetLimits(easy, m_lowSpeedTimeSeconds, m_authorities);
        curl_easy_setopt(easy, CURLOPT_SHARE, m_session->share);
        curl_easy_setopt(easy, CURLOPT_RANGE, connection.rangeText.c_str());
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &connection.headers);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024L);
        connection.active = curl_multi_add_handle(multi, easy) == CURLM_OK;
        return connection.active;
    };
    // Why the range of a finished transfer did not come whole; null when nothing went wrong.
    const auto outcome = [&](RangeConnection& connection, CURLcode code,
                             Failure& cause) -> const Failure* {
        long status = 0;
        curl_easy_getinfo(connection.easy, CURLINFO_RESPONSE_CODE, &status);
        m_lastHttpStatus = status;
        m_lastRetryAfterSeconds = connection.headers.retryAfterSeconds;
        const std::wstring subject = Utf8ToWide(std::string_view(connection.url));
        // The listed size is within the file: a refused range is a server without ranges.
        if (status == 416) {
            cause = MakeFailure(FailureClass::kNetwork, CURLE_RANGE_ERROR,
                                "the server refused the range", subject);
            return &cause;
        }
        if (connection.fault == WriteFault::kHttpError || status >= 400) {
            cause = MakeFailure(FailureClass::kHttpStatus, static_cast<int>(status),
                                connection.headers.reason, subject);
            return &cause;
        }
        if (!connection.refusal.empty() || (code == CURLE_OK && !connection.answerChecked &&
                                            connection.range.end > connection.range.begin)) {
            cause = MakeFailure(FailureClass::kNetwork, CURLE_RANGE_ERROR,
                                connection.refusal.empty() ? "the range came without a byte"
                                                           : connection.refusal,
                                subject);
            return &cause;
        }
        // The schedule took fewer bytes than came because the range was whole.
        if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && schedule.RangeComplete(connection.index)))
            return nullptr;
        long verify = 0;
        curl_easy_getinfo(connection.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
        cause = TransferFailure(code, connection.errorText, connection.url, connection.fault, 0,
                                verify);
        return &cause;
    };

    const auto began = std::chrono::steady_clock::now();
    Failure ending;
    bool failed = false;
    for (;;) {
        bool anyActive = false;
        for (const auto& connection : pool) {
            if (!connection->active)
                start(*connection);
            anyActive = anyActive || connection->active;
        }
        if (!anyActive)
            break;
        int running = 0;
        CURLMcode status = curl_multi_perform(multi, &running);
        int queued = 0;
        // A connection that has just finished its range takes the next one at once, rather
        // than after a wait on the others.
        bool freed = false;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            for (const auto& connection : pool) {
                if (!connection->active || connection->easy != message->easy_handle)
                    continue;
                const CURLcode code = message->data.result;
                curl_multi_remove_handle(multi, connection->easy);
                connection->active = false;
                freed = true;
                Failure cause;
                const Failure* why = outcome(*connection, code, cause);
                if (!schedule.Ended(connection->index, why) && !failed) {
                    failed = true;
                    ending = why != nullptr ? *why : Failure{};
                }
                break;
            }
        }
        if (progress != nullptr) {
            progress->receiveTotal = static_cast<double>(expected);
            progress->received = static_cast<double>(received);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
            progress->receiveSpeed = seconds > 0 ? static_cast<double>(received) / seconds : 0;
            if (progress->notify != nullptr)
                progress->notify(progress);
        }
        if (!failed && StopRaised(nullptr, progress)) {
            failed = true;
            aborted = true;
            ending = MakeFailure(FailureClass::kStopped, CURLE_ABORTED_BY_CALLBACK, {},
                                 sources.front());
        }
        if (!failed && !freed && status == CURLM_OK)
            status = curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
        if (!failed && status != CURLM_OK) {
            failed = true;
            ending = TransferFailure(FromMulti(status), "", urls.front(), WriteFault::kNone, 0, 0);
        }
        if (failed)
            break;
    }
    // The ranges still running end with the call; what they brought is the schedule's.
    for (const auto& connection : pool) {
        if (!connection->active)
            continue;
        curl_multi_remove_handle(multi, connection->easy);
        connection->active = false;
        const Failure cut = MakeFailure(FailureClass::kStopped, 0, {}, sources.front());
        schedule.Ended(connection->index, &cut);
    }
    release();
    if (failed)
        SetFailure(failure, std::move(ending));
    return !failed;
}
