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

}  // namespace
