#include "tools/publish/lint.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/catalogue_xml.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "transfer/md5.h"

namespace {

// A catalogue with nothing to say about it. Each planted fault below changes one thing in
// it; the line numbers of the findings are this text's.
const char kSound[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<patch_info patcherversion="1.0.0.38" patcherurl="http://www.velmora.example/launcher">
  <game_version_list>
    <release name="Gold" latestversion="1.2.0.0">
      <checksums>
        <checksum md5="0123456789abcdef0123456789abcdef" exe_id="gold"/>
      </checksums>
      <patch_list>
        <update version="1.2.0.0" installer="setup.exe">
          <download_list>
            <download url="http://dl.example/setup.exe" target="setup.exe" md5="11111111111111111111111111111111" size="1024"/>
            <download url="http://dl.example/a.pak" target="data\a.pak" md5="22222222222222222222222222222222" sha256="2222222222222222222222222222222222222222222222222222222222222222" size="3000000000"/>
          </download_list>
        </update>
      </patch_list>
    </release>
    <release name="Steam" latestversion="1.2.0.0">
      <checksums>
        <checksum md5="fedcba9876543210fedcba9876543210" exe_id="steam"/>
      </checksums>
      <patch_list>
        <update version="1.2.0.0" installer="setup.exe">
          <download_list>
            <download url="http://dl.example/setup.exe" target="setup.exe" md5="11111111111111111111111111111111" size="1024"/>
          </download_list>
        </update>
      </patch_list>
    </release>
  </game_version_list>
  <changelog_list>
    <changelog version="1.2.0.0">
      <text language="English">Fixes:\n- faster saves</text>
      <text language="French">Corrections</text>
      <text language="German">Korrekturen</text>
    </changelog>
  </changelog_list>
</patch_info>
)";

struct PlantedFault {
    const char* name;
    std::string from;  // replaced (first occurrence) in kSound
    std::string to;
    const char* code;  // the finding that must appear
    std::uint64_t line;
    Severity severity;
};

const Finding* Find(const std::vector<Finding>& findings, const std::string& code,
                    std::uint64_t line) {
    const auto it = std::find_if(findings.begin(), findings.end(), [&](const Finding& f) {
        return f.code == code && f.line == line;
    });
    return it == findings.end() ? nullptr : &*it;
}

std::string Dump(const std::vector<Finding>& findings) {
    std::string text;
    for (const Finding& finding : findings)
        text += FormatFinding(finding, "patchinfo.xml") + "\n";
    return text;
}

class LintTest : public ::testing::Test {
  protected:
    static std::vector<Finding> Lint(const std::string& text, const LintOptions& options = {}) {
        return LintCatalogue(text, options);
    }
};

TEST_F(LintTest, SoundCatalogueHasNothingToSay) {
    const std::vector<Finding> findings = Lint(kSound);
    EXPECT_TRUE(findings.empty()) << Dump(findings);
    EXPECT_EQ(ExitStatusFor(findings, true), kExitClean);
}

TEST_F(LintTest, EachPlantedFaultIsFoundOnItsLine) {
    const std::string sha(64, '2');
    // A delta on the line of the second download, with one attribute changed per row.
    const std::string plainEnd = "size=\"3000000000\"/>";
    const auto withDelta = [&](const std::string& attributes) {
        return "size=\"3000000000\"><delta url=\"http://dl.example/a.zst\" md5=\"" +
               std::string(32, '3') + "\" base_md5=\"" + std::string(32, '4') + "\" " + attributes +
               "/></download>";
    };
    const PlantedFault faults[] = {
        {"mismatched tag", "</checksums>\n      <patch_list>\n        <update version=\"1.2.0.0\"",
         "</checksum>\n      <patch_list>\n        <update version=\"1.2.0.0\"", "xml-malformed", 7,
         Severity::kError},
        {"upper-case digest", "0123456789abcdef0123456789abcdef",
         "0123456789ABCDEF0123456789ABCDEF", "digest-format", 6, Severity::kError},
        {"short download digest", "md5=\"22222222222222222222222222222222\"", "md5=\"2222\"",
         "digest-format", 12, Severity::kError},
        {"upper-case sha256", sha, std::string(64, 'A'), "digest-format", 12, Severity::kError},
        {"no md5 at all", "md5=\"11111111111111111111111111111111\" size=\"1024\"", "size=\"1024\"",
         "attribute-missing", 11, Severity::kError},
        {"latest version without a patch", "name=\"Gold\" latestversion=\"1.2.0.0\"",
         "name=\"Gold\" latestversion=\"1.3.0.0\"", "latest-missing", 4, Severity::kError},
        {"latest version the launcher never writes", "name=\"Gold\" latestversion=\"1.2.0.0\"",
         "name=\"Gold\" latestversion=\"1.2\"", "latest-never-current", 4, Severity::kError},
        {"one digest for two releases", "fedcba9876543210fedcba9876543210",
         "0123456789abcdef0123456789abcdef", "checksum-duplicate", 19, Severity::kError},
        {"installer not downloaded", "installer=\"setup.exe\">", "installer=\"install.exe\">",
         "installer-not-downloaded", 9, Severity::kError},
        {"installer named otherwise than its download", "installer=\"setup.exe\">",
         "installer=\"./setup.exe\">", "installer-not-downloaded", 9, Severity::kError},
        {"installer outside", "installer=\"setup.exe\">", "installer=\"..\\setup.exe\">",
         "path-outside", 9, Severity::kError},
        {"absolute target", "target=\"data\\a.pak\"", "target=\"/data/a.pak\"", "path-outside", 12,
         Severity::kError},
        {"drive target", "target=\"data\\a.pak\"", "target=\"C:data\\a.pak\"", "path-outside", 12,
         Severity::kError},
        {"climbing target", "target=\"data\\a.pak\"", "target=\"data\\..\\..\\a.pak\"",
         "path-outside", 12, Severity::kError},
        {"targets collide after the separator turns", "target=\"setup.exe\"",
         "target=\"data/a.pak\"", "target-collision", 12, Severity::kError},
        {"a target used as a folder", "target=\"data\\a.pak\"", "target=\"setup.exe\\a.pak\"",
         "target-collision", 12, Severity::kError},
        {"targets differ in case only", "target=\"data\\a.pak\"", "target=\"SETUP.exe\"",
         "target-case-collision", 12, Severity::kWarning},
        {"size with a unit", "size=\"1024\"", "size=\"1kB\"", "size-format", 11, Severity::kError},
        {"size beyond 64 bits", "size=\"3000000000\"", "size=\"99999999999999999999\"",
         "size-format", 12, Severity::kError},
        {"negative size", "size=\"1024\"", "size=\"-1\"", "size-format", 11, Severity::kError},
        {"size missing", " size=\"1024\"", "", "size-format", 11, Severity::kError},
        {"non-numeric version component", "<changelog version=\"1.2.0.0\">",
         "<changelog version=\"1.2.0.beta\">", "version-format", 31, Severity::kWarning},
        {"versions of one release equal to the launcher",
         "<update version=\"1.2.0.0\" installer=\"setup.exe\">\n          <download_list>\n"
         "            <download url=\"http://dl.example/setup.exe\" target=\"setup.exe\" "
         "md5=\"11111111111111111111111111111111\" size=\"1024\"/>\n            <download url",
         "<update version=\"1.2.0.0.7\" installer=\"setup.exe\"><download_list><download "
         "url=\"http://dl.example/x\" target=\"setup.exe\" "
         "md5=\"11111111111111111111111111111111\" "
         "size=\"1024\"/></download_list></update>\n"
         "<update version=\"1.2.0.0\" installer=\"setup.exe\">\n          <download_list>\n"
         "            <download url=\"http://dl.example/setup.exe\" target=\"setup.exe\" "
         "md5=\"11111111111111111111111111111111\" size=\"1024\"/>\n            <download url",
         "version-ambiguous", 9, Severity::kWarning},
        {"notes missing for a language", "      <text language=\"German\">Korrekturen</text>\n", "",
         "notes-language-missing", 31, Severity::kNote},
        {"notes without English", "<text language=\"English\">", "<text language=\"english\">",
         "notes-english-missing", 31, Severity::kWarning},
        {"patcherversion missing", "patcherversion=\"1.0.0.38\" ", "", "patcherversion-missing", 2,
         Severity::kWarning},
        {"patcherurl missing", " patcherurl=\"http://www.velmora.example/launcher\"", "",
         "patcherurl-missing", 2, Severity::kWarning},
        {"a release with a third element",
         "      </patch_list>\n    </release>\n    <release name=\"Steam\"",
         "      </patch_list>\n      <notes/>\n    </release>\n    <release name=\"Steam\"",
         "release-skipped", 4, Severity::kError},
        {"a patch without its download list",
         "<update version=\"1.2.0.0\" installer=\"setup.exe\">\n          <download_list>",
         "<update version=\"1.2.0.0\" installer=\"setup.exe\">\n          <files/><download_list>",
         "patch-skipped", 9, Severity::kError},
        {"no changelog list", "  <changelog_list>", "  <changelogs>", "structure", 30,
         Severity::kError},
        {"a declared encoding the parser does not know", "encoding=\"UTF-8\"",
         "encoding=\"latin2\"", "encoding-misread", 1, Severity::kWarning},
        {"an element the launcher ignores", "<checksum md5=\"fedcba",
         "<digest/><checksum md5=\"fedcba", "element-ignored", 19, Severity::kWarning},
        {"a url that is not http", "http://dl.example/a.pak", "ftp://dl.example/a.pak",
         "url-scheme", 12, Severity::kError},
        {"a mirror the launcher drops", "size=\"1024\"/>",
         "size=\"1024\">\n<mirror url=\"ftp://dl.example/a.pak\"/></download>", "mirror-dropped",
         12, Severity::kWarning},
        {"a delta base that climbs out", plainEnd,
         withDelta("size=\"10\" base=\"..\\a.pak\" base_size=\"5\""), "delta-base-path", 12,
         Severity::kError},
        {"a delta of no bytes", plainEnd,
         withDelta("size=\"0\" base=\"data\\a.pak\" base_size=\"5\""), "delta-dropped", 12,
         Severity::kError},
        {"a delta size with a unit", plainEnd,
         withDelta("size=\"1kB\" base=\"data\\a.pak\" base_size=\"5\""), "delta-size", 12,
         Severity::kError},
        {"a delta larger than its file", plainEnd,
         withDelta("size=\"3000000001\" base=\"data\\a.pak\" base_size=\"5\""), "delta-larger", 12,
         Severity::kWarning},
        {"a target the deltas' names take", "target=\"data\\a.pak\"", "target=\".velmora-delta-x\"",
         "target-reserved", 12, Severity::kError},
    };
    for (const PlantedFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        ASSERT_EQ(Find(Lint(kSound), fault.code, fault.line), nullptr);
        const std::vector<Finding> findings = Lint(Replaced(kSound, fault.from, fault.to));
        const Finding* found = Find(findings, fault.code, fault.line);
        ASSERT_NE(found, nullptr) << Dump(findings);
        EXPECT_EQ(found->severity, fault.severity) << Dump(findings);
        EXPECT_FALSE(found->message.empty());
    }
}

TEST_F(LintTest, ExpatsOwnWordsAndLineForMalformedXml) {
    const std::vector<Finding> findings =
        Lint("<patch_info>\n<game_version_list>\n</changelog_list>");
    const Finding* found = Find(findings, "xml-malformed", 3);
    ASSERT_NE(found, nullptr) << Dump(findings);
    EXPECT_NE(found->message.find("mismatched tag"), std::string::npos) << found->message;
}

TEST_F(LintTest, UpperCaseDigestSaysTheLauncherNeverMatchesIt) {
    const std::vector<Finding> findings = Lint(
        Replaced(kSound, "0123456789abcdef0123456789abcdef", "0123456789ABCDEF0123456789ABCDEF"));
    const Finding* found = Find(findings, "digest-format", 6);
    ASSERT_NE(found, nullptr);
    EXPECT_NE(found->message.find("upper case"), std::string::npos);
    EXPECT_NE(found->message.find("never match"), std::string::npos);
}

TEST_F(LintTest, SizeMessageTellsWhatTheLauncherReads) {
    const std::vector<Finding> findings = Lint(Replaced(kSound, "size=\"1024\"", "size=\"12kB\""));
    const Finding* found = Find(findings, "size-format", 11);
    ASSERT_NE(found, nullptr);
    EXPECT_NE(found->message.find("reads it as 12"), std::string::npos) << found->message;
}

TEST_F(LintTest, VersionComponentMessageTellsItsValue) {
    const std::vector<Finding> findings = Lint(
        Replaced(kSound, "<changelog version=\"1.2.0.0\">", "<changelog version=\"1.2.10b\">"));
    const Finding* found = Find(findings, "version-format", 31);
    ASSERT_NE(found, nullptr) << Dump(findings);
    EXPECT_NE(found->message.find("counts it as 10"), std::string::npos) << found->message;
}

TEST_F(LintTest, NulByteCutsTheCatalogueWhereTheLauncherCutsIt) {
    std::string text = kSound;
    text.insert(text.find("  <changelog_list>"), std::string(1, '\0'));
    const std::vector<Finding> findings = Lint(text);
    EXPECT_NE(Find(findings, "nul-byte", 30), nullptr) << Dump(findings);
    // What follows the NUL never reaches the parser, as in the launcher.
    EXPECT_NE(Find(findings, "xml-malformed", 30), nullptr) << Dump(findings);
}

TEST_F(LintTest, OnlyALaterPatchOfTheLatestVersionIsOffered) {
    const std::string patch =
        "<update version=\"1.2.0.0\" installer=\"setup.exe\"><download_list><download "
        "url=\"http://dl.example/setup.exe\" target=\"setup.exe\" "
        "md5=\"11111111111111111111111111111111\" size=\"1024\"/></download_list></update>\n";
    const std::vector<Finding> findings =
        Lint(Replaced(kSound, "      </patch_list>\n    </release>\n    <release name=\"Steam\"",
                      patch + "      </patch_list>\n    </release>\n    <release name=\"Steam\""));
    EXPECT_NE(Find(findings, "latest-duplicate", 9), nullptr) << Dump(findings);
}

TEST_F(LintTest, StructuralRefusalsAgreeWithTheReader) {
    // Whatever the reader refuses as a whole, lint calls an error.
    const char* refused[] = {
        "",
        "<patchinfo/>",
        "<patch_info><changelog_list/><game_version_list/></patch_info>",
        "<patch_info><game_version_list/></patch_info>",
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ExitStatusFor(Lint(text), false), kExitFindings);
    }
}

