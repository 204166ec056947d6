#include "text/utf8.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// A byte that is not part of well-formed UTF-8, carried in the wide text.
constexpr char32_t kCarriedFirst = 0xDC80;
constexpr char32_t kCarriedLast = 0xDCFF;
constexpr char32_t kCarryBase = 0xDC00;

bool IsCarriedByte(char32_t cp) {
    return cp >= kCarriedFirst && cp <= kCarriedLast;
}

// Decodes one well-formed sequence starting at s[i] and advances i past it. On a malformed
// sequence it returns false and leaves i alone: the caller carries the lead byte and decodes
// again from the next one. Since a continuation byte never starts a sequence, this carries
// exactly the bytes of the malformed piece, each on its own.
bool DecodeOne(const unsigned char* s, size_t n, size_t& i, char32_t& out) {
    const unsigned char b0 = s[i];
    size_t need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        // Overlong forms and the surrogates, which UTF-8 may not encode.
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        // Overlong forms, and values above U+10FFFF.
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return false;
    }
    if (n - i <= need)
        return false;
    for (size_t k = 1; k <= need; ++k) {
        const unsigned char b = s[i + k];
        if (b < lo || b > hi)
            return false;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    i += need + 1;
    out = cp;
    return true;
}

void AppendWide(std::wstring& out, char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (IsCarriedByte(cp)) {
        out.push_back(static_cast<char>(cp - kCarryBase));
        return;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        // ASCII runs are the common case in catalogues; copy them without decoding.
        while (i < n && s[i] < 0x80)
            out.push_back(static_cast<wchar_t>(s[i++]));
        if (i >= n)
            break;
        char32_t cp = 0;
        if (DecodeOne(s, n, i, cp)) {
            AppendWide(out, cp);
        } else {
            out.push_back(static_cast<wchar_t>(kCarryBase + s[i]));
            ++i;
        }
    }
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                const char32_t low = static_cast<char32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

bool IsControlCharacter(wchar_t c) {
    if (c == L'\t' || c == L'\n')
        return false;
    const auto code = static_cast<unsigned long>(c);
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
}

std::wstring WithoutControls(std::wstring_view text) {
    std::wstring safe(text);
    for (wchar_t& c : safe)
        if (IsControlCharacter(c))
            c = static_cast<wchar_t>(kReplacement);
    return safe;
}

std::wstring ForDisplay(std::wstring_view text) {
    std::wstring shown(text);
    for (size_t i = 0; i < shown.size(); ++i) {
        const char32_t cp = static_cast<char32_t>(shown[i]);
        if (cp > 0x10FFFF) {
            shown[i] = static_cast<wchar_t>(kReplacement);
            continue;
        }
        if (cp < 0xD800 || cp > 0xDFFF)
            continue;
        if constexpr (sizeof(wchar_t) == 2) {
            // A high and a low surrogate in a row are one character, not two bytes.
            if (cp <= 0xDBFF && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 &&
                shown[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
        }
        shown[i] = static_cast<wchar_t>(kReplacement);
    }
    return shown;
}

bool Utf8ToWide(const char* text, std::wstring& out) {
    if (text == nullptr)
        return false;
    out = Utf8ToWide(std::string_view(text, std::strlen(text)));
    return true;
}

bool WideToUtf8(const wchar_t* text, std::string& out) {
    if (text == nullptr)
        return false;
    out = WideToUtf8(std::wstring_view(text, std::wcslen(text)));
    return true;
}
