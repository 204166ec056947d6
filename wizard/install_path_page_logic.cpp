#include "wizard/install_path_page_logic.h"

#include <cerrno>
#include <cstdint>
#include <random>
#include <string>

#include "catalogue/patch_info.h"
#include "platform/disk_space.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "text/failure.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/download_path.h"
#include "wizard/failure_text.h"

namespace {

// Random names tried once every fixed name is taken: a folder would need all of them planted
// in advance, and they cannot be known in advance.
constexpr int kRandomProbeNames = 16;

enum class ProbeOutcome { kCreated, kNameTaken, kRefused };

ProbeOutcome TryProbe(const platform::TrustedFolder& folder, const std::wstring& path,
                      const std::wstring& name) {
    // A probe whose path would not fit a path buffer proves nothing about the paths the
    // download will use.
    std::wstring joined;
    if (!platform::JoinPath(path, name, joined))
        return ProbeOutcome::kRefused;
    Failure failure;
    platform::UniqueFile file = folder.OpenFile(name, platform::FileAccess::kCreateNew, &failure);
    if (file == nullptr) {
        // Only a taken name says nothing about the folder; any other refusal (read-only,
        // no room, no right) would meet every other name too.
        const bool taken = failure.cause == FailureClass::kSystem && failure.code == EEXIST;
        return taken ? ProbeOutcome::kNameTaken : ProbeOutcome::kRefused;
    }
    file.reset();
    folder.RemoveFile(name);
    return ProbeOutcome::kCreated;
}

std::wstring RandomProbeName(std::mt19937_64& generator) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring name(kWriteAccessProbeName);
    name += L'.';
    for (std::uint64_t value = generator(), i = 0; i < 16; ++i, value >>= 4)
        name += kDigits[value & 15];
    return name;
}

// Creates and removes one probe file. Only a file this call created is ever removed.
bool CanCreateFileIn(const std::wstring& path) {
    platform::TrustedFolder folder;
    if (!folder.Open(path))
        return false;
    for (int attempt = 0; attempt < kWriteAccessProbeNames; ++attempt) {
        switch (TryProbe(folder, path, WriteAccessProbeName(attempt))) {
            case ProbeOutcome::kCreated:
                return true;
            case ProbeOutcome::kRefused:
                return false;
            case ProbeOutcome::kNameTaken:
                break;
        }
    }
    std::random_device device;
    std::mt19937_64 generator((std::uint64_t{device()} << 32) ^ device());
    for (int attempt = 0; attempt < kRandomProbeNames; ++attempt) {
        switch (TryProbe(folder, path, RandomProbeName(generator))) {
            case ProbeOutcome::kCreated:
                return true;
            case ProbeOutcome::kRefused:
                return false;
            case ProbeOutcome::kNameTaken:
                break;
        }
    }
    return false;
}

}  // namespace

std::wstring WriteAccessProbeName(int attempt) {
    std::wstring name(kWriteAccessProbeName);
    if (attempt > 0)
        name += L"." + std::to_wstring(attempt);
    return name;
}

std::wstring BuildVersionText(const PatchInfo& info) {
    std::wstring text = LoadMessage(kMsgSelectedVersion);
    text += L'\n';
    if (info.installed_game != nullptr)
        text += info.installed_game->name;
    return text;
}

std::wstring ProposeDownloadFolder(const PatchInfo& info) {
    if (!info.download_folder.empty())
        return info.download_folder;
    std::wstring folder;
    if (!platform::GetCurrentDirectory(folder))
        folder.clear();
    return folder;
}

FolderCheck CheckDownloadFolder(const std::wstring& folder) {
    if (folder.empty())
        return FolderCheck::kEmpty;
    if (folder.size() > kMaxDownloadFolderLength)
        return FolderCheck::kTooLong;
    // A NUL inside the text would silently shorten the name the system sees.
    if (folder.find(L'\0') != std::wstring::npos)
        return FolderCheck::kMissing;
    if (!platform::FileExists(folder))
        return FolderCheck::kMissing;
    if (!platform::IsDirectory(folder))
        return FolderCheck::kNotAFolder;
    if (!CanCreateFileIn(folder))
        return FolderCheck::kNotWritable;
    return FolderCheck::kAccepted;
}

