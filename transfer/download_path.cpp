#include "transfer/download_path.h"

#include "platform/path.h"

namespace {

bool IsSeparator(wchar_t ch) {
    return ch == L'/' || ch == L'\\';
}

bool IsAsciiLetter(wchar_t ch) {
    return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z');
}

// ".." itself, and the spellings Windows reduces to it by trimming trailing dots and blanks
// ("...", ".. ").
bool ClimbsUp(const std::wstring& target, std::size_t begin, std::size_t end) {
    std::size_t dots = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (target[i] == L'.')
            ++dots;
        else if (target[i] != L' ')
            return false;
    }
    return dots >= 2;
}

PathRefusal Containment(const std::wstring& target) {
    if (target.empty())
        return PathRefusal::kEmpty;
    if (IsSeparator(target[0]) ||
        (target.size() >= 2 && IsAsciiLetter(target[0]) && target[1] == L':'))
        return PathRefusal::kAbsolute;
    if (target.find(L'\0') != std::wstring::npos)
        return PathRefusal::kNul;
    std::size_t begin = 0;
    while (begin <= target.size()) {
        std::size_t end = begin;
        while (end < target.size() && !IsSeparator(target[end]))
            ++end;
        if (ClimbsUp(target, begin, end))
            return PathRefusal::kClimbsOut;
        begin = end + 1;
    }
    return PathRefusal::kNone;
}

}  // namespace

std::wstring NativeTarget(const std::wstring& target) {
    std::wstring native = target;
    for (wchar_t& ch : native) {
        if (IsSeparator(ch))
            ch = platform::kPathSeparator;
    }
    return native;
}

bool BuildDownloadPath(const std::wstring& folder, const std::wstring& target, std::wstring& out,
                       PathRefusal* refusal) {
    PathRefusal why = Containment(target);
    if (why == PathRefusal::kNone && !platform::JoinPath(folder, NativeTarget(target), out))
        why = PathRefusal::kTooLong;
    if (refusal != nullptr)
        *refusal = why;
    return why == PathRefusal::kNone;
}
