#include "transfer/local_source.h"

#include <cstdio>
#include <cstdlib>
#include <cwctype>

#include "platform/safe_files.h"
#include "text/utf8.h"

namespace {

bool StartsWithNoCase(const std::wstring& text, std::wstring_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (static_cast<wchar_t>(std::towlower(static_cast<wint_t>(text[i]))) != prefix[i])
            return false;
    }
    return true;
}

int HexValue(wchar_t ch) {
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'a' && ch <= L'f')
        return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F')
        return ch - L'A' + 10;
    return -1;
}

// An address's path with its escapes decoded as the UTF-8 bytes they stand for; false when one
// gives a NUL, which would end the name the system sees early.
bool DecodePath(std::wstring_view encoded, std::wstring& decoded) {
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const int high =
            encoded[i] == L'%' && i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(encoded[i + 2]) : -1;
        if (low >= 0) {
            const char byte = static_cast<char>(high * 16 + low);
            if (byte == '\0')
                return false;
            bytes += byte;
            i += 2;
        } else {
            bytes += WideToUtf8(encoded.substr(i, 1));
        }
    }
    decoded = Utf8ToWide(std::string_view(bytes));
    return true;
}

}  // namespace

bool LocalPathOf(const std::wstring& url, std::wstring& path) {
    constexpr std::wstring_view kScheme = L"file://";
    if (!StartsWithNoCase(url, kScheme))
        return false;
    std::wstring rest = url.substr(kScheme.size());
    if (StartsWithNoCase(rest, L"localhost/"))
        rest.erase(0, 9);
    // Only a path from the root: a host of another machine is no folder of this one.
    if (rest.empty() || rest[0] != L'/')
        return false;
    const std::size_t end = rest.find_first_of(L"?#");
    return DecodePath(std::wstring_view(rest).substr(0, end), path);
}

std::wstring LocalSourceFolder(const std::wstring& baseUrl) {
    std::wstring folder;
    if (!LocalPathOf(baseUrl, folder))
        return {};
    if (folder.back() != L'/')
        folder += L'/';
    return folder;
}

bool ReadLocalDocument(const std::wstring& path, MemoryBuffer& buffer, std::size_t maxBytes,
                       Failure* failure) {
    ReleaseBuffer(buffer);
    Failure cause;
    // The folder is the player's choice, links on the way included; the file in it is never
    // reached through a link.
    const std::size_t slash = path.rfind(L'/');
    platform::TrustedFolder folder;
    platform::UniqueFile file;
    if (slash != std::wstring::npos && folder.Open(path.substr(0, slash + 1), &cause))
        file = folder.OpenFile(path.substr(slash + 1), platform::FileAccess::kRead, &cause);
    std::int64_t size = 0;
    if (file != nullptr && platform::GetOpenFileSize(file.get(), size, &cause) &&
        static_cast<std::uint64_t>(size) > maxBytes)
        cause = MakeFailure(FailureClass::kTooLarge, 0, {}, path);
    if (file == nullptr && !cause.IsFailure())
        cause = MakeFailure(FailureClass::kUnreadable, 0, "no folder", path);
    if (file == nullptr || cause.IsFailure()) {
        if (cause.subject.empty())
            cause.subject = path;
        if (failure != nullptr)
            *failure = std::move(cause);
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size) + 1));
    const std::size_t read =
        bytes != nullptr ? std::fread(bytes, 1, static_cast<std::size_t>(size), file.get()) : 0;
    if (bytes == nullptr || read != static_cast<std::size_t>(size) ||
        std::fgetc(file.get()) != EOF) {
        // The file changed its length while it was read: what was read is no one file.
        std::free(bytes);
        if (failure != nullptr)
            *failure = MakeFailure(FailureClass::kUnreadable, 0, "changed while read", path);
        return false;
    }
    bytes[read] = 0;
    buffer.bytes = bytes;
    buffer.byteCount = static_cast<std::uint32_t>(read + 1);
    if (failure != nullptr)
        *failure = Failure{};
    return true;
}

std::vector<std::wstring> LocalCandidates(const std::wstring& url) {
    const std::size_t scheme = url.find(L"://");
    const std::size_t start = scheme == std::wstring::npos ? scheme : url.find(L'/', scheme + 3);
    if (start == std::wstring::npos)
        return {};
    const std::size_t end = url.find_first_of(L"?#", start);
    std::vector<std::wstring> parts;
    std::wstring_view path = std::wstring_view(url).substr(start, end - start);
    while (!path.empty()) {
        const std::size_t slash = path.find(L'/');
        std::wstring part;
        if (!DecodePath(path.substr(0, slash), part) || part == L".." ||
            part.find(L'/') != std::wstring::npos)
            return {};
        if (!part.empty() && part != L".")
            parts.push_back(std::move(part));
        path.remove_prefix(slash == std::wstring_view::npos ? path.size() : slash + 1);
    }
    std::vector<std::wstring> candidates;
    for (std::size_t first = 0; first < parts.size(); ++first) {
        std::wstring candidate;
        for (std::size_t i = first; i < parts.size(); ++i)
            candidate += (candidate.empty() ? L"" : L"/") + parts[i];
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}
