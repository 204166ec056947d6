#include "catalogue/patch_info.h"

#include <gtest/gtest.h>

#include <string>

#include "catalogue/xml_tree.h"
#include "tests/catalogue/parse_helper.h"
#include "tests/support/catalogue_xml.h"
#include "text/utf8.h"

namespace {

// A catalogue as it is published: indented, over many lines, notes outside ASCII.
const char kCatalogue[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<patch_info patcherversion="1.0.0.40" patcherurl="http://www.velmora.example/launcher">
  <game_version_list>
    <release name="Velmora II – Édition Or" latestversion="1.2.0.0">
      <checksums>
        <checksum md5="0123456789abcdef0123456789abcdef" exe_id="gold"/>
        <checksum md5="fedcba9876543210fedcba9876543210" exe_id="gold-steam"/>
      </checksums>
      <patch_list>
        <update version="1.1.0.0" installer="patch110.exe">
          <download_list>
            <download url="http://dl.example/110.exe" target="patch110.exe"
                      md5="11111111111111111111111111111111" size="1024"/>
          </download_list>
        </update>
        <update version="1.2.0.0" installer="patch120.exe">
          <download_list>
            <download url="http://dl.example/120a.bin" target="patch120.exe"
                      md5="22222222222222222222222222222222" size="3000000000"/>
            <download url="http://dl.example/120b.bin" target="patch120-2.bin"
                      md5="33333333333333333333333333333333" size="77"
                      sha256="ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"/>
          </download_list>
        </update>
      </patch_list>
    </release>
  </game_version_list>
  <changelog_list>
    <changelog version="1.2.0.0">
      <text language="English">Fixes:\n- saves
        load faster\n- 日本語 font</text>
      <text language="German">Änderungen:\nGrößere Karten</text>
    </changelog>
  </changelog_list>
</patch_info>
)";

class PatchInfoTest : public ::testing::Test {
  protected:
    // Parses and reads into m_info; returns ReadPatchInfo's answer.
    bool Read(const std::string& xml) {
        m_parsed = ParseXml(xml);
        return ReadPatchInfo(m_parsed.root.get(), m_info);
    }
    const GameVersion& Game(std::size_t i) const { return *m_info.game_version_list.at(i); }

