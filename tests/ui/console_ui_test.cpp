#include "ui/console/console_ui.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

// Console streams over temporary files: input scripted by the test, output read back.
class ConsoleUiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_in = std::tmpfile();
        m_out = std::tmpfile();
        ASSERT_NE(m_in, nullptr);
        ASSERT_NE(m_out, nullptr);
    }
    void TearDown() override {
        std::fclose(m_in);
        std::fclose(m_out);
    }
    void Input(const std::string& text) {
        std::fputs(text.c_str(), m_in);
        std::rewind(m_in);
    }
    std::string Output() {
        std::fflush(m_out);
        std::rewind(m_out);
        std::string text;
        int c;
        while ((c = std::fgetc(m_out)) != EOF)
            text.push_back(static_cast<char>(c));
        return text;
    }
    int Ask(const std::string& answer, bool assumeYes = false) {
        Input(answer);
        ConsoleUserInterface ui(m_in, m_out, assumeYes);
        return ui.MessageBox(L"Question?", L"Caption", kMbYesNo | kMbIconQuestion);
    }

    std::FILE* m_in = nullptr;
    std::FILE* m_out = nullptr;
};

TEST_F(ConsoleUiTest, ReadsOneAnswerLine) {
    EXPECT_EQ(Ask("oui\nn\n"), kIdYes);
    EXPECT_NE(Output().find("[Caption]\nQuestion?\n"), std::string::npos);
}

TEST_F(ConsoleUiTest, ALastLineWithoutLineFeedCounts) {
    EXPECT_EQ(Ask("nein"), kIdNo);
}

TEST_F(ConsoleUiTest, EndOfInputIsABoxNotShown) {
    EXPECT_EQ(Ask(""), 0);
}

TEST_F(ConsoleUiTest, AnUnreadableAnswerIsABoxNotShown) {
    EXPECT_EQ(Ask("maybe\n"), 0);
}

TEST_F(ConsoleUiTest, AnswersAreReadAsTheWizardReadsThem) {
    EXPECT_EQ(Ask(" Oui\r\n"), kIdYes);
}

TEST_F(ConsoleUiTest, TheBoxShowsCaptionAndTextExactly) {
    Input("");
    ConsoleUserInterface ui(m_in, m_out, false);
    EXPECT_EQ(ui.MessageBox(L"Le jeu n'a pas pu d\u00e9marrer.\nSecond line", L"Lancement",
                            kMbOk | kMbIconError),
              kIdOk);
    EXPECT_EQ(Output(), "[Lancement]\nLe jeu n'a pas pu d\xc3\xa9marrer.\nSecond line\n");
}

TEST_F(ConsoleUiTest, ControlCharactersInABoxNeverReachTheTerminal) {
    // A version text from the catalogue inside the patch offer.
    Input("");
    ConsoleUserInterface ui(m_in, m_out, false);
    ui.MessageBox(L"Update 1.0\x1b[2J to 1.1\u009b31m?\n\tNow", L"Cap\x07tion", kMbOk);
    EXPECT_EQ(Output(),
              "[Cap\xef\xbf\xbdtion]\nUpdate 1.0\xef\xbf\xbd[2J to 1.1\xef\xbf\xbd"
              "31m?\n\tNow\n");
}

TEST_F(ConsoleUiTest, ALineWrittenOverTheLastStartsWithItsOwnReturnOnly) {
    Input("");
    ConsoleUserInterface ui(m_in, m_out, false);
    ui.WriteOverLine(L"[ 10%] a\rb.bin");
    ui.WriteOverLine(L"[ 20%] a\x1b[Kb.bin");
    EXPECT_EQ(Output(),
              "\r[ 10%] a\xef\xbf\xbd"
              "b.bin\r[ 20%] a\xef\xbf\xbd[Kb.bin");
}

TEST_F(ConsoleUiTest, AssumeYesAnswersWithoutReading) {
    EXPECT_EQ(Ask("n\n", true), kIdYes);
    // The scripted "n" is still there: nothing was read.
    std::string rest;
    ConsoleUserInterface reader(m_in, m_out, false);
    ASSERT_TRUE(reader.ReadLine(rest));
    EXPECT_EQ(rest, "n");
}

}  // namespace
