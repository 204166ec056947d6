#include "transfer/curl_wrapper.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text/utf8.h"

CCurlWrapper* g_pCurlWrapper = nullptr;

namespace {

// What the write-to-memory function works on. The capacity lives here rather than in
// MemoryBuffer because the buffer's owner only ever sees bytes and byteCount.
struct MemorySink {
    MemoryBuffer* buffer = nullptr;
    std::size_t capacity = 0;
};

// What the progress function works on: the caller's record and the handle of this very
// transfer, so the speed query never reaches into another instance's transfer.
struct ProgressSink {
    TransferProgress* record = nullptr;
    CURL* handle = nullptr;
};

void EmptySink(MemorySink& sink) {
    std::free(sink.buffer->bytes);
    *sink.buffer = MemoryBuffer{};
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

int OnProgress(void* user, curl_off_t receiveTotal, curl_off_t received, curl_off_t sendTotal,
               curl_off_t sent) {
    auto* sink = static_cast<ProgressSink*>(user);
    if (sink == nullptr || sink->record == nullptr) {
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

long LowSpeedTimeFromEnvironment() {
    const char* text = std::getenv(kLowSpeedTimeVariable);
    if (text == nullptr) {
        return kLowSpeedTimeSeconds;
    }
    long seconds = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, seconds);
    if (error != std::errc{} || last != end || seconds < 1 || seconds > kMaxLowSpeedTimeSeconds) {
        return kLowSpeedTimeSeconds;
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
void SetLimits(CURL* handle, long lowSpeedTimeSeconds) {
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, lowSpeedTimeSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS,
                     static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS,
                     static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
}

bool HasEmbeddedNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

void ReleaseBuffer(MemoryBuffer& buffer) {
    if (buffer.bytes != nullptr && buffer.byteCount != 0) {
        std::free(buffer.bytes);
        buffer = MemoryBuffer{};
    }
}

CCurlWrapper::CCurlWrapper() : m_lowSpeedTimeSeconds(LowSpeedTimeFromEnvironment()) {}

CCurlWrapper::~CCurlWrapper() = default;

bool CCurlWrapper::DownloadToMemory(const std::wstring& url, MemoryBuffer& buffer, bool& aborted) {
    std::string narrow;
    if (!WideToUtf8(url.c_str(), narrow)) {
        return false;
    }
    return DownloadToMemory(narrow, buffer, aborted);
}

bool CCurlWrapper::DownloadToMemory(const std::string& url, MemoryBuffer& buffer, bool& aborted) {
    ReleaseBuffer(buffer);
    // A block with a zero count is not ours to free or to grow; forget it.
    buffer = MemoryBuffer{};
    // libcurl reads the URL up to its first NUL; a URL that carries one is not the URL asked for.
    if (HasEmbeddedNul(url)) {
        return false;
    }
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        return false;
    }
    m_handle = handle;

    char errorText[CURL_ERROR_SIZE] = {};
    MemorySink sink{&buffer, 0};
    SetTransferOptions(handle, errorText, url, &WriteToMemory, &sink, nullptr, 0);
    SetLimits(handle, m_lowSpeedTimeSeconds);
    // An announced length over the cap fails before a byte is stored; the write function
    // still enforces it for bodies without a length.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t{kMaxMemoryBody});

    const CURLcode code = curl_easy_perform(handle);
    aborted = (code == CURLE_ABORTED_BY_CALLBACK);
    curl_easy_cleanup(handle);
    m_handle = nullptr;

    if (code != CURLE_OK) {
        // A cut connection or a time-out leaves part of a body behind; nobody may mistake it
        // for the whole, and the caller of a failed fetch does not expect to free anything.
        EmptySink(sink);
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
                                  bool& aborted) {
    std::string narrow;
    if (!WideToUtf8(url.c_str(), narrow)) {
        return false;
    }
    return DownloadToFile(narrow, file, resumeOffset, progress, aborted);
}

bool CCurlWrapper::DownloadToFile(const std::string& url, std::FILE* file,
                                  std::int64_t resumeOffset, TransferProgress* progress,
                                  bool& aborted) {
    // libcurl's own writer would send a null stream's bytes to standard output, and a negative
    // offset asks for the end of a body rather than a resume.
    if (file == nullptr || resumeOffset < 0 || HasEmbeddedNul(url)) {
        return false;
    }
    CURL* handle = curl_easy_init();
    if (handle == nullptr) {
        return false;
    }
    m_handle = handle;

    char errorText[CURL_ERROR_SIZE] = {};
    ProgressSink sink{progress, handle};
    SetTransferOptions(handle, errorText, url, nullptr, file, &sink,
                       static_cast<curl_off_t>(resumeOffset));
    SetLimits(handle, m_lowSpeedTimeSeconds);
    // libcurl's 16 KiB receive block costs a receive, a poll, a progress notification and a
    // write per 16 KiB; with 256 KiB a large local download keeps level with the curl tool
    // (bench/worker_bench.sh: about 0.8x of curl's speed before, about 1.0x after).
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, 256L * 1024L);

    const CURLcode code = curl_easy_perform(handle);
    aborted = (code == CURLE_ABORTED_BY_CALLBACK);
    curl_easy_cleanup(handle);
    m_handle = nullptr;
    return code == CURLE_OK;
}