    ParsedXml m_parsed;
    PatchInfo m_info;
};

TEST_F(PatchInfoTest, PublishedCatalogueReadWhole) {
    ASSERT_TRUE(Read(kCatalogue));
    EXPECT_EQ(m_parsed.errors, "");
    EXPECT_EQ(m_info.patcherversion, L"1.0.0.40");
    EXPECT_EQ(m_info.patcherurl, L"http://www.velmora.example/launcher");
    ASSERT_EQ(m_info.game_version_list.size(), 1u);
    const GameVersion& game = Game(0);
    EXPECT_EQ(game.name, L"Velmora II \u2013 \u00C9dition Or");
    ASSERT_EQ(game.checksums.size(), 2u);
    EXPECT_EQ(game.checksums[1]->exe_id, L"gold-steam");
    ASSERT_EQ(game.patch_list.size(), 2u);
    ASSERT_EQ(game.latest, game.patch_list[1].get());
    EXPECT_EQ(game.latest->installer, L"patch120.exe");
    ASSERT_EQ(game.latest->download_list.size(), 2u);
    const DownloadEntry& first = *game.latest->download_list[0];
    EXPECT_EQ(first.url, L"http://dl.example/120a.bin");
    EXPECT_EQ(first.target, L"patch120.exe");
    EXPECT_EQ(first.md5, L"22222222222222222222222222222222");
    EXPECT_EQ(first.size, 3000000000LL);
    EXPECT_EQ(first.sha256, L"");
    EXPECT_EQ(game.latest->download_list[1]->sha256,
              L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    ASSERT_EQ(m_info.changelog_list.size(), 1u);
    const Changelog& log = *m_info.changelog_list[0];
    EXPECT_EQ(log.version, L"1.2.0.0");
    ASSERT_EQ(log.texts.size(), 2u);
    // The file's own line break and indentation are not a line of the notes; backslash-n is.
    EXPECT_EQ(log.texts[0]->text, L"Fixes:\n- saves        load faster\n- \u65E5\u672C\u8A9E font");
    EXPECT_EQ(log.texts[1]->text, L"\u00C4nderungen:\nGr\u00F6\u00DFere Karten");
}

// --- Refusals of the document element ----------------------------------------------------

TEST_F(PatchInfoTest, NullOrOtherDocumentLeavesTheRecordUntouched) {
    m_info.patcherversion = L"keep";
    EXPECT_FALSE(ReadPatchInfo(nullptr, m_info));
    EXPECT_FALSE(Read("<patchinfo><game_version_list/><changelog_list/></patchinfo>"));
    EXPECT_FALSE(Read(""));
    EXPECT_FALSE(Read(std::string("\xFF\xFE<", 3)));  // UTF-16, cut at its first NUL
    EXPECT_EQ(m_info.patcherversion, L"keep");
}

TEST_F(PatchInfoTest, ListsFoundOnlyByPosition) {
    const std::string release = ReleaseXml("R", "2", "aa", PatchXml("2", "i.exe"));
    EXPECT_FALSE(Read("<patch_info patcherversion=\"9\"/>"));
    EXPECT_EQ(m_info.patcherversion, L"9");

    EXPECT_FALSE(
        Read("<patch_info><game_version_list>" + release + "</game_version_list></patch_info>"));
    EXPECT_EQ(m_info.game_version_list.size(), 1u) << "releases read before the refusal stay";

    EXPECT_FALSE(Read("<patch_info><changelog_list/><game_version_list>" + release +
                      "</game_version_list></patch_info>"));
    EXPECT_TRUE(m_info.game_version_list.empty());

    EXPECT_FALSE(Read("<patch_info><game_version_list/><other/><changelog_list/></patch_info>"));
    EXPECT_TRUE(Read("<patch_info><game_version_list/><changelog_list/><more/></patch_info>"));
}

TEST_F(PatchInfoTest, SupportPageStandsInForAMissingOrEmptyPatcherUrl) {
    const std::wstring support = Utf8ToWide(std::string_view(VELMORA_SUPPORT_URL));
    ASSERT_FALSE(support.empty());
    EXPECT_EQ(DefaultSupportUrl(), support);
    ASSERT_TRUE(Read("<patch_info><game_version_list/><changelog_list/></patch_info>"));
    EXPECT_EQ(m_info.patcherurl, support);
    ASSERT_TRUE(
        Read("<patch_info patcherurl=\"\"><game_version_list/><changelog_list/></patch_info>"));
    EXPECT_EQ(m_info.patcherurl, support);
}

TEST_F(PatchInfoTest, RereadingReplacesAndDropsTheSelection) {
    ASSERT_TRUE(Read(kCatalogue));
    SelectInstalledGame(m_info, L"0123456789abcdef0123456789abcdef");
    ASSERT_NE(m_info.installed_game, nullptr);
    m_info.download_folder = L"/tmp/dl";
    ASSERT_TRUE(Read(kCatalogue));
    EXPECT_EQ(m_info.game_version_list.size(), 1u);
    EXPECT_EQ(m_info.changelog_list.size(), 1u);
    EXPECT_EQ(m_info.installed_game, nullptr);
    EXPECT_EQ(m_info.download_folder, L"/tmp/dl");
}

TEST_F(PatchInfoTest, TruncatedCatalogueKeepsWhatWasReadable) {
    const std::string full = CatalogueXml(ReleaseXml("R", "2", "aa", PatchXml("2", "i.exe")), "");
    const std::string cut = full.substr(0, full.find("<changelog_list>"));
    EXPECT_FALSE(Read(cut));
    EXPECT_NE(m_parsed.errors, "");
    ASSERT_EQ(m_info.game_version_list.size(), 1u);
    EXPECT_NE(Game(0).latest, nullptr);
}

TEST_F(PatchInfoTest, Windows1252CatalogueDecoded) {
    ASSERT_TRUE(Read("<?xml version=\"1.0\" encoding=\"windows-1252\"?>" +
                     CatalogueXml(ReleaseXml("Gold \x80 \xE9", "2", "aa", ""), "")));
    EXPECT_EQ(Game(0).name, L"Gold \u20AC \u00E9");
}

// --- Releases and patches ------------------------------------------------------------------

TEST_F(PatchInfoTest, MalformedReleasesSkippedSiblingsRead) {
    const std::string good = ReleaseXml("good", "2", "aa", PatchXml("2", "i.exe"));
    const std::string third = "<release name=\"third\"><checksums/><patch_list/><extra/></release>";
    const std::string swapped = "<release name=\"swapped\"><patch_list/><checksums/></release>";
    const std::string single = "<release name=\"single\"><checksums/></release>";
    const std::string misnamed = "<release name=\"misnamed\"><checksums/><patches/></release>";
    ASSERT_TRUE(Read(CatalogueXml(third + good + swapped + single + misnamed, "")));
    ASSERT_EQ(m_info.game_version_list.size(), 1u);
    EXPECT_EQ(Game(0).name, L"good");
}

TEST_F(PatchInfoTest, AnyReleaseAndPatchNameAcceptedListEntriesMustBeNamed) {
    const std::string patches =
        "<p version=\"1\" installer=\"a.exe\"><download_list>"
        "<download url=\"u1\" target=\"t1\" md5=\"m1\" size=\"5\"/><file url=\"u2\"/>"
        "</download_list><notes/></p>"
        "<p version=\"2\"><notes/><download_list/></p>"
        "<p version=\"3\"/>";
    ASSERT_TRUE(
        Read(CatalogueXml("<anything name=\"n\" latestversion=\"1\"><checksums>"
                          "<checksum md5=\"aa\"/><sum md5=\"bb\"/></checksums>"
                          "<patch_list>" +
                              patches + "</patch_list></anything>",
                          "")));
    const GameVersion& game = Game(0);
    ASSERT_EQ(game.checksums.size(), 1u);
    EXPECT_EQ(game.checksums[0]->exe_id, L"");
    ASSERT_EQ(game.patch_list.size(), 1u);
    EXPECT_EQ(game.latest, game.patch_list[0].get());
    ASSERT_EQ(game.latest->download_list.size(), 1u);
    EXPECT_EQ(game.latest->download_list[0]->size, 5);
}

TEST_F(PatchInfoTest, LatestIsTheLastMatchingPatch) {
    ASSERT_TRUE(
        Read(CatalogueXml(ReleaseXml("R", "2", "aa",
                                     PatchXml("2", "early.exe") + PatchXml("1", "old.exe") +
                                         PatchXml("2", "late.exe") + PatchXml("2.0", "near.exe")) +
                              ReleaseXml("S", "3", "bb", PatchXml("2", "x.exe")),
                          "")));
    ASSERT_NE(Game(0).latest, nullptr);
    EXPECT_EQ(Game(0).latest->installer, L"late.exe");
    EXPECT_EQ(Game(1).latest, nullptr);
}

TEST_F(PatchInfoTest, SizeReadAsSigned64Bits) {
    const std::string downloads =
        "<download size=\"3000000000\"/><download size=\"9223372036854775807\"/>"
        "<download size=\"9223372036854775808\"/><download size=\"abc\"/>"
        "<download size=\"2048 bytes\"/><download/><download size=\"  12\"/>";
    ASSERT_TRUE(Read(CatalogueXml(ReleaseXml("R", "1", "aa", PatchXml("1", "i", downloads)), "")));
    const auto& list = Game(0).latest->download_list;
    ASSERT_EQ(list.size(), 7u);
    const std::int64_t expected[] = {3000000000LL, INT64_MAX, 0, 0, 2048, 0, 12};
    for (std::size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(list[i]->size, expected[i]) << i;
}

TEST_F(PatchInfoTest, Sha256KeptAsWritten) {
    // Only the verification decides what matches; the reader neither fixes nor drops a form.
    const std::string downloads =
        "<download sha256=\"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\"/>"
        "<download sha256=\"abc\"/><download sha256=\"\"/><download/>";
    ASSERT_TRUE(Read(CatalogueXml(ReleaseXml("R", "1", "aa", PatchXml("1", "i", downloads)), "")));
    const auto& list = Game(0).latest->download_list;
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]->sha256, L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(list[1]->sha256, L"abc");
    EXPECT_EQ(list[2]->sha256, L"");
    EXPECT_EQ(list[3]->sha256, L"");
}

TEST_F(PatchInfoTest, MirrorsKeptInOrderAndBadOnesDropped) {
    const std::string downloads =
        "<download url=\"http://a/f\"><mirror url=\"https://b/f\"/><mirror url=\"ftp://c/f\"/>"
        "<mirror url=\"http://a/f\"/><mirror url=\"HTTP://d/f\"/><mirror url=\"https://b/f\"/>"
        "<mirror url=\"http://e/a b\"/><mirror/><mirror url=\"http://" +
        std::string(250, 'x') + "\"/><other url=\"http://f/f\"/></download>";
    ASSERT_TRUE(Read(CatalogueXml(ReleaseXml("R", "1", "aa", PatchXml("1", "i", downloads)), "")));
    const auto& list = Game(0).latest->download_list;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->mirrors, (std::vector<std::wstring>{L"https://b/f", L"HTTP://d/f"}));
}

TEST_F(PatchInfoTest, DeltasAreKeptWhenWholeAndDroppedOtherwiseWithoutTheFile) {
    const std::string a(32, 'a'), b(32, 'b');
    const auto delta = [&](const std::string& attributes) { return "<delta " + attributes + "/>"; };
    const std::string good = "url=\"http://dl.example/d\" size=\"812\" md5=\"" + a +
                             "\" base=\"data\\world.pak\" base_size=\"4096\" base_md5=\"" + b +
                             "\"";
    // Each bad row differs from the good one in one attribute.
    const std::string bad[] = {"url=\"\"",
                               "size=\"0\"",
                               "size=\"x\"",
                               "md5=\"ABC\"",
                               "base=\"\"",
                               "base_size=\"-5\"",
                               "base_md5=\"" + a.substr(1) + "\""};
    std::string children = delta(good) + "<mirror url=\"http://m.example/\"/>";
    for (const std::string& change : bad) {
        const std::string name = change.substr(0, change.find('='));
        std::string attributes = good;
        const std::size_t at = attributes.find(" " + name + "=") + 1;
        const std::size_t end = attributes.find('"', attributes.find('"', at) + 1);
        children += delta(attributes.replace(at, end + 1 - at, change));
    }
    const std::string downloads = "<download url=\"http://dl.example/f\" target=\"w.pak\" md5=\"" +
                                  a + "\" size=\"9\">" + children + "</download>";
    ASSERT_TRUE(Read(CatalogueXml(ReleaseXml("R", "1", "aa", PatchXml("1", "i", downloads)), "")));
    const auto& list = Game(0).latest->download_list;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->url, L"http://dl.example/f");
    ASSERT_EQ(list[0]->deltas.size(), 1u);
    const DeltaEntry& kept = list[0]->deltas[0];
    EXPECT_EQ(kept.url, L"http://dl.example/d");
    EXPECT_EQ(kept.size, 812);
    EXPECT_EQ(kept.md5, Utf8ToWide(a));
    EXPECT_EQ(kept.base, L"data\\world.pak");
    EXPECT_EQ(kept.base_size, 4096);
    EXPECT_EQ(kept.base_md5, Utf8ToWide(b));
}

