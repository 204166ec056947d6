#include "wizard/changelog_text.h"

#include "catalogue/patch_info.h"
#include "catalogue/version_compare.h"
#include "text/messages.h"

std::wstring BuildChangelogText(const std::wstring& upperBound, const std::wstring& lowerBound,
                                const PatchInfo& info) {
    const std::wstring language = LanguageName();
    std::wstring text;
    for (const auto& entry : info.changelog_list) {
        if (!entry)
            continue;
        const std::wstring& version = entry->version;
        if (CompareVersions(upperBound, version) < 0)
            continue;
        if (CompareVersions(lowerBound, version) >= 0)
            continue;
        const ChangelogText* found = FindChangelogText(*entry, language.c_str());
        if (found == nullptr)
            found = FindChangelogText(*entry, L"English");
        if (found == nullptr)
            continue;
        text += L"Patch ";
        text += version;
        text += L" :\n************\n";
        text += found->text;
        text += L"\n\n";
    }
    return text;
}
