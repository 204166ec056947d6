#include "ui/console/console_answers.h"

#include <gtest/gtest.h>

#include "text/utf8.h"
#include "ui/user_interface.h"

namespace {

std::string Shown(const wchar_t* answer) {
    return "\"" + WideToUtf8(std::wstring_view(answer)) + "\"";
}

TEST(YesNoAnswerTest, AnswersInEveryLanguage) {
    for (const wchar_t* yes : {L"y", L"yes", L"Yes", L"o", L"oui", L"j", L"ja", L" JA \r"})
        EXPECT_EQ(ParseYesNoAnswer(yes), kIdYes) << Shown(yes);
    for (const wchar_t* no : {L"n", L"no", L"NO", L"non", L"nein", L"\tNein\r"})
        EXPECT_EQ(ParseYesNoAnswer(no), kIdNo) << Shown(no);
    for (const wchar_t* other : {L"", L" \r", L"maybe", L"yesno", L"1", L"y es", L"b", L"cancel"})
        EXPECT_EQ(ParseYesNoAnswer(other), 0) << Shown(other);
}

TEST(BackOrCancelAnswerTest, EitherWordInAnyCase) {
    struct Row {
        const wchar_t* answer;
        BackOrCancel expected;
    };
    const Row rows[] = {
        {L"b", BackOrCancel::kBack},           {L"B", BackOrCancel::kBack},
        {L"back", BackOrCancel::kBack},        {L"Back", BackOrCancel::kBack},
        {L"BACK", BackOrCancel::kBack},        {L" b\r", BackOrCancel::kBack},
        {L"c", BackOrCancel::kCancel},         {L"C", BackOrCancel::kCancel},
        {L"cancel", BackOrCancel::kCancel},    {L"CANCEL", BackOrCancel::kCancel},
        {L"Cancel \r", BackOrCancel::kCancel}, {L"", BackOrCancel::kNeither},
        {L"bk", BackOrCancel::kNeither},       {L"ba ck", BackOrCancel::kNeither},
        {L"y", BackOrCancel::kNeither},        {L"backc", BackOrCancel::kNeither},
        {L"t", BackOrCancel::kTryAgain},       {L"try again", BackOrCancel::kTryAgain},
        {L"P", BackOrCancel::kPlay},           {L"tp", BackOrCancel::kNeither},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ParseBackOrCancelAnswer(row.answer), row.expected) << Shown(row.answer);
}

}  // namespace