TEST(ReadRecordTest, ReadersRefuseNullAndWrongNames) {
    ParsedXml other = ParseXml("<other><a/><b/></other>");
    GameVersion game;
    ExeChecksum sum;
    PatchEntry patch;
    DownloadEntry entry;
    Changelog log;
    ChangelogText text;
    for (const XmlNode* node :
         {static_cast<const XmlNode*>(nullptr), static_cast<const XmlNode*>(other.root.get())}) {
        EXPECT_FALSE(ReadExeChecksum(node, sum));
        EXPECT_FALSE(ReadDownloadEntry(node, entry));
        EXPECT_FALSE(ReadChangelog(node, log));
        EXPECT_FALSE(ReadChangelogText(node, text));
        EXPECT_FALSE(ReadPatchEntry(node, patch));
        EXPECT_FALSE(ReadGameVersion(node, game));
    }
}

// --- Changelogs ------------------------------------------------------------------------------

ChangelogText ReadText(const std::string& xml) {
    ParsedXml doc = ParseXml(xml);
    ChangelogText text;
    EXPECT_TRUE(ReadChangelogText(doc.root.get(), text));
    return text;
}

TEST(ChangelogTextTest, BackslashNBecomesLineFeedOtherBackslashesStay) {
    EXPECT_EQ(ReadText(R"(<text>\n\x</text>)").text, L"\n\\x");
    EXPECT_EQ(ReadText(R"(<text>a\\nb\N\</text>)").text, L"a\\\nb\\N\\");
    EXPECT_EQ(ReadText("<text language=\"French\">R\xC3\xA9sum\xC3\xA9</text>").language,
              L"French");
    EXPECT_EQ(ReadText("<text/>").text, L"");
}

