#include "text/failure.h"

#include "text/utf8.h"

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
