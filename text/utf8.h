#pragma once
// Conversions between UTF-8 (the edge of every library we use) and the launcher's wide text.
// Both are total and lossless for bytes: a file name on this system is any byte string, and a
// folder named in Latin-1 must reach the file system with exactly its own bytes. Each byte that
// is not part of a well-formed UTF-8 sequence travels in the wide text as a lone surrogate
// U+DC80..U+DCFF (U+DC00 + the byte), and the way back turns it into that byte again. Such a
// character is never meant for a person's eyes: pass text through ForDisplay first.

#include <string>
#include <string_view>

// False (out untouched) only when text is null.
bool Utf8ToWide(const char* text, std::wstring& out);
// False (out untouched) only when text is null. A carried byte (U+DC80..U+DCFF) becomes its
// byte; other code points that cannot be encoded (the other lone surrogates, values above
// U+10FFFF) are written as U+FFFD.
bool WideToUtf8(const wchar_t* text, std::string& out);

// Conveniences over the two above, for text already held in a string.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// The text as a person should see it: each carried byte (and any other lone surrogate) shown
// as U+FFFD, one per byte. Only for showing; a path made from it names another file.
std::wstring ForDisplay(std::wstring_view text);

// Whether a character must not reach a terminal or a log as it is: the C0 controls other than
// tab and line feed, DEL, the C1 controls (U+0080 to U+009F, which a terminal may read as ESC
// sequences of its own, U+009B among them, and U+0085, a line end to some readers) and the
// line and paragraph separators U+2028 and U+2029, which split a log line for many readers.
bool IsControlCharacter(wchar_t c);
// The text with each such character replaced by U+FFFD, one for one.
std::wstring WithoutControls(std::wstring_view text);
