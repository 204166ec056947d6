#include "ui/terminal_safe.h"

namespace {

constexpr wchar_t kReplacement = L'\uFFFD';

bool IsHarmful(wchar_t c) {
    if (c == L'\t' || c == L'\n')
        return false;
    const auto code = static_cast<unsigned long>(c);
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

}  // namespace

std::wstring TerminalSafe(std::wstring_view text) {
    std::wstring safe(text);
    for (wchar_t& c : safe)
        if (IsHarmful(c))
            c = kReplacement;
    return safe;
}
