#include "text/messages.h"

#include <gtest/gtest.h>

namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void TearDown() override { LanguageIndex = 0; }
};

constexpr int kIds[] = {200, 201, 202, 203, 204, 206, 207, 208, 209, 214, 215, 216, 217, 218};

TEST_F(MessagesTest, EveryMessageExistsInEveryLanguage) {
    for (int language = 0; language < 3; ++language) {
        LanguageIndex = language;
        for (int id : kIds)
            EXPECT_FALSE(LoadMessage(id).empty()) << id << " in " << language;
    }
}

TEST_F(MessagesTest, UnusedAndUnknownIdsAreEmpty) {
    for (int id : {205, 210, 213, 219, 0, -1, 100, 999})
        EXPECT_TRUE(LoadMessage(id).empty()) << id;
    LanguageIndex = 7;
    EXPECT_TRUE(LoadMessage(200).empty());
    EXPECT_EQ(LanguageName(), L"English");
}

TEST_F(MessagesTest, EnglishOfferKeepsItsBlanksBeforePunctuation) {
    EXPECT_EQ(LoadMessage(201),
              L"A new patch is available. You currently have version %s , the latest patch "
              L"available is version %s . Do you wish to download the patch?");
}

TEST_F(MessagesTest, FrenchSingleInstanceAndCaption) {
    LanguageIndex = 1;
    EXPECT_EQ(LoadMessage(215),
              L"Une seule instance du Lancement Velmora II peut \u00eatre utilis\u00e9 \u00e0 la "
              L"fois.");
    EXPECT_EQ(LoadMessage(202), L"Lancement Velmora II");
    EXPECT_EQ(LanguageName(), L"French");
}

TEST_F(MessagesTest, GermanCaptionEqualsEnglish) {
    LanguageIndex = 2;
    EXPECT_EQ(LoadMessage(202), LoadTableEntry(202));
    EXPECT_EQ(LoadMessage(217), L"Installieren");
    EXPECT_EQ(LanguageName(), L"German");
}

TEST_F(MessagesTest, OnlyTheOfferIsAFormat) {
    for (int language = 0; language < 3; ++language) {
        LanguageIndex = language;
        for (int id : kIds) {
            const std::wstring text = LoadMessage(id);
            size_t count = 0;
            for (size_t p = text.find(L'%'); p != std::wstring::npos; p = text.find(L'%', p + 1))
                ++count;
            EXPECT_EQ(count, id == 201 ? 2u : 0u) << id << " in " << language;
        }
    }
}

// The placeholders %1..%9 a text uses, as a bit set.
unsigned Placeholders(const std::wstring& text) {
    unsigned seen = 0;
    for (std::size_t p = text.find(L'%'); p != std::wstring::npos; p = text.find(L'%', p + 1))
        if (p + 1 < text.size() && text[p + 1] >= L'1' && text[p + 1] <= L'9')
            seen |= 1u << (text[p + 1] - L'1');
    return seen;
}

// A translation that drops or adds a placeholder loses a file name or shows a raw "%2".
TEST_F(MessagesTest, LauncherMessagesExistInEveryLanguageWithTheSamePlaceholders) {
    for (int id = kMsgFolderBusy; id <= kMsgLastOwn; ++id) {
        const std::wstring english = LoadTableEntry(id);
        if (english.empty() && id > kMsgCannotRead)  // a block of ids not used up
            continue;
        ASSERT_FALSE(english.empty()) << id;
        for (int language = 1; language < 3; ++language) {
            const std::wstring translated = LoadTableEntry(id + 100 * language);
            ASSERT_FALSE(translated.empty()) << id << " in " << language;
            EXPECT_EQ(Placeholders(translated), Placeholders(english)) << id << " in " << language;
        }
    }
    EXPECT_TRUE(LoadTableEntry(kMsgLastOwn + 1).empty());
    EXPECT_TRUE(LoadTableEntry(229).empty());
}

// The launcher's own French texts put a no-break space before ":", ";", "?", "!" and "»" (and after
// "«"), the German ones address the player as "Sie"; the original texts keep their own habits.
TEST_F(MessagesTest, LauncherTranslationsFollowTheirLanguagesTypography) {
    for (int id = kMsgFolderBusy; id <= kMsgLastOwn; ++id) {
        const std::wstring french = L" " + LoadTableEntry(id + 100) + L" ";
        for (std::size_t p = 1; p + 1 < french.size(); ++p) {
            const bool sign =
                std::wstring_view(L":;?!\u00bb").find(french[p]) != std::wstring::npos;
            EXPECT_TRUE(!sign || french[p - 1] == L'\u00a0') << id + 100 << " at " << p;
            EXPECT_TRUE(french[p] != L'\u00ab' || french[p + 1] == L'\u00a0') << id + 100;
        }
        EXPECT_EQ(LoadTableEntry(id + 200).find(L" sie "), std::wstring::npos) << id + 200;
    }
}

TEST_F(MessagesTest, FormattingInsertsValuesVerbatimAndOnlyOnce) {
    EXPECT_EQ(FormatMessageText(L"Not enough disk space in %1: %2 needed, %3 free.",
                                {L"/games", L"1.5 GB", L"200 MB"}),
              L"Not enough disk space in /games: 1.5 GB needed, 200 MB free.");
    // A file name that looks like a placeholder is a file name.
    EXPECT_EQ(FormatMessageText(L"Cannot write %1: %2.", {L"%2.bin", L"No space"}),
              L"Cannot write %2.bin: No space.");
    // Order in the text may differ from the order of the values (a translation's word order).
    EXPECT_EQ(FormatMessageText(L"%2 / %1", {L"a", L"b"}), L"b / a");
    EXPECT_EQ(FormatMessageText(L"%1 and %2, 100%", {L"x"}), L"x and %2, 100%");
    LanguageIndex = 2;
    EXPECT_EQ(FormatMessageText(LoadMessage(kMsgFileOfFiles), {L"2", L"4"}), L"Datei 2 von 4");
}

}  // namespace
