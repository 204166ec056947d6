#include "platform/path.h"

namespace platform {

namespace {
bool IsPathSeparator(wchar_t ch) {
    return ch == kPathSeparator || ch == L'/';
}
}  // namespace

bool JoinPath(const std::wstring& folder, const std::wstring& name, std::wstring& out,
              std::size_t maxLength) {
    const bool addSeparator = !folder.empty() && !IsPathSeparator(folder.back());
    if (folder.size() + (addSeparator ? 1 : 0) + name.size() > maxLength)
        return false;
    std::wstring path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (addSeparator)
        path += kPathSeparator;
    path += name;
    out = std::move(path);
    return true;
}

}  // namespace platform
