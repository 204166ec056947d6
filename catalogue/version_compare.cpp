#include "catalogue/version_compare.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

bool IsBlank(wchar_t ch) {
    return ch == L' ' || ch == L'\t' || ch == L'\n' || ch == L'\v' || ch == L'\f' || ch == L'\r';
}

// The leading number of a component, saturated to the signed 32-bit range: a component too
// large to hold still ranks above every smaller one instead of wrapping to a small value.
std::int32_t ComponentValue(std::wstring_view component) {
    std::size_t i = 0;
    while (i < component.size() && IsBlank(component[i]))
        ++i;
    bool negative = false;
    if (i < component.size() && (component[i] == L'+' || component[i] == L'-')) {
        negative = component[i] == L'-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < component.size() && component[i] >= L'0' && component[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (component[i] - L'0');
        if (magnitude > kLimit)
            magnitude = kLimit;
    }
    if (negative)
        return static_cast<std::int32_t>(-magnitude);  // -2^31 still fits
    if (magnitude >= kLimit)
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(magnitude);
}

std::wstring_view WorkText(std::wstring_view text) {
    const std::size_t nul = text.find(L'\0');
    if (nul != std::wstring_view::npos)
        text = text.substr(0, nul);
    return text.substr(0, std::min(text.size(), kMaxVersionLength));
}

}  // namespace

std::vector<VersionComponent> VersionComponents(std::wstring_view text) {
    std::vector<VersionComponent> components;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(L'.', start), text.size());
        const std::wstring_view component = text.substr(start, end - start);
        components.push_back(VersionComponent{component, ComponentValue(component)});
        start = end + 1;
    }
    return components;
}

int CompareVersions(std::wstring_view a, std::wstring_view b) {
    a = WorkText(a);
    b = WorkText(b);
    if (a == b)
        return 0;
    const auto values = [](std::wstring_view text) {
        std::vector<std::uint32_t> kept;
        for (const VersionComponent& component : VersionComponents(text))
            if (!component.text.empty())
                kept.push_back(static_cast<std::uint32_t>(component.value));
        return kept;
    };
    const std::vector<std::uint32_t> left = values(a);
    const std::vector<std::uint32_t> right = values(b);
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (left[i] < right[i])
            return -1;
        if (left[i] > right[i])
            return 1;
    }
    return 0;
}

bool ParseFileVersion(std::wstring_view text, std::array<std::uint16_t, 4>& parts) {
    const std::vector<VersionComponent> components = VersionComponents(text);
    if (components.size() != parts.size())
        return false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::wstring_view digits = components[i].text;
        const bool plain = !digits.empty() && (digits.size() == 1 || digits[0] != L'0') &&
                           std::all_of(digits.begin(), digits.end(),
                                       [](wchar_t ch) { return ch >= L'0' && ch <= L'9'; });
        if (!plain || components[i].value > 0xFFFF)
            return false;
        parts[i] = static_cast<std::uint16_t>(components[i].value);
    }
    return true;
}
