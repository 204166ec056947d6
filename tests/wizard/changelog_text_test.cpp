#include "wizard/changelog_text.h"

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue/patch_info.h"
#include "text/messages.h"

namespace {

// Builds the release notes of a catalogue by hand and keeps the language index of the process
// as it found it.
class ChangelogTextTest : public ::testing::Test {
  protected:
    void SetUp() override { m_savedLanguage = LanguageIndex; }
    void TearDown() override { LanguageIndex = m_savedLanguage; }

    void AddEntry(const std::wstring& version,
                  std::vector<std::pair<std::wstring, std::wstring>> texts) {
        auto log = std::make_unique<Changelog>();
        log->version = version;
        for (auto& [language, text] : texts) {
            auto entry = std::make_unique<ChangelogText>();
            entry->language = language;
            entry->text = text;
            log->texts.push_back(std::move(entry));
        }
        m_info.changelog_list.push_back(std::move(log));
    }

    static std::vector<std::wstring> Lines(const std::wstring& text) {
        std::vector<std::wstring> lines;
        std::wstring line;
        for (wchar_t c : text) {
            if (c == L'\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line.push_back(c);
            }
        }
        if (!line.empty())
            lines.push_back(line);
        return lines;
    }

    PatchInfo m_info;
    int m_savedLanguage = 0;
};

TEST_F(ChangelogTextTest, GermanUserSeesGermanTextAndEnglishFallBackLineByLine) {
    AddEntry(L"1.1.0.0", {{L"English", L"english 1.1"}, {L"German", L"deutsch 1.1"}});
    AddEntry(L"1.2.0.0", {{L"English", L"english 1.2"}});
    LanguageIndex = 2;

    const std::wstring text = BuildChangelogText(L"1.2.0.0", L"1.0.0.0", m_info);

    const std::vector<std::wstring> expected = {
        L"Patch 1.1.0.0 :", L"************", L"deutsch 1.1", L"",
        L"Patch 1.2.0.0 :", L"************", L"english 1.2", L"",
    };
    EXPECT_EQ(Lines(text), expected);
    // Single line feeds only, and the text ends with the empty line after the last block.
    EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 2), L"\n\n");
}

TEST_F(ChangelogTextTest, BoundsAreExclusiveBelowAndInclusiveAbove) {
    AddEntry(L"1.0.0.0", {{L"English", L"installed"}});
    AddEntry(L"1.1.0.0", {{L"English", L"brought"}});
    AddEntry(L"1.2.0.0", {{L"English", L"target"}});
    AddEntry(L"1.3.0.0", {{L"English", L"beyond"}});

    const std::wstring text = BuildChangelogText(L"1.2.0.0", L"1.0.0.0", m_info);

    EXPECT_EQ(text.find(L"installed"), std::wstring::npos);
    EXPECT_NE(text.find(L"brought"), std::wstring::npos);
    EXPECT_NE(text.find(L"target"), std::wstring::npos);
    EXPECT_EQ(text.find(L"beyond"), std::wstring::npos);
}

TEST_F(ChangelogTextTest, KeepsCatalogueOrderEvenWhenNewerComesFirst) {
    AddEntry(L"1.2.0.0", {{L"English", L"second"}});
    AddEntry(L"1.1.0.0", {{L"English", L"first"}});

    const std::wstring text = BuildChangelogText(L"1.2.0.0", L"1.0.0.0", m_info);

    EXPECT_EQ(text,
              L"Patch 1.2.0.0 :\n************\nsecond\n\n"
              L"Patch 1.1.0.0 :\n************\nfirst\n\n");
}

TEST_F(ChangelogTextTest, EntryWithoutUsableTextIsLeftOutHeaderIncluded) {
    AddEntry(L"1.1.0.0", {{L"Spanish", L"nada"}});
    AddEntry(L"1.2.0.0", {{L"English", L"kept"}});

    const std::wstring text = BuildChangelogText(L"1.2.0.0", L"1.0.0.0", m_info);

    EXPECT_EQ(text, L"Patch 1.2.0.0 :\n************\nkept\n\n");
}

TEST_F(ChangelogTextTest, FrenchOnlyTextReachesOnlyAFrenchUser) {
    AddEntry(L"1.1.0.0", {{L"French", L"en français"}});
    for (int language : {0, 2}) {
        LanguageIndex = language;
        EXPECT_EQ(BuildChangelogText(L"1.1.0.0", L"1.0.0.0", m_info), L"") << language;
    }
    LanguageIndex = 1;
    EXPECT_EQ(BuildChangelogText(L"1.1.0.0", L"1.0.0.0", m_info),
              L"Patch 1.1.0.0 :\n************\nen français\n\n");
}

TEST_F(ChangelogTextTest, LanguageNamesAreMatchedExactlyAndUnknownIndexMeansEnglish) {
    AddEntry(L"1.1.0.0", {{L"german", L"lower case"}, {L"English", L"english"}});
    LanguageIndex = 2;
    EXPECT_NE(BuildChangelogText(L"1.1", L"1.0", m_info).find(L"english"), std::wstring::npos);
    LanguageIndex = 9;
    EXPECT_NE(BuildChangelogText(L"1.1", L"1.0", m_info).find(L"english"), std::wstring::npos);
}

TEST_F(ChangelogTextTest, NothingQualifyingGivesTheEmptyText) {
    EXPECT_EQ(BuildChangelogText(L"1.2.0.0", L"1.0.0.0", m_info), L"");
    AddEntry(L"0.9.0.0", {{L"English", L"old"}});
    AddEntry(L"1.0.0.0", {{L"English", L"installed"}});
    EXPECT_EQ(BuildChangelogText(L"1.2.0.0", L"1.0.0.0", m_info), L"");
}

TEST_F(ChangelogTextTest, VersionsThatCompareEqualCountAsEqual) {
    // 1.2.5 equals 1.2 over the shorter list, so it is within the upper bound; 1.1.3 equals
    // 1.1, so it is not above the lower bound.
    AddEntry(L"1.1.3", {{L"English", L"equal to installed"}});
    AddEntry(L"1.2.5", {{L"English", L"equal to target"}});

    const std::wstring text = BuildChangelogText(L"1.2", L"1.1", m_info);

    EXPECT_EQ(text, L"Patch 1.2.5 :\n************\nequal to target\n\n");
}

TEST_F(ChangelogTextTest, TextIsTakenAsItStandsWithItsLineFeeds) {
    AddEntry(L"1.1.0.0", {{L"English", L"- fixed a crash\n  - indented detail\n\ttab"}});

    const std::wstring text = BuildChangelogText(L"1.1.0.0", L"1.0.0.0", m_info);

    EXPECT_EQ(text,
              L"Patch 1.1.0.0 :\n************\n- fixed a crash\n  - indented detail\n\ttab\n\n");
}

}  // namespace
