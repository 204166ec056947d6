#include "tools/publish/url_probe.h"

#include <curl/curl.h>

#include <cctype>
#include <charconv>
#include <memory>
#include <string_view>

#include "transfer/transfer_limits.h"

namespace {

// A check over many files should not wait as long as one download may.
constexpr long kProbeConnectSeconds = 15;
constexpr long kProbeTimeoutSeconds = 60;

struct CurlFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct ProbeState {
    std::string contentRange;  // of the latest answer: redirects start a new head
    std::size_t bodyBytes = 0;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& state = *static_cast<ProbeState*>(user);
    const std::string_view line(data, size * count);
    if (StartsWithNoCase(line, "HTTP/"))
        state.contentRange.clear();
    else if (StartsWithNoCase(line, "Content-Range:"))
        state.contentRange = std::string(Trimmed(line.substr(14)));
    return size * count;
}

// One byte is all we asked for; more means the range was ignored, and the rest of a large
// file is not worth fetching to say so.
std::size_t OnBody(char* /*data*/, std::size_t size, std::size_t count, void* user) {
    auto& state = *static_cast<ProbeState*>(user);
    state.bodyBytes += size * count;
    return state.bodyBytes > 1 ? 0 : size * count;
}

// The whole length from "bytes 0-0/1234" or "bytes */1234"; -1 when it is "*" or unreadable.
std::int64_t CompleteLength(std::string_view contentRange) {
    const std::size_t slash = contentRange.rfind('/');
    if (slash == std::string_view::npos)
        return -1;
    const std::string_view digits = Trimmed(contentRange.substr(slash + 1));
    std::int64_t value = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value < 0)
        return -1;
    return value;
}

}  // namespace

UrlProbe ProbeUrl(const std::string& url) {
    UrlProbe probe;
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) {
        probe.failure = "libcurl could not start a transfer";
        return probe;
    }
    ProbeState state;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_RANGE, "0-0");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
#endif
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kProbeConnectSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, kProbeTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "velmora-publish");
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    const bool cutOnPurpose = result == CURLE_WRITE_ERROR && state.bodyBytes > 1;
    if ((result != CURLE_OK && !cutOnPurpose) || status == 0) {
        probe.failure = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
        return probe;
    }
    probe.answered = true;
    probe.status = status;
    char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
        effective != nullptr)
        probe.finalUrl = effective;

    if (status == 206) {
        probe.size = CompleteLength(state.contentRange);
        probe.rangesHonoured = !state.contentRange.empty();
    } else if (status == 416) {
        // Only an empty file has no first byte; the server still speaks ranges.
        probe.size = CompleteLength(state.contentRange);
        probe.rangesHonoured = probe.size == 0;
    } else if (status == 200) {
        curl_off_t length = -1;
        if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
            probe.size = length;
    }
    return probe;
}
