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

int CertificateReasonMessage(long verifyResult) {
    switch (ClassifyCertificateProblem(verifyResult)) {
        case CertificateProblem::kOtherName:
            return kMsgCertificateOtherName;
        case CertificateProblem::kExpired:
            return kMsgCertificateExpired;
        case CertificateProblem::kNotTrusted:
            break;
    }
    return kMsgCertificateNotTrusted;
}

std::wstring UncheckedUpdatesNotice(const Failure& failure) {
    int reason = 0;
    if (failure.cause == FailureClass::kCertificate)
        reason = CertificateReasonMessage(failure.code);
    else if (failure.cause == FailureClass::kNetwork &&
             ClassifyCurlResult(failure.code).reason == NetworkReason::kSecureConnection)
        reason = kMsgReasonSecureConnection;
    if (reason == 0)
        return {};
    return FormatMessageText(LoadMessage(kMsgUpdatesNotChecked), {LoadMessage(reason)});
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
    // French writes octets ("Mo") and, like German, a decimal comma; French also keeps the
    // number and its unit on one line.
    const bool french = LanguageIndex == 1;
    const bool decimalComma = LanguageIndex == 1 || LanguageIndex == 2;
    const wchar_t* const units[] = {french ? L"Ko" : L"KB", french ? L"Mo" : L"MB",
                                    french ? L"Go" : L"GB"};
    int unit = 0;
    int precision = 0;
    double shown = value / kilo;
    if (value >= kilo * kilo * kilo) {
        unit = 2;
        precision = 2;
        shown = value / (kilo * kilo * kilo);
    } else if (value >= kilo * kilo) {
        unit = 1;
        precision = 1;
        shown = value / (kilo * kilo);
    }
    std::wstring text;
    AppendFixed(text, shown, precision);
    if (decimalComma)
        for (wchar_t& ch : text)
            if (ch == L'.')
                ch = L',';
    return text + (french ? L"\u00a0" : L" ") + units[unit];
}

std::wstring WayForwardText(const Failure& failure) {
    switch (failure.cause) {
        case FailureClass::kSystem:
        case FailureClass::kNotRegularFile:
        case FailureClass::kUnreadable:
            return LoadMessage(kMsgWayForwardFolder);
        case FailureClass::kUnsafePath:
        case FailureClass::kUntrusted:
        case FailureClass::kRunnerMissing:
            return LoadMessage(kMsgWayForwardPlay);
        default:
            return LoadMessage(kMsgWayForwardResume);
    }
}

std::wstring FailureMessage(const Failure& failure) {
    const std::wstring file = Shown(failure.subject);
    const std::wstring detail = ForDisplay(Utf8ToWide(failure.detail));
    switch (failure.cause) {
        case FailureClass::kNetwork:
            return FormatMessageText(LoadMessage(kMsgServerUnreachable),
                                     {file, LoadMessage(NetworkReasonMessage(failure.code))});
        case FailureClass::kCertificate:
            return FormatMessageText(LoadMessage(kMsgServerUnreachable),
                                     {file, LoadMessage(CertificateReasonMessage(failure.code))});
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
