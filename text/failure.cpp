#include "text/failure.h"

#include "text/utf8.h"

namespace {

// The class in a few plain English words, for logs.
const char* FailureClassName(FailureClass cause) {
    switch (cause) {
        case FailureClass::kNone:
            return "no failure";
        case FailureClass::kSystem:
            return "system error";
        case FailureClass::kNetwork:
            return "cannot reach the server";
        case FailureClass::kHttpStatus:
            return "HTTP error";
        case FailureClass::kStalled:
            return "transfer stalled";
        case FailureClass::kTooLarge:
            return "file larger than listed";
        case FailureClass::kUnsafePath:
            return "unsafe path";
        case FailureClass::kNotRegularFile:
            return "not a regular file";
        case FailureClass::kDigestMismatch:
            return "digest mismatch";
        case FailureClass::kRunnerMissing:
            return "runner not found";
        case FailureClass::kStopped:
            return "stopped";
        case FailureClass::kBusy:
            return "busy";
        case FailureClass::kUnreadable:
            return "cannot read";
        case FailureClass::kUntrusted:
            return "catalogue signature refused";
        case FailureClass::kCertificate:
            return "server certificate refused";
    }
    return "unknown";
}

}  // namespace

std::string DescribeFailure(const Failure& failure) {
    std::string text = FailureClassName(failure.cause);
    if (failure.code != 0)
        text += " (" + std::to_string(failure.code) + ")";
    if (!failure.detail.empty())
        text += ": " + failure.detail;
    if (!failure.subject.empty())
        text += " [" + WideToUtf8(std::wstring_view(failure.subject)) + "]";
    return text;
}