std::wstring ExpandHomeFolder(const std::wstring& text) {
    if (text.empty() || text[0] != L'~' || (text.size() > 1 && text[1] != L'/'))
        return text;
    std::wstring home;
    if (!platform::GetHomeFolder(home))
        return text;
    if (text.size() <= 2)
        return home;
    // "~/games" joins without doubling the separator a home of "/" would bring.
    if (!home.empty() && home.back() == L'/')
        home.pop_back();
    return home + text.substr(1);
}

std::wstring FolderRefusalText(FolderCheck check, const std::wstring& folder) {
    std::wstring text = LoadMessage(kMsgInvalidFolder);
    int reason = 0;
    switch (check) {
        case FolderCheck::kMissing:
            reason = kMsgFolderMissing;
            break;
        case FolderCheck::kNotAFolder:
            reason = kMsgNotAFolder;
            break;
        case FolderCheck::kNotWritable:
            reason = kMsgFolderNotWritable;
            break;
        case FolderCheck::kAccepted:
        case FolderCheck::kEmpty:
        case FolderCheck::kTooLong:
            break;
    }
    if (reason != 0)
        text += L"\n" + FormatMessageText(LoadMessage(reason), {ForDisplay(folder)});
    return text;
}

std::uint64_t BytesStillToFetch(const PatchInfo& info, const std::wstring& folder) {
    const PatchEntry* latest =
        info.installed_game != nullptr ? info.installed_game->latest : nullptr;
    if (latest == nullptr)
        return 0;
    std::uint64_t needed = 0;
    for (const auto& entry : latest->download_list) {
        if (entry == nullptr || entry->size <= 0)
            continue;
        const auto listed = static_cast<std::uint64_t>(entry->size);
        platform::EntryStatus status;
        std::uint64_t present = 0;
        if (platform::StatBelow(folder, NativeTarget(entry->target), status) &&
            status.kind == platform::EntryKind::kRegularFile && status.size > 0)
            present = static_cast<std::uint64_t>(status.size);
        needed += present < listed ? listed - present : 0;
    }
    return needed;
}

std::wstring PatchSizeText(const PatchInfo& info, const std::wstring& folder) {
    const PatchEntry* latest =
        info.installed_game != nullptr ? info.installed_game->latest : nullptr;
    if (latest == nullptr)
        return {};
    std::uint64_t listed = 0;
    for (const auto& entry : latest->download_list)
        if (entry != nullptr && entry->size > 0)
            listed += static_cast<std::uint64_t>(entry->size);
    if (listed == 0)
        return {};
    std::wstring text = FormatMessageText(LoadMessage(kMsgPatchSize), {SizeText(listed)});
    const std::uint64_t missing = folder.empty() ? listed : BytesStillToFetch(info, folder);
    if (missing < listed)
        text += L"\n" +
                FormatMessageText(LoadMessage(kMsgAlreadyInFolder), {SizeText(listed - missing)});
    return text;
}

bool DiskSpaceShortText(const PatchInfo& info, const std::wstring& folder, std::wstring& text) {
    const std::uint64_t needed = BytesStillToFetch(info, folder);
    std::uint64_t free = 0;
    if (needed == 0 || !platform::GetFreeSpace(folder, free) || free >= needed)
        return false;
    text = FormatMessageText(LoadMessage(kMsgDiskSpace),
                             {ForDisplay(folder), SizeText(needed), SizeText(free)});
    return true;
}

bool AcceptDownloadFolder(const std::wstring& typed, PatchInfo& info, std::wstring* refusal) {
    const std::wstring folder = ExpandHomeFolder(typed);
    const FolderCheck check = CheckDownloadFolder(folder);
    if (check != FolderCheck::kAccepted) {
        if (refusal != nullptr)
            *refusal = FolderRefusalText(check, folder);
        return false;
    }
    // Before the first byte: a download that can only end in a full disk is not started.
    std::wstring shortText;
    if (DiskSpaceShortText(info, folder, shortText)) {
        if (refusal != nullptr)
            *refusal = std::move(shortText);
        return false;
    }
    info.download_folder = folder;
    return true;
}

std::wstring FolderFromPageText(const std::wstring& text, const std::wstring& proposed) {
    if (text == ForDisplay(proposed))
        return proposed;
    return text;
}
