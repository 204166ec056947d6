#include "wizard/button_captions.h"

#include <cwctype>

std::wstring BackButtonCaption(int language) {
    return language == 1 ? std::wstring(L"< &Retour") : std::wstring();
}

std::wstring AcceleratorsOf(const std::wstring& captions) {
    std::wstring letters;
    for (std::size_t i = 0; i + 1 < captions.size(); ++i) {
        if (captions[i] != L'&')
            continue;
        if (captions[i + 1] != L'&')
            letters += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(captions[i + 1])));
        ++i;
    }
    return letters;
}

std::wstring WithAccelerator(const std::wstring& caption, const std::wstring& taken) {
    if (!AcceleratorsOf(caption).empty())
        return caption;
    const std::wstring used = AcceleratorsOf(taken);
    for (std::size_t i = 0; i < caption.size(); ++i) {
        const wint_t c = static_cast<wint_t>(caption[i]);
        if (!std::iswalpha(c))
            continue;
        if (used.find(static_cast<wchar_t>(std::towlower(c))) != std::wstring::npos)
            continue;
        std::wstring marked = caption;
        marked.insert(i, 1, L'&');
        return marked;
    }
    return caption;
}