TEST(FindingTest, ExitStatusAndStrictness) {
    std::vector<Finding> findings = {{Severity::kNote, 3, "n", "a note", {}}};
    EXPECT_EQ(ExitStatusFor(findings, true), kExitClean);
    findings.push_back({Severity::kWarning, 2, "w", "a warning", {}});
    EXPECT_EQ(ExitStatusFor(findings, false), kExitClean);
    EXPECT_EQ(ExitStatusFor(findings, true), kExitFindings);
    findings.push_back({Severity::kError, 1, "e", "an error", {}});
    EXPECT_EQ(ExitStatusFor(findings, false), kExitFindings);
    EXPECT_EQ(FormatCounts(CountFindings(findings)), "1 error, 1 warning, 1 note");
    EXPECT_EQ(FormatFinding(findings[2], "patchinfo.xml"), "patchinfo.xml:1: error: an error [e]");
    EXPECT_EQ(FormatFinding({Severity::kNote, 0, "x", "whole", "other.xml"}, "patchinfo.xml"),
              "other.xml: note: whole [x]");
}

TEST(FindingTest, JsonCarriesEveryFindingAndASummary) {
    const std::vector<Finding> findings = {
        {Severity::kError, 12, "digest-format", "bad \"digest\" \xFF", {}},
        {Severity::kWarning, 0, "patcherurl-missing", "no url", {}},
    };
    const nlohmann::json document = nlohmann::json::parse(FindingsToJson(findings, "p.xml", false));
    EXPECT_EQ(document["file"], "p.xml");
    ASSERT_EQ(document["findings"].size(), 2u);
    const nlohmann::json& first = document["findings"][0];
    EXPECT_EQ(first["severity"], "error");
    EXPECT_EQ(first["line"], 12);
    EXPECT_EQ(first["code"], "digest-format");
    // Bytes that are not UTF-8 are replaced, never the cause of a failure.
    EXPECT_EQ(first["message"], "bad \"digest\" \xEF\xBF\xBD");
    EXPECT_EQ(document["summary"]["errors"], 1);
    EXPECT_EQ(document["summary"]["warnings"], 1);
    EXPECT_EQ(document["summary"]["notes"], 0);
    EXPECT_EQ(document["summary"]["status"], "fail");
    const nlohmann::json strictless =
        nlohmann::json::parse(FindingsToJson({findings[1]}, "p.xml", false));
    EXPECT_EQ(strictless["summary"]["status"], "pass");
    EXPECT_EQ(
        nlohmann::json::parse(FindingsToJson({findings[1]}, "p.xml", true))["summary"]["status"],
        "fail");
}

