#include "text/failure.h"

#include <cstring>

#include "text/utf8.h"

Failure SystemFailure(int error, std::wstring subject) {
    // strerror's text lives in a static buffer that another thread may overwrite; copy at once.
    char buffer[256] = {};
    const char* words = strerror_r(error, buffer, sizeof buffer);
    return MakeFailure(FailureClass::kSystem, error, words != nullptr ? words : "",
                       std::move(subject));
}

std::string DescribeFailure(const Failure& failure) {
    static constexpr const char* kNames[] = {
        "no failure",       "system error",     "cannot reach the server",
        "HTTP error",       "transfer stalled", "file larger than listed",
        "unsafe path",      "not a regular file", "digest mismatch",
        "runner not found", "stopped",          "busy"};
    const auto index = static_cast<std::size_t>(failure.cause);
    std::string text = index < std::size(kNames) ? kNames[index] : "unknown";
    if (failure.code != 0)
        text += " (" + std::to_string(failure.code) + ")";
    if (!failure.detail.empty())
        text += ": " + failure.detail;
    if (!failure.subject.empty())
        text += " [" + WideToUtf8(std::wstring_view(failure.subject)) + "]";
    return text;
}
