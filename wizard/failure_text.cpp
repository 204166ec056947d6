#include "wizard/failure_text.h"

#include <cerrno>
#include <charconv>
#include <system_error>

#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/curl_result.h"
#include "transfer/transfer_limits.h"

namespace {

struct StatusPhrase {
    int status;
    const char* phrase;
};

// The reasons servers send most often, for an answer whose status line carries none (HTTP/2
// has no reason phrase at all).
constexpr StatusPhrase kStatusPhrases[] = {
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {410, "Gone"},
    {416, "Range Not Satisfiable"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

std::wstring Shown(const std::wstring& subject) {
    return ForDisplay(subject);
}

void AppendFixed(std::wstring& out, double value, int precision) {
    char digits[64];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc{})
        return;
    out.append(digits, result.ptr);
}

}  // namespace

int NetworkReasonMessage(int curlCode) {
    switch (ClassifyCurlResult(curlCode).reason) {
        case NetworkReason::kNameNotFound:
            return kMsgReasonNameNotFound;
        case NetworkReason::kRefused:
            return kMsgReasonRefused;
        case NetworkReason::kSecureConnection:
            return kMsgReasonSecureConnection;
        case NetworkReason::kOther:
            break;
    }
    return kMsgReasonNetwork;
}

std::wstring HttpStatusText(int status, const std::string& reason) {
    std::wstring text = std::to_wstring(status);
    std::string phrase = reason;
    if (phrase.empty()) {
        for (const StatusPhrase& known : kStatusPhrases)
            if (known.status == status)
                phrase = known.phrase;
    }
    if (!phrase.empty())
        text += L' ' + ForDisplay(Utf8ToWide(phrase));
    return text;
}

std::wstring SizeText(std::uint64_t bytes) {
    const double kilo = 1024.0;
    const double value = static_cast<double>(bytes);
    std::wstring text;
    if (value >= kilo * kilo * kilo) {
        AppendFixed(text, value / (kilo * kilo * kilo), 2);
        return text + L" GB";
    }
    if (value >= kilo * kilo) {
        AppendFixed(text, value / (kilo * kilo), 1);
        return text + L" MB";
    }
    AppendFixed(text, value / kilo, 0);
    return text + L" KB";
}

std::wstring FailureMessage(const Failure& failure) {
    const std::wstring file = Shown(failure.subject);
    const std::wstring detail = ForDisplay(Utf8ToWide(failure.detail));
    switch (failure.cause) {
        case FailureClass::kNetwork:
            return FormatMessageText(LoadMessage(kMsgServerUnreachable),
                                     {file, LoadMessage(NetworkReasonMessage(failure.code))});
        case FailureClass::kHttpStatus:
            return FormatMessageText(LoadMessage(kMsgServerError),
                                     {file, HttpStatusText(failure.code, failure.detail)});
        case FailureClass::kStalled:
            return FormatMessageText(LoadMessage(kMsgServerStalled),
                                     {file, std::to_wstring(kLowSpeedTimeSeconds)});
        case FailureClass::kTooLarge:
            // The worker keeps the listed size in the detail when it knows it.
            return FormatMessageText(LoadMessage(kMsgFileTooLarge), {file, detail});
        case FailureClass::kSystem:
            return FormatMessageText(LoadMessage(kMsgCannotWrite), {file, detail});
        case FailureClass::kUnsafePath:
            return FormatMessageText(LoadMessage(kMsgUnsafePath), {file});
        case FailureClass::kUnreadable:
            return FormatMessageText(LoadMessage(kMsgCannotRead), {file});
        case FailureClass::kNotRegularFile:
            return FormatMessageText(LoadMessage(kMsgNotRegularFile), {file});
        case FailureClass::kRunnerMissing:
            return FormatMessageText(LoadMessage(kMsgRunnerMissing), {file, detail});
        case FailureClass::kBusy:
            return FormatMessageText(LoadMessage(kMsgFolderBusy), {file});
        case FailureClass::kDigestMismatch:
            if (!failure.subject.empty())
                return LoadMessage(kMsgFilesCorrupted) + L"\n" +
                       FormatMessageText(LoadMessage(kMsgFailedFile), {file});
            return LoadMessage(kMsgFilesCorrupted);
        case FailureClass::kNone:
        case FailureClass::kStopped:
        case FailureClass::kUntrusted:  // never shown: the game starts instead
            break;
    }
    return LoadMessage(kMsgFilesCorrupted);
}