// --- Local files -----------------------------------------------------------------------------

std::string Md5(const std::string& bytes) {
    CMD5Wrapper md5;
    return md5.hashOfText(bytes);
}

class LintFilesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_temp.IsValid()); }

    // The downloads start on line 3.
    static std::string Catalogue(const std::string& downloads,
                                 const std::string& patcherurl = "http://x.example/") {
        return CatalogueXml(ReleaseXml("Gold", "1.2.0.0", "0123456789abcdef0123456789abcdef",
                                       PatchXml("1.2.0.0", "setup.exe", downloads)),
                            "", patcherurl);
    }

    TempDir m_temp;
};

TEST_F(LintFilesTest, EachEntryIsComparedWithItsLocalFile) {
    const std::string setup = "MZ setup bytes";
    const std::string data(5000, 'd');
    ASSERT_TRUE(m_temp.WriteFile("server/v/1.2/setup.exe", setup));
    ASSERT_TRUE(m_temp.WriteFile("server/v/1.2/data.pak", data));
    ASSERT_TRUE(m_temp.WriteFile("server/v/1.2/short.pak", "short"));
    const std::string text = Catalogue(
        // Line 3: found by its URL's path below the folder, sound.
        DownloadXml("http://dl.example/velmora2/v/1.2/setup.exe", "setup.exe", Md5(setup),
                    setup.size()) +
        // Line 4: right size, wrong digest.
        DownloadXml("http://dl.example/velmora2/v/1.2/data.pak", "data.pak", std::string(32, '0'),
                    data.size()) +
        // Line 5: wrong size.
        DownloadXml("http://dl.example/velmora2/v/1.2/short.pak", "short.pak", Md5("short"), 99) +
        // Line 6: nowhere.
        DownloadXml("http://dl.example/velmora2/v/1.2/gone.pak", "gone.pak", Md5("x"), 1));
    LintOptions options;
    options.filesFolder = m_temp.PathOf("server");
    const std::vector<Finding> findings = LintCatalogue(text, options);

    auto codesOn = [&](std::uint64_t line) {
        std::vector<std::string> codes;
        for (const Finding& finding : findings) {
            if (finding.line == line)
                codes.push_back(finding.code);
        }
        return codes;
    };
    EXPECT_TRUE(codesOn(3).empty());
    EXPECT_EQ(codesOn(4), std::vector<std::string>{"file-md5"});
    EXPECT_EQ(codesOn(5), std::vector<std::string>{"file-size"});
    EXPECT_EQ(codesOn(6), std::vector<std::string>{"file-missing"});
}

