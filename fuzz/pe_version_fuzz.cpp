// Feeds arbitrary bytes to the PE version reader: it must never read outside the input, and
// whatever it returns is either empty or four numbers of 0..65535 joined by dots.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/file_version.h"

namespace {

bool IsVersionText(const std::wstring& text) {
    int parts = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        long value = 0;
        std::size_t digits = 0;
        for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, ++digits)
            value = value * 10 + (text[i] - L'0');
        if (digits == 0 || digits > 5 || value > 65535)
            return false;
        ++parts;
        if (i < text.size() && text[i++] != L'.')
            return false;
        if (i == text.size() && text.back() == L'.')
            return false;
    }
    return parts == 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring version = ReadFileVersionFromBytes(data, size);
    if (!version.empty() && !IsVersionText(version))
        __builtin_trap();
    return 0;
}
