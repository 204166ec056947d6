// The launcher's language, read from the game's profile below $XDG_DATA_HOME.

#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "app/language.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"

namespace {

constexpr char kProfile[] = "Velmora 2/Profile/Registry.xml";

std::string Profile(const std::string& registryBody) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><pointer><Registry>" + registryBody +
           "</Registry></pointer></root>\n";
}

class DetectLanguageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_data.IsValid());
        LanguageIndex = 0;
    }
    void TearDown() override { LanguageIndex = 0; }

    // Runs DetectLanguage the way start-up does, with the index reset first.
    int Detect() {
        LanguageIndex = 0;
        DetectLanguage();
        return LanguageIndex;
    }
    int DetectWithProfile(const std::string& text) {
        EXPECT_TRUE(m_data.WriteFile(kProfile, text));
        return Detect();
    }

    TempDir m_data;
    ScopedEnv m_xdg{"XDG_DATA_HOME", m_data.NarrowPath()};
};

TEST_F(DetectLanguageTest, EachKnownLanguageSelectsItsBlock) {
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"French\"/>")), 1);
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"German\"/>")), 2);
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"English\"/>")), 0);
}

TEST_F(DetectLanguageTest, TheLastLanguageElementCounts) {
    EXPECT_EQ(
        DetectWithProfile(Profile("<Language value=\"French\"/><Language value=\"German\"/>")), 2);
    EXPECT_EQ(
        DetectWithProfile(Profile("<Language value=\"German\"/><Language value=\"French\"/>")), 1);
}

TEST_F(DetectLanguageTest, LastLanguageWithoutValueMeansEnglish) {
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"French\"/><Language/>")), 0);
}

TEST_F(DetectLanguageTest, OtherElementsBetweenLanguagesAreIgnored) {
    EXPECT_EQ(DetectWithProfile(Profile("<Volume value=\"7\"/><Language value=\"German\"/>"
                                        "<Language2 value=\"French\"/><Resolution/>")),
              2);
}

TEST_F(DetectLanguageTest, ValuesAreMatchedExactly) {
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"french\"/>")), 0);
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"GERMAN\"/>")), 0);
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"German \"/>")), 0);
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"Spanish\"/>")), 0);
}

TEST_F(DetectLanguageTest, DocumentElementMustBeRoot) {
    EXPECT_EQ(DetectWithProfile("<profile><pointer><Registry><Language value=\"German\"/>"
                                "</Registry></pointer></profile>"),
              0);
}

TEST_F(DetectLanguageTest, RegistryMustBeTheFirstChildOfPointer) {
    EXPECT_EQ(DetectWithProfile("<root><pointer><Other/><Registry><Language value=\"German\"/>"
                                "</Registry></pointer></root>"),
              0);
}

TEST_F(DetectLanguageTest, PointerMustBeTheFirstChildOfRoot) {
    EXPECT_EQ(DetectWithProfile("<root><Other/><pointer><Registry><Language value=\"German\"/>"
                                "</Registry></pointer></root>"),
              0);
}

TEST_F(DetectLanguageTest, LanguageReadBeforeAParseErrorStillCounts) {
    EXPECT_EQ(DetectWithProfile("<root><pointer><Registry><Language value=\"French\"/>"
                                "<Broken attr=></Registry></pointer></root>"),
              1);
}

TEST_F(DetectLanguageTest, NoProfileMeansEnglish) {
    EXPECT_EQ(Detect(), 0);
}

TEST_F(DetectLanguageTest, EmptyOrForeignProfileMeansEnglish) {
    EXPECT_EQ(DetectWithProfile(""), 0);
    EXPECT_EQ(DetectWithProfile("German"), 0);
    EXPECT_EQ(DetectWithProfile(std::string("\0\xff\xfe<root>", 9)), 0);
}

TEST_F(DetectLanguageTest, ProfileThatIsAFolderMeansEnglish) {
    ASSERT_TRUE(m_data.WriteFile(std::string(kProfile) + "/inside", "x"));
    EXPECT_EQ(Detect(), 0);
}

TEST_F(DetectLanguageTest, ProfileThatIsAFifoMeansEnglishAtOnce) {
    ASSERT_TRUE(m_data.WriteFile(std::string(kProfile), "x"));
    const std::string path = m_data.NarrowPath() + "/" + kProfile;
    ASSERT_EQ(std::remove(path.c_str()), 0);
    // Nobody ever writes into it: a launcher that opened it for reading would wait for ever.
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(Detect(), 0);
}

// A profile holds a few settings; one of more than 1 MiB is not read at all.
TEST_F(DetectLanguageTest, ProfileLargerThanOneMebibyteIsNotRead) {
    const std::string french = Profile("<Language value=\"French\"/>");
    const std::string comment = "<!--" + std::string(1024 * 1024, 'x') + "-->";
    EXPECT_EQ(DetectWithProfile(french + std::string(1024 * 1024 - french.size(), ' ')), 1);
    EXPECT_EQ(DetectWithProfile(french + comment), 0);
}

TEST_F(DetectLanguageTest, WithoutXdgDataHomeTheProfileIsBelowHomeLocalShare) {
    TempDir home;
    ASSERT_TRUE(home.WriteFile(std::string(".local/share/") + kProfile,
                               Profile("<Language value=\"German\"/>")));
    ScopedEnv noXdg("XDG_DATA_HOME", std::nullopt);
    ScopedEnv homeEnv("HOME", home.NarrowPath());
    EXPECT_EQ(Detect(), 2);
}

// The profile path must fit 259 characters: "/Velmora 2/Profile/Registry.xml" adds 31 to the
// data folder, so a folder of 228 characters still works and one of 229 does not.
TEST_F(DetectLanguageTest, ProfilePathLongerThan259CharactersMeansEnglish) {
    const std::string base = m_data.NarrowPath() + "/";
    ASSERT_LT(base.size() + 10, 228u);
    for (std::size_t length : {std::size_t{228}, std::size_t{229}}) {
        const std::string folder = base + std::string(length - base.size(), 'd');
        ASSERT_EQ(folder.size(), length);
        const std::string relative = folder.substr(base.size()) + "/" + kProfile;
        ASSERT_TRUE(m_data.WriteFile(relative, Profile("<Language value=\"German\"/>")));
        ScopedEnv xdg("XDG_DATA_HOME", folder);
        std::wstring path;
        EXPECT_EQ(ProfilePath(path), length == 228) << length;
        EXPECT_EQ(Detect(), length == 228 ? 2 : 0) << length;
    }
}

TEST_F(DetectLanguageTest, MessagesFollowTheDetectedLanguage) {
    EXPECT_EQ(DetectWithProfile(Profile("<Language value=\"French\"/>")), 1);
    EXPECT_EQ(LoadMessage(kMsgCaption), L"Lancement Velmora II");
}

}  // namespace