TEST_F(LintFilesTest, ADownloadFolderIsSearchedByTargetAndSha256IsChecked) {
    const std::string bytes = "patch archive";
    ASSERT_TRUE(m_temp.WriteFile("downloads/setup.exe", "MZ"));
    ASSERT_TRUE(m_temp.WriteFile("downloads/sub/a.pak", bytes));
    const std::string text =
        Catalogue(DownloadXml("http://dl.example/setup.exe", "setup.exe", Md5("MZ"), 2) +
                  "<download url=\"http://dl.example/elsewhere/a\" target=\"sub\\a.pak\" md5=\"" +
                  Md5(bytes) + "\" sha256=\"" + std::string(64, 'a') + "\" size=\"" +
                  std::to_string(bytes.size()) + "\"/>\n");
    LintOptions options;
    options.filesFolder = m_temp.PathOf("downloads");
    const std::vector<Finding> findings = LintCatalogue(text, options);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].code, "file-sha256");
    EXPECT_EQ(findings[0].line, 4u);
}

// --- Asking the server -----------------------------------------------------------------------

class LintUrlsTest : public LintFilesTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.IsRunning());
        m_server.ServeBytes("/launcher.html", "<html>newer launcher</html>", {});
    }
    std::string Page() const { return m_server.Url("/launcher.html"); }
    LoopbackServer m_server;
};

