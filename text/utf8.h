#pragma once
// Conversions between UTF-8 (the edge of every library we use) and the launcher's wide text.
// Both are total: malformed input never fails the conversion and never loses the rest of the
// text; each malformed sequence becomes U+FFFD.

#include <string>
#include <string_view>

// False (out untouched) only when text is null.
bool Utf8ToWide(const char* text, std::wstring& out);
// False (out untouched) only when text is null. Code points that cannot be encoded
// (surrogates, values above U+10FFFF) are written as U+FFFD.
bool WideToUtf8(const wchar_t* text, std::string& out);

// Conveniences over the two above, for text already held in a string.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