TEST(ChangelogTextTest, ReusedRecordLosesOldNotes) {
    ParsedXml doc = ParseXml("<text language=\"English\"/>");
    ChangelogText text;
    text.text = L"stale";
    ASSERT_TRUE(ReadChangelogText(doc.root.get(), text));
    EXPECT_EQ(text.text, L"");
}

TEST_F(PatchInfoTest, ChangelogsKeepOnlyTextsAndFindByExactLanguage) {
    ASSERT_TRUE(Read(CatalogueXml("",
                                  "<changelog version=\"1\"><text language=\"French\">f</text>"
                                  "<note language=\"English\">n</note>"
                                  "<text language=\"English\">e1</text>"
                                  "<text language=\"English\">e2</text></changelog>"
                                  "<log version=\"2\"/>")));
    ASSERT_EQ(m_info.changelog_list.size(), 1u);
    const Changelog& log = *m_info.changelog_list[0];
    EXPECT_EQ(log.texts.size(), 3u);
    EXPECT_EQ(FindChangelogText(log, L"German"), nullptr);
    ASSERT_NE(FindChangelogText(log, L"English"), nullptr);
    EXPECT_EQ(FindChangelogText(log, L"English")->text, L"e1");
    EXPECT_EQ(FindChangelogText(log, L"english"), nullptr);
    EXPECT_EQ(FindChangelogText(log, L"French")->text, L"f");
    EXPECT_EQ(FindChangelogText(log, nullptr), nullptr);
}

// --- Selecting the installed release -------------------------------------------------------

TEST_F(PatchInfoTest, InstalledGameIsTheFirstReleaseListingTheDigest) {
    ASSERT_TRUE(Read(CatalogueXml(ReleaseXml("first", "1", "shared", "") +
                                      ReleaseXml("second", "1", "shared", "") +
                                      ReleaseXml("third", "1", "own", ""),
                                  "")));
    EXPECT_TRUE(HasChecksum(Game(2), L"own"));
    EXPECT_FALSE(HasChecksum(Game(2), L"OWN"));
    SelectInstalledGame(m_info, L"own");
    EXPECT_EQ(m_info.installed_game, &Game(2));
    SelectInstalledGame(m_info, L"shared");
    EXPECT_EQ(m_info.installed_game, &Game(0));
    SelectInstalledGame(m_info, L"open__error");
    EXPECT_EQ(m_info.installed_game, nullptr);
}

}  // namespace