TEST_F(LintUrlsTest, SizesStatusesAndRangesAsTheServerAnswers) {
    m_server.ServeBytes("/setup.exe", "MZ-setup");
    m_server.ServeBytes("/a.pak", std::string(100, 'a'));
    m_server.ServeStatus("/gone.pak", 404, "<html>gone</html>");
    m_server.ServeStatus("/mirror.pak", 404, "<html>gone</html>");
    // The setup's mirror is asked like its main address.
    const std::string text = Catalogue(
        Replaced(DownloadXml(m_server.Url("/setup.exe"), "setup.exe", Md5("MZ-setup"), 8), "/>",
                 "><mirror url=\"" + m_server.Url("/mirror.pak") + "\"/></download>") +
            DownloadXml(m_server.Url("/a.pak"), "a.pak", Md5(std::string(100, 'a')), 99) +
            DownloadXml(m_server.Url("/gone.pak"), "gone.pak", Md5("x"), 1),
        Page());
    LintOptions options;
    options.checkUrls = true;
    std::vector<Finding> findings = LintCatalogue(text, options);
    EXPECT_NE(Find(findings, "url-size", 4), nullptr) << Dump(findings);
    EXPECT_NE(Find(findings, "url-status", 5), nullptr);
    EXPECT_NE(Find(findings, "url-status", 3), nullptr);
    EXPECT_EQ(Find(findings, "patcherurl-unreachable", 0), nullptr);
    const Finding* ranges = Find(findings, "url-ranges", 0);
    ASSERT_NE(ranges, nullptr);
    EXPECT_EQ(ranges->severity, Severity::kNote);
    EXPECT_EQ(Find(findings, "url-no-ranges", 3), nullptr);
    // One byte asked of each file, never the whole of it.
    const std::vector<LoggedRequest> requests = m_server.RequestsFor("/a.pak");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=0-0");

    // The same files from a server that ignores ranges.
    BodyOptions ignoring;
    ignoring.ranges = RangeMode::kIgnore;
    m_server.ServeBytes("/setup.exe", "MZ-setup", ignoring);
    m_server.ServeBytes("/a.pak", std::string(100, 'a'), ignoring);
    findings = LintCatalogue(text, options);
    const Finding* noRanges = Find(findings, "url-no-ranges", 3);
    ASSERT_NE(noRanges, nullptr) << Dump(findings);
    EXPECT_EQ(noRanges->severity, Severity::kWarning);
    EXPECT_NE(Find(findings, "url-size", 4), nullptr);
}

