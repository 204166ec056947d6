#include "app/kept_catalogue.h"

#include <cerrno>
#include <charconv>
#include <string_view>

#include "platform/path.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "transfer/transfer_limits.h"

namespace {

constexpr wchar_t kKeptFileName[] = L"catalogue";
// The first line names the layout, so a later launcher that writes another one is not misread.
constexpr std::string_view kFirstLine = "velmora-kept-catalogue 1\n";
// The lines before the body: the address, two validators and the body's size.
constexpr std::size_t kMaxHeadSize = 4096;

// The head is "name value" lines up to an empty line; the body follows it.
bool TakeLine(std::string_view& text, std::string_view name, std::string& value) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos || text.substr(0, name.size()) != name || end < name.size() ||
        (end > name.size() && text[name.size()] != ' '))
        return false;
    const std::size_t start = end > name.size() ? name.size() + 1 : name.size();
    value = std::string(text.substr(start, end - start));
    text.remove_prefix(end + 1);
    return true;
}

}  // namespace

std::wstring UserKeptCataloguePath() {
    std::wstring folder, path;
    if (!platform::GetLauncherFolder(platform::kCacheFolder, folder) ||
        !platform::JoinPath(folder, kKeptFileName, path, platform::kMaxNativePathLength))
        return {};
    return path;
}

std::optional<KeptCatalogue> ReadKeptCatalogue(const std::wstring& path) {
    std::string text;
    if (!platform::ReadSmallFile(path, kMaxMemoryBody + kMaxHeadSize, text))
        return std::nullopt;
    if (text.compare(0, kFirstLine.size(), kFirstLine) != 0)
        return std::nullopt;

    std::string_view rest(text);
    rest.remove_prefix(kFirstLine.size());
    KeptCatalogue kept;
    std::string size, blank;
    if (!TakeLine(rest, "url", kept.url) || !TakeLine(rest, "etag", kept.validators.etag) ||
        !TakeLine(rest, "last-modified", kept.validators.lastModified) ||
        !TakeLine(rest, "size", size) || !TakeLine(rest, "", blank) || !blank.empty())
        return std::nullopt;
    // A copy cut short (a full disk before the rename, say) is no copy at all.
    std::size_t bodySize = 0;
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), bodySize);
    if (error != std::errc{} || end != size.data() + size.size() || bodySize != rest.size() ||
        kept.validators.Empty())
        return std::nullopt;
    kept.body = std::string(rest);
    return kept;
}

bool WriteKeptCatalogue(const std::wstring& path, const KeptCatalogue& kept, Failure* failure) {
    // A line break inside a value would shift every line after it.
    for (const std::string* value :
         {&kept.url, &kept.validators.etag, &kept.validators.lastModified})
        if (value->find('\n') != std::string::npos) {
            if (failure != nullptr)
                *failure = SystemFailure(EINVAL, path);
            return false;
        }
    std::string text(kFirstLine);
    text += "url " + kept.url + "\netag " + kept.validators.etag + "\nlast-modified " +
            kept.validators.lastModified + "\nsize " + std::to_string(kept.body.size()) + "\n\n";
    text += kept.body;
    return platform::WriteFileAtomically(path, text, failure);
}
