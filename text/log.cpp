#include "text/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "text/utf8.h"

namespace {
std::atomic<LogSink> g_sink{nullptr};
}  // namespace

void SetLogSink(LogSink sink) {
    g_sink.store(sink, std::memory_order_release);
}

bool LogEnabled() {
    return g_sink.load(std::memory_order_acquire) != nullptr;
}

void LogLine(const char* format, ...) {
    const LogSink sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr || format == nullptr)
        return;
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        sink(std::string_view(small, static_cast<std::size_t>(length)));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    sink(std::string_view(large.data(), static_cast<std::size_t>(length)));
}

std::string LogText(std::wstring_view text) {
    // The same characters the console refuses: a log is read on a terminal too.
    return WideToUtf8(std::wstring_view(WithoutControls(ForDisplay(text))));
}