TEST_F(LintUrlsTest, AServerThatDoesNotAnswerIsAnError) {
    std::string url;
    {
        LoopbackServer gone;
        url = gone.Url("/setup.exe");
    }
    LintOptions options;
    options.checkUrls = true;
    const std::vector<Finding> findings =
        LintCatalogue(Catalogue(DownloadXml(url, "setup.exe", Md5("MZ"), 2), url), options);
    EXPECT_NE(Find(findings, "url-unreachable", 3), nullptr) << Dump(findings);
    EXPECT_NE(Find(findings, "patcherurl-unreachable", 0), nullptr);
}

TEST_F(LintUrlsTest, EachUrlIsAskedOnce) {
    m_server.ServeBytes("/setup.exe", "MZ");
    int asked = 0;
    LintOptions options;
    options.checkUrls = true;
    options.probe = [&asked](const std::string& url) {
        ++asked;
        return ProbeUrl(url);
    };
    const std::string download = DownloadXml(m_server.Url("/setup.exe"), "setup.exe", Md5("MZ"), 2);
    const std::string text =
        Replaced(Catalogue(download, Page()), "</release>",
                 "</release><release name=\"Steam\" latestversion=\"1.2.0.0\"><checksums/>"
                 "<patch_list>" +
                     PatchXml("1.2.0.0", "setup.exe", download) + "</patch_list></release>");
    const std::vector<Finding> findings = LintCatalogue(text, options);
    // The files once, and the launcher page once.
    EXPECT_EQ(asked, 2) << Dump(findings);
}

}  // namespace
