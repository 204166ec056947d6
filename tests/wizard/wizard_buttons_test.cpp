// The wizard's buttons: their flags at each stage and the captions the wizard sets itself.

#include "wizard/wizard_buttons.h"

#include <gtest/gtest.h>

#include "text/messages.h"

namespace {

TEST(WizardButtonsTest, EveryStageHasItsFlags) {
    EXPECT_EQ(WizardButtons(WizardStage::kInstallPathShown), 0x13u);
    EXPECT_EQ(WizardButtons(WizardStage::kDownloading), 0x18u);
    EXPECT_EQ(WizardButtons(WizardStage::kVerified), 0x14u);
    EXPECT_EQ(WizardButtons(WizardStage::kFailed), 0x19u);
    for (auto stage : {WizardStage::kInstallPathShown, WizardStage::kDownloading,
                       WizardStage::kVerified, WizardStage::kFailed}) {
        EXPECT_TRUE(WizardButtons(stage) & kWizardCancel);
    }
}

TEST(BackButtonCaptionTest, FrenchReadsTheWordMessage207Names) {
    EXPECT_EQ(BackButtonCaption(1), L"< &Retour");
    EXPECT_NE(LoadTableEntry(307).find(L"\"Retour\""), std::wstring::npos);
    // English and German keep the toolkit's own.
    EXPECT_EQ(BackButtonCaption(0), L"");
    EXPECT_EQ(BackButtonCaption(2), L"");
}

TEST(AcceleratorTest, InstallTakesItsFirstLetterInEveryLanguage) {
    // The row beside "Install": Cancel, and Back/Next as Qt captions them.
    const std::wstring row = L"< &Back&Next >Cancel";
    for (int language : {0, 1, 2}) {
        const std::wstring install = LoadTableEntry(217 + 100 * language);
        EXPECT_EQ(WithAccelerator(install, row), L"&" + install) << language;
    }
    // The table's own text stays without the mark.
    EXPECT_EQ(LoadTableEntry(217), L"Install");
}

TEST(AcceleratorTest, ATakenLetterMovesTheMarkOn) {
    EXPECT_EQ(WithAccelerator(L"Install", L"&Info"), L"I&nstall");
    EXPECT_EQ(WithAccelerator(L"Install", L"&I&n&s&t&a&l"), L"Install");
    EXPECT_EQ(WithAccelerator(L"< Go", L""), L"< &Go");
    // A caption with its own mark keeps it; "&&" is no mark.
    EXPECT_EQ(WithAccelerator(L"&Finish", L"&Fine"), L"&Finish");
    EXPECT_EQ(WithAccelerator(L"A&&B", L""), L"&A&&B");
}

TEST(AcceleratorTest, LettersOfARowInLowerCase) {
    EXPECT_EQ(AcceleratorsOf(L"< &Back&Next >&&x&Finish"), L"bnf");
    EXPECT_EQ(AcceleratorsOf(L"&"), L"");
}

}  // namespace
