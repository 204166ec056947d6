#include "ui/console/console_answers.h"

#include <initializer_list>
#include <string>

#include "ui/user_interface.h"

namespace {

// Only ASCII letters are folded: every word a question accepts is ASCII.
std::wstring Normalised(std::wstring_view answer) {
    constexpr std::wstring_view kSpace = L" \t\r\n\v\f";
    const std::size_t first = answer.find_first_not_of(kSpace);
    if (first == std::wstring_view::npos)
        return {};
    const std::size_t last = answer.find_last_not_of(kSpace);
    std::wstring word(answer.substr(first, last - first + 1));
    for (wchar_t& c : word)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return word;
}

bool IsOneOf(const std::wstring& word, std::initializer_list<std::wstring_view> choices) {
    for (std::wstring_view choice : choices)
        if (word == choice)
            return true;
    return false;
}

}  // namespace

int ParseYesNoAnswer(std::wstring_view answer) {
    const std::wstring word = Normalised(answer);
    if (IsOneOf(word, {L"y", L"yes", L"o", L"oui", L"j", L"ja"}))
        return kIdYes;
    if (IsOneOf(word, {L"n", L"no", L"non", L"nein"}))
        return kIdNo;
    return 0;
}

BackOrCancel ParseBackOrCancelAnswer(std::wstring_view answer) {
    const std::wstring word = Normalised(answer);
    if (IsOneOf(word, {L"b", L"back"}))
        return BackOrCancel::kBack;
    if (IsOneOf(word, {L"c", L"cancel"}))
        return BackOrCancel::kCancel;
    if (IsOneOf(word, {L"t", L"try", L"try again"}))
        return BackOrCancel::kTryAgain;
    if (IsOneOf(word, {L"p", L"play"}))
        return BackOrCancel::kPlay;
    return BackOrCancel::kNeither;
}
