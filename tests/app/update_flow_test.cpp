// The update flow from catalogue to installer or game, against a loopback server, with real
// game and installer files and a runner script that records what was started and where.

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/command_line.h"
#include "app/download_ahead.h"
#include "app/game_location.h"
#include "app/launcher_settings.h"
#include "app/update_flow.h"
#include "catalogue/patch_info.h"
#include "platform/file_identity.h"
#include "platform/folder_lock.h"
#include "tests/support/catalogue_xml.h"
#include "tests/support/https_server.h"
#include "tests/support/loopback_server.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "tools/pe_writer/pe_writer.h"
#include "transfer/curl_wrapper.h"
#include "transfer/digest_cache.h"
#include "transfer/md5.h"
#include "transfer/retry_backoff.h"
#include "ui/checking_run.h"
#include "wizard/failure_text.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// How long a test waits for a program that was started without waiting for it to show up,
// and how long it gives one that must not start at all.
constexpr milliseconds kStartTimeout{10000};
constexpr milliseconds kAbsenceWindow{400};
// The runner's pause: long enough that a launcher which did not wait for the installer would
// return before the installer's end is recorded.
constexpr int kRunnerPauseMs = 300;

const std::wstring kPatcherUrl = L"http://updates.example.invalid/launcher.html";

struct Catalogue {
    std::string patcherversion = "1.0.0.38";
    std::string patcherurl = "http://updates.example.invalid/launcher.html";
    std::string md5;  // the release's checksum; the game executable's digest by default
    std::string latestversion = "1.2.0.0";
    std::string patchVersion = "1.2.0.0";
    std::string installer = "setup.exe";
    // The download entry's target; the installer's name unless a test says otherwise.
    std::optional<std::string> target;
    std::string installerMd5 = "00";
    // Further <download> elements of the patch, as they stand.
    std::string moreDownloads;

    std::string Xml() const {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<patch_info patcherversion=\"" +
               patcherversion + "\" patcherurl=\"" + patcherurl +
               "\">\n"
               " <game_version_list>\n"
               "  <release name=\"Velmora II (retail)\" latestversion=\"" +
               latestversion +
               "\">\n"
               "   <checksums><checksum md5=\"" +
               md5 +
               "\" exe_id=\"retail\"/></checksums>\n"
               "   <patch_list>\n"
               "    <update version=\"" +
               patchVersion + "\" installer=\"" + installer +
               "\">\n"
               "     <download_list><download url=\"http://127.0.0.1:1/p1\" target=\"" +
               target.value_or(installer) + "\" md5=\"" + installerMd5 + "\" size=\"1\"/>" +
               moreDownloads +
               "</download_list>\n"
               "    </update>\n"
               "   </patch_list>\n"
               "  </release>\n"
               " </game_version_list>\n"
               " <changelog_list><changelog version=\"1.2.0.0\"><text language=\"English\">"
               "Fixes</text></changelog></changelog_list>\n"
               "</patch_info>\n";
    }
};

std::string Canonical(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? path.string() : canonical.string();
}

class UpdateFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.IsValid());
        ASSERT_TRUE(m_server.IsRunning());
        for (const char* folder : {"game/bin", "downloads", "tools/bin", "work"})
            fs::create_directories(m_root.PathOf(folder));
        m_runner =
            std::make_unique<RecordingRunner>(m_root.PathOf("tools"), "runner", kRunnerPauseMs);
        m_browser = std::make_unique<RecordingRunner>(m_root.PathOf("tools/bin"), "xdg-open");
        ASSERT_TRUE(m_runner->IsValid());
        ASSERT_TRUE(m_browser->IsValid());
        m_runnerEnv =
            std::make_unique<ScopedEnv>("VELMORA_RUNNER", m_runner->ScriptPath().string());
        const char* path = std::getenv("PATH");
        m_pathEnv = std::make_unique<ScopedEnv>(
            "PATH", m_root.NarrowPathOf("tools/bin") + ":" + (path ? path : "/usr/bin:/bin"));
        m_cwd = std::make_unique<ScopedCurrentDirectory>(m_root.PathOf("work"));
        ASSERT_TRUE(m_cwd->IsValid());
        // The catalogue's retries in milliseconds, from a fixed seed.
        using namespace std::chrono_literals;
        m_flow.catalogueBackoff = {2ms, 8ms, 40ms, 15ms, 30ms};
        m_flow.backoffSeed = 20261209;
        m_flow.keptCatalogue = m_root.WidePathOf("cache/catalogue");

        WriteGame({1, 1, 0, 0});
        m_catalogue.md5 = GameDigest();

        LanguageIndex = 0;
        m_options.m_szUrl = m_server.WideUrl("/");
        m_options.m_szPath = m_root.WidePathOf("game") + L"/";
        // By default the wizard ends as after a sound download into the downloads folder.
        m_ui.m_wizard = [this](PatchInfo& info, const DownloadWizardRequest&) {
            info.download_folder = m_root.WidePathOf("downloads");
            return true;
        };
    }

    void TearDown() override { LanguageIndex = 0; }

    void WriteGame(PeVersion version, bool withVersion = true) {
        PeOptions options;
        options.fileVersion = version;
        options.withVersion = withVersion;
        ASSERT_TRUE(WritePeFile(GameExe().string(), options));
    }
    // Writes the installer and lists its digest in the catalogue, as a verified download
    // leaves it.
    void WriteInstaller(const fs::path& path) {
        PeOptions options;
        options.fileDescription = L"Velmora II patch";
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(WritePeFile(path.string(), options));
        ListDigestOf(path);
    }
    // A native installer (started directly, not through the runner) that ends with status.
    void WriteScriptInstaller(const fs::path& path, int status) {
        {
            std::ofstream script(path);
            script << "#!/bin/sh\nexit " << status << "\n";
        }
        fs::permissions(path, fs::perms::owner_all);
        ListDigestOf(path);
    }
    void ListDigestOf(const fs::path& path) {
        CMD5Wrapper md5;
        m_catalogue.installerMd5 =
            WideToUtf8(std::wstring_view(md5.FileHashW(Utf8ToWide(path.string()))));
    }
    fs::path GameExe() const { return m_root.PathOf("game/bin/velmora2.exe"); }
    std::string GameDigest() const {
        CMD5Wrapper md5;
        return WideToUtf8(std::wstring_view(md5.FileHashW(Utf8ToWide(GameExe().string()))));
    }
    void Serve() { m_server.ServeBytes("/patchinfo.xml", m_catalogue.Xml()); }

    // Runs the flow with the catalogue served as it stands.
    bool Run() {
        Serve();
        return RunUpdateFlow(m_flow);
    }

    // The one run of the game that must have been started, in its bin folder, without
    // arguments of its own (the runner gets only the game's path).
    void ExpectGameStarted() {
        const auto runs = m_runner->WaitForRuns(1, kStartTimeout);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].workingFolder, Canonical(m_root.PathOf("game/bin")));
        EXPECT_EQ(runs[0].args, std::vector<std::string>{GameExe().string()});
        ExpectNoMoreRuns(1);
    }
    void ExpectNoMoreRuns(std::size_t count) {
        EXPECT_EQ(m_runner->WaitForRuns(count + 1, kAbsenceWindow).size(), count);
    }
    void ExpectBox(std::size_t index, const std::wstring& text, unsigned style) {
        ASSERT_LT(index, m_ui.m_boxes.size());
        EXPECT_EQ(m_ui.m_boxes[index].text, text);
        EXPECT_EQ(m_ui.m_boxes[index].caption, LoadMessage(kMsgCaption));
        EXPECT_EQ(m_ui.m_boxes[index].style, style);
    }
    std::wstring Offer() const {
        return FormatPatchOffer(L"1.1.0.0", Utf8ToWide(std::string_view(m_catalogue.patchVersion)));
    }

    TempDir m_root;
    LoopbackServer m_server;
    std::unique_ptr<RecordingRunner> m_runner;
    std::unique_ptr<RecordingRunner> m_browser;
    std::unique_ptr<ScopedEnv> m_runnerEnv;
    std::unique_ptr<ScopedEnv> m_pathEnv;
    std::unique_ptr<ScopedCurrentDirectory> m_cwd;
    Catalogue m_catalogue;
    CLauncherCommandLineInfo m_options;
    ScriptedUserInterface m_ui;
    CCurlWrapper m_curl;
    std::unique_ptr<PatchInfo> m_patchInfo;
    UpdateFlow m_flow{m_options, m_ui, m_curl, m_patchInfo, {}};
};

// --- Step 1: the catalogue ------------------------------------------------------------------

TEST_F(UpdateFlowTest, ServerUnreachableStartsTheGameWithoutABox) {
    m_options.m_szUrl = L"http://127.0.0.1:1/";
    EXPECT_FALSE(RunUpdateFlow(m_flow));
    EXPECT_TRUE(m_ui.m_boxes.empty());
    EXPECT_EQ(m_patchInfo, nullptr);
    ExpectGameStarted();
    // The run record keeps why no update was offered.
    EXPECT_EQ(m_flow.failure.cause, FailureClass::kNetwork);
    EXPECT_EQ(m_flow.failure.code, 7);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kGameStarted);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 0);
}

// A refused certificate in the player's words, against an HTTPS server with certificates made by
// openssl: an authority the launcher is told to trust, and leaves that each break one rule. A
// catalogue so kept away would leave the player unpatched without knowing why: it is said once.
class CertificateTest : public UpdateFlowTest,
                        public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(CertificateTest, ARefusedCertificateIsSaidBeforeTheGameStarts) {
    static TempDir certificates;
    static const bool made = MakeTestCertificates(certificates);
    ASSERT_TRUE(made) << "the openssl program is needed";
    const auto [certificate, reason] = GetParam();
    HttpsServer server(certificates.NarrowPathOf(certificate),
                       certificates.NarrowPathOf("leaf.key"), m_catalogue.Xml());
    ASSERT_TRUE(server.IsRunning());
    m_curl.SetCertificateAuthorities(certificates.NarrowPathOf("ca.crt"));
    m_options.m_szUrl = Utf8ToWide(server.Url("/"));
    EXPECT_FALSE(RunUpdateFlow(m_flow));
    ExpectGameStarted();
    if (reason == 0) {  // the catalogue came, and its offer was not taken
        EXPECT_NE(m_patchInfo, nullptr);
        return;
    }
    EXPECT_EQ(FailureMessage(m_flow.failure),
              FormatMessageText(LoadMessage(kMsgServerUnreachable),
                                {Utf8ToWide(server.Url("/patchinfo.xml")), LoadMessage(reason)}));
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0, FormatMessageText(LoadMessage(kMsgUpdatesNotChecked), {LoadMessage(reason)}),
              kMbOk | kMbIconWarning);
}

INSTANTIATE_TEST_SUITE_P(Leaves, CertificateTest,
                         ::testing::Values(std::pair{"sound.crt", 0},
                                           std::pair{"other.crt", +kMsgCertificateOtherName},
                                           std::pair{"expired.crt", +kMsgCertificateExpired},
                                           std::pair{"stranger.crt", +kMsgCertificateNotTrusted}));

// An answer that is no catalogue, by its status: never parsed; retried only when it may pass.
struct ErrorPageCase {
    int status;
    long retryAfter;  // -1: no Retry-After
    bool retried;
};

class CatalogueStatusTest : public UpdateFlowTest,
                            public ::testing::WithParamInterface<ErrorPageCase> {};

TEST_P(CatalogueStatusTest, AnErrorPageIsNeverParsedAndStartsTheGame) {
    const ErrorPageCase& c = GetParam();
    std::vector<HeaderLine> headers;
    if (c.retryAfter >= 0)
        headers.push_back({"Retry-After", std::to_string(c.retryAfter)});
    m_server.ServeStatus("/patchinfo.xml", c.status, "<html><body>No</body></html>", headers);
    EXPECT_FALSE(RunUpdateFlow(m_flow));
    EXPECT_TRUE(m_ui.m_boxes.empty());
    EXPECT_EQ(m_patchInfo, nullptr);
    // Asked again by the flow's schedule until its budget is spent, or once.
    std::size_t requests = 1;
    if (c.retried) {
        RetryBackoff backoff(m_flow.catalogueBackoff, m_flow.backoffSeed);
        const Failure failure = MakeFailure(FailureClass::kHttpStatus, c.status);
        while (backoff.NextPause(KindOfRetry(failure, c.retryAfter), c.retryAfter))
            ++requests;
        EXPECT_GT(requests, 1u);
    }
    EXPECT_EQ(m_server.RequestsFor("/patchinfo.xml").size(), requests);
    ExpectGameStarted();
}

INSTANTIATE_TEST_SUITE_P(Statuses, CatalogueStatusTest,
                         ::testing::Values(ErrorPageCase{404, -1, false},
                                           ErrorPageCase{403, -1, false},
                                           ErrorPageCase{503, -1, true},
                                           ErrorPageCase{429, 0, true}, ErrorPageCase{500, 0, true},
                                           ErrorPageCase{502, -1, true}));

TEST_F(UpdateFlowTest, ABusyCatalogueServerIsAskedAgainWithoutTheCache) {
    m_server.ServeFailingFirst("/patchinfo.xml", 2, 503, {}, m_catalogue.Xml());
    bool start = false;
    EXPECT_TRUE(FetchCatalogue(m_flow, start));
    EXPECT_TRUE(start);
    const auto requests = m_server.RequestsFor("/patchinfo.xml");
    ASSERT_EQ(requests.size(), 3u);
    for (const LoggedRequest& request : requests)
        EXPECT_EQ(request.cacheControl, "no-cache");
}

// Two starts against a server that gives its catalogue an ETag: which requests carried the
// condition, and that each start read the catalogue.
struct KeptCopyCase {
    bool noCache;
    bool damagedCopy;  // the copy kept by the first start is then no catalogue
    std::vector<bool> conditional;
};

class KeptCatalogueTest : public UpdateFlowTest,
                          public ::testing::WithParamInterface<KeptCopyCase> {};

TEST_P(KeptCatalogueTest, TheSecondStartAsksWhetherTheKeptCopyChanged) {
    const KeptCopyCase& c = GetParam();
    m_server.ServeCurrent("/patchinfo.xml", m_catalogue.Xml(), "\"v1\"");
    bool start = false;
    ASSERT_TRUE(FetchCatalogue(m_flow, start));
    if (c.damagedCopy) {
        std::optional<KeptCatalogue> copy = ReadKeptCatalogue(m_flow.keptCatalogue);
        ASSERT_TRUE(copy.has_value());
        copy->body = "<html/>";
        ASSERT_TRUE(WriteKeptCatalogue(m_flow.keptCatalogue, *copy));
    }
    m_options.m_bNoCache = c.noCache;
    m_patchInfo.reset();
    ASSERT_TRUE(FetchCatalogue(m_flow, start));
    ASSERT_NE(m_patchInfo, nullptr);
    EXPECT_EQ(m_patchInfo->patcherurl, kPatcherUrl);
    std::vector<bool> conditional;
    for (const LoggedRequest& request : m_server.RequestsFor("/patchinfo.xml")) {
        conditional.push_back(!request.ifNoneMatch.empty());
        EXPECT_EQ(request.ifNoneMatch.empty() ? "" : "\"v1\"", request.ifNoneMatch);
        EXPECT_EQ(request.ifModifiedSince.empty(), request.ifNoneMatch.empty());
    }
    EXPECT_EQ(conditional, c.conditional);
    // The copy kept in the end is the good catalogue.
    const auto kept = ReadKeptCatalogue(m_flow.keptCatalogue);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->body, m_catalogue.Xml());
}

INSTANTIATE_TEST_SUITE_P(Starts, KeptCatalogueTest,
                         ::testing::Values(KeptCopyCase{false, false, {false, true}},
                                           KeptCopyCase{true, false, {false, false}},
                                           KeptCopyCase{false, true, {false, true, false}}));

TEST_F(UpdateFlowTest, CatalogueWithoutChangelogListIsRefusedButKept) {
    std::string xml = m_catalogue.Xml();
    xml.erase(xml.find(" <changelog_list>"),
              xml.find("</patch_info>") - xml.find(" <changelog_list>"));
    m_server.ServeBytes("/patchinfo.xml", xml);
    bool start = false;
    EXPECT_FALSE(FetchCatalogue(m_flow, start));
    EXPECT_TRUE(start);
    ASSERT_NE(m_patchInfo, nullptr);
    EXPECT_EQ(m_patchInfo->game_version_list.size(), 1u);
}

TEST_F(UpdateFlowTest, CatalogueIsFetchedFromTheBaseUrlFollowedByItsName) {
    bool start = false;
    Serve();
    EXPECT_TRUE(FetchCatalogue(m_flow, start));
    EXPECT_TRUE(start);
    ASSERT_NE(m_patchInfo, nullptr);
    EXPECT_EQ(m_patchInfo->patcherurl, kPatcherUrl);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/patchinfo.xml");
}

// The catalogue URL must fit 255 characters, so the base URL may have at most 242.
TEST_F(UpdateFlowTest, BaseUrlLongerThan242CharactersFetchesNothing) {
    const std::string prefix = m_server.Url("/");
    for (std::size_t length : {std::size_t{242}, std::size_t{243}}) {
        m_server.ClearRequests();
        const std::string folder = std::string(length - prefix.size() - 1, 'u');
        const std::string base = prefix + folder + "/";
        ASSERT_EQ(base.size(), length);
        m_server.ServeBytes("/" + folder + "/patchinfo.xml", m_catalogue.Xml());
        m_options.m_szUrl = Utf8ToWide(std::string_view(base));
        bool start = false;
        EXPECT_EQ(FetchCatalogue(m_flow, start), length == 242) << length;
        EXPECT_TRUE(start);
        EXPECT_EQ(m_server.Requests().size(), length == 242 ? 1u : 0u) << length;
    }
}

// A front end whose "checking for updates" window was cancelled while the checks ran.
class CancelledCheckUi : public ScriptedUserInterface {
  public:
    bool RunChecking(const std::function<void(const std::atomic<bool>&)>& work) override {
        const std::atomic<bool> stop{true};
        work(stop);
        ++m_checks;
        return false;
    }
    int m_checks = 0;
};

TEST_F(UpdateFlowTest, CancelledCheckStartsTheGameWithoutAnOffer) {
    CancelledCheckUi ui;
    UpdateFlow flow{m_options, ui, m_curl, m_patchInfo};
    Serve();
    EXPECT_FALSE(RunUpdateFlow(flow));
    EXPECT_EQ(ui.m_checks, 1);
    // A check stopped before it began asks nothing of the server.
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_TRUE(ui.m_boxes.empty());
    EXPECT_EQ(ui.m_wizardRuns, 0);
    EXPECT_EQ(flow.outcome, RunOutcome::kGameStarted);
    ExpectGameStarted();
}

// A person who cancels the checking window while the server keeps the catalogue back: the fetch
// ends on the cancel, before the window goes, and the game starts.
class CancellingWindowUi : public ScriptedUserInterface {
  public:
    bool ShowChecking(CheckingRun& run) override {
        ++m_shown;
        run.Stop();
        run.Wait();
        return false;
    }
    int m_shown = 0;
};

TEST_F(UpdateFlowTest, CancelInTheCheckingWindowEndsAFetchTheServerHoldsBack) {
    m_server.ServeStall("/patchinfo.xml", "<patchinfo", 4000, std::chrono::seconds(120));
    m_curl.SetLowSpeedTime(120);
    m_curl.SetMemoryTimeLimit(120);
    CancellingWindowUi ui;
    UpdateFlow flow{m_options, ui, m_curl, m_patchInfo};
    EXPECT_FALSE(RunUpdateFlow(flow));
    EXPECT_EQ(ui.m_shown, 1);
    EXPECT_TRUE(ui.m_boxes.empty());
    EXPECT_EQ(flow.outcome, RunOutcome::kGameStarted);
    ExpectGameStarted();
}

// --- Step 2: the installed game ---------------------------------------------------------------

TEST_F(UpdateFlowTest, MissingExecutableEndsWithMessage200) {
    fs::remove(GameExe());
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0, LoadMessage(kMsgGameLaunchFailed), kMbOk | kMbIconError);
    EXPECT_EQ(m_flow.failure.cause, FailureClass::kSystem);
    EXPECT_EQ(m_flow.failure.code, ENOENT);
    EXPECT_EQ(m_flow.failure.subject, Utf8ToWide(std::string_view(GameExe().string())));
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 1);
    ExpectNoMoreRuns(0);
}

// A FIFO in the executable's place counts as missing at once: reading it would block.
TEST_F(UpdateFlowTest, FifoInPlaceOfTheExecutableCountsAsMissing) {
    fs::remove(GameExe());
    ASSERT_EQ(mkfifo(GameExe().c_str(), 0600), 0);
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0, LoadMessage(kMsgGameLaunchFailed), kMbOk | kMbIconError);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kNothingStarted);
}

TEST_F(UpdateFlowTest, UnrecognisedDigestStartsTheGameWithoutAnOffer) {
    m_catalogue.md5 = std::string(32, '0');
    EXPECT_FALSE(Run());
    EXPECT_TRUE(m_ui.m_boxes.empty());
    ExpectGameStarted();
}

// --- Step 3: the offer ------------------------------------------------------------------------

TEST_F(UpdateFlowTest, UpToDateGameStartsWithoutAQuestionEvenWhenTheLauncherIsOld) {
    m_catalogue.patcherversion = "1.0.0.99";
    m_catalogue.latestversion = m_catalogue.patchVersion = "1.1.0.0";
    EXPECT_FALSE(Run());
    EXPECT_TRUE(m_ui.m_boxes.empty());
    EXPECT_TRUE(m_browser->Runs().empty());
    ExpectGameStarted();
}

TEST_F(UpdateFlowTest, VersionWrittenDifferentlyIsNotUpToDate) {
    m_catalogue.latestversion = m_catalogue.patchVersion = "1.1.0.00";
    m_ui.m_answers = {kIdNo};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0, Offer(), kMbYesNo | kMbIconQuestion);
    ExpectGameStarted();
}

TEST_F(UpdateFlowTest, ReleaseWithoutItsLatestPatchOffersNothing) {
    m_catalogue.latestversion = "1.3.0.0";
    EXPECT_FALSE(Run());
    EXPECT_TRUE(m_ui.m_boxes.empty());
    ExpectGameStarted();
}

TEST_F(UpdateFlowTest, OldLauncherAcceptedOpensThePageAndStartsNothing) {
    // An https-only launcher sends the player to its own support page instead of plain http.
    for (const bool httpsOnly : {false, true}) {
        SCOPED_TRACE(httpsOnly);
        m_catalogue.patcherversion = "1.0.0.39";
        m_ui.m_answers = {kIdYes};
        m_ui.m_boxes.clear();
        m_flow.httpsOnly = httpsOnly;
        EXPECT_FALSE(Run());
        ASSERT_EQ(m_ui.m_boxes.size(), 1u);
        ExpectBox(0, LoadMessage(kMsgLauncherOutOfDate), kMbYesNo | kMbIconWarning);
        const auto pages = m_browser->Runs();
        ASSERT_EQ(pages.size(), httpsOnly ? 2u : 1u);
        EXPECT_EQ(pages.back().args,
                  std::vector<std::string>{httpsOnly ? WideToUtf8(DefaultSupportUrl())
                                                     : m_catalogue.patcherurl});
        EXPECT_EQ(m_ui.m_wizardRuns, 0);
    }
    ExpectNoMoreRuns(0);
}

TEST_F(UpdateFlowTest, NoBrowserShowsTheAddressToCopy) {
    m_catalogue.patcherversion = "1.0.0.39";
    m_ui.m_answers = {kIdYes};
    ScopedEnv path("PATH", m_root.NarrowPathOf("work"));
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 2u);
    ExpectBox(1, FormatMessageText(LoadMessage(kMsgOpenAddress), {kPatcherUrl}),
              kMbOk | kMbIconWarning);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kStoppedByPlayer);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 0);
    ExpectNoMoreRuns(0);
}

// Only a web address reaches the browser, and never one that reads as an option.
TEST_F(UpdateFlowTest, PatcherUrlThatIsNoWebAddressIsOnlyShown) {
    m_catalogue.patcherversion = "1.0.0.39";
    for (const std::string url :
         {"-http://x.example/", "file:///etc/passwd", "javascript:x", "http://"}) {
        SCOPED_TRACE(url);
        m_catalogue.patcherurl = url;
        m_ui.m_boxes.clear();
        m_ui.m_answers = {kIdYes};
        EXPECT_FALSE(Run());
        ASSERT_EQ(m_ui.m_boxes.size(), 2u);
        ExpectBox(
            1, FormatMessageText(LoadMessage(kMsgOpenAddress), {Utf8ToWide(std::string_view(url))}),
            kMbOk | kMbIconWarning);
    }
    EXPECT_TRUE(m_browser->Runs().empty());
}

TEST_F(UpdateFlowTest, OldLauncherDeclinedStartsTheGameWithoutTheOffer) {
    m_catalogue.patcherversion = "1.0.0.39";
    m_ui.m_answers = {kIdNo};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0, LoadMessage(kMsgLauncherOutOfDate), kMbYesNo | kMbIconWarning);
    EXPECT_TRUE(m_browser->Runs().empty());
    ExpectGameStarted();
}

TEST_F(UpdateFlowTest, OldLauncherQuestionNotShownGoesOnToTheOffer) {
    m_catalogue.patcherversion = "1.0.0.39";
    m_ui.m_answers = {0, kIdNo};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 2u);
    ExpectBox(0, LoadMessage(kMsgLauncherOutOfDate), kMbYesNo | kMbIconWarning);
    ExpectBox(1, Offer(), kMbYesNo | kMbIconQuestion);
    EXPECT_TRUE(m_browser->Runs().empty());
    ExpectGameStarted();
}

TEST_F(UpdateFlowTest, PatcherVersionThatComparesEqualAsksNothingAboutTheLauncher) {
    m_catalogue.patcherversion = "1.0.0";
    m_ui.m_answers = {kIdNo};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0, Offer(), kMbYesNo | kMbIconQuestion);
}

TEST_F(UpdateFlowTest, OfferDeclinedStartsTheGame) {
    m_ui.m_answers = {kIdNo};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0,
              L"A new patch is available. You currently have version 1.1.0.0 , the latest patch "
              L"available is version 1.2.0.0 . Do you wish to download the patch?",
              kMbYesNo | kMbIconQuestion);
    EXPECT_EQ(m_ui.m_wizardRuns, 0);
    ExpectGameStarted();
}

TEST_F(UpdateFlowTest, OfferIsShownInTheChosenLanguage) {
    LanguageIndex = 2;
    m_ui.m_answers = {kIdNo};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    EXPECT_EQ(m_ui.m_boxes[0].text,
              L"Ein neuer Patch ist verf\u00fcgbar. Momentan haben sie Version 1.1.0.0, der "
              L"aktuellste Patch ist Version 1.2.0.0. M\u00f6chten sie den Patch herunterladen?");
    EXPECT_EQ(m_ui.m_boxes[0].caption, L"Velmora II Launcher");
}

// --- Step 4: the wizard -----------------------------------------------------------------------

// A Cancel after a failed download keeps the cause; under --yes nobody chose it, and the run
// says the update could not be completed.
TEST_F(UpdateFlowTest, CancelledWizardStartsNothing) {
    const Failure notFound = MakeFailure(FailureClass::kHttpStatus, 404, {}, L"setup.exe");
    const struct {
        bool assumeYes;
        bool failed;
        RunOutcome outcome;
        int status;
    } kRows[] = {
        {false, false, RunOutcome::kStoppedByPlayer, 0},
        {false, true, RunOutcome::kStoppedByPlayer, 0},
        {true, false, RunOutcome::kStoppedByPlayer, 0},
        {true, true, RunOutcome::kUpdateFailed, 4},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(testing::Message() << row.assumeYes << row.failed);
        m_options.m_bAssumeYes = row.assumeYes;
        m_flow.failure = {};
        m_ui.m_boxes.clear();
        m_ui.m_wizardRuns = 0;
        m_ui.m_answers = {kIdYes};
        const GameVersion* seen = nullptr;
        m_ui.m_wizard = [&](PatchInfo& info, const DownloadWizardRequest& request) {
            seen = info.installed_game;
            if (row.failed && request.failureReport)
                request.failureReport(notFound);
            return false;
        };
        EXPECT_FALSE(Run());
        EXPECT_EQ(m_ui.m_wizardRuns, 1);
        ASSERT_NE(m_patchInfo, nullptr);
        EXPECT_EQ(seen, m_patchInfo->installed_game);
        EXPECT_NE(seen, nullptr);
        EXPECT_EQ(m_ui.m_boxes.size(), 1u);
        EXPECT_EQ(m_flow.outcome, row.outcome);
        EXPECT_EQ(LauncherExitStatus(m_flow.outcome), row.status);
        EXPECT_EQ(m_flow.failure.cause, row.failed ? notFound.cause : FailureClass::kNone);
        EXPECT_EQ(RunOutcomeName(m_flow.outcome),
                  std::string(row.status == 4 ? "update-failed" : "stopped-by-player"));
    }
    ExpectNoMoreRuns(0);
}

// The player's other way out of a failed download: the game starts, the cause stays logged.
TEST_F(UpdateFlowTest, PlayingWithoutThePatchAfterAFailedDownloadStartsTheGame) {
    m_ui.m_answers = {kIdYes};
    m_ui.m_wizard = [&](PatchInfo&, const DownloadWizardRequest& request) {
        request.failureReport(MakeFailure(FailureClass::kHttpStatus, 404, {}, L"setup.exe"));
        request.playWithoutPatch();
        return false;
    };
    EXPECT_FALSE(Run());
    ExpectGameStarted();
    EXPECT_EQ(m_flow.outcome, RunOutcome::kGameStarted);
    EXPECT_EQ(m_flow.failure.cause, FailureClass::kHttpStatus);
}

// --- Step 5: the installer --------------------------------------------------------------------

TEST_F(UpdateFlowTest, InstallerRunsInTheLaunchersFolderAndIsWaitedFor) {
    WriteInstaller(m_root.PathOf("downloads/setup.exe"));
    m_ui.m_answers = {kIdYes};
    EXPECT_TRUE(Run());
    // Waited for: its end is already recorded when the flow returns.
    const auto runs = m_runner->Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].finished);
    EXPECT_EQ(runs[0].workingFolder, Canonical(m_root.PathOf("work")));
    EXPECT_EQ(runs[0].args, std::vector<std::string>{m_root.NarrowPathOf("downloads/setup.exe")});
    EXPECT_EQ(m_ui.m_boxes.size(), 1u);
    EXPECT_EQ(m_ui.m_installerNotices, (std::vector<bool>{true, false}));
    EXPECT_FALSE(m_flow.failure.IsFailure());
    // The game does not start after a patch.
    ExpectNoMoreRuns(1);
}

TEST_F(UpdateFlowTest, InstallerInASubfolderWithBackslashesIsFound) {
    m_catalogue.installer = "patch\\setup.exe";
    WriteInstaller(m_root.PathOf("downloads/patch/setup.exe"));
    m_ui.m_answers = {kIdYes};
    EXPECT_TRUE(Run());
    const auto runs = m_runner->Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args,
              std::vector<std::string>{m_root.NarrowPathOf("downloads/patch/setup.exe")});
}

TEST_F(UpdateFlowTest, InstallerThatEndsWithZeroIsASuccess) {
    WriteInstaller(m_root.PathOf("downloads/setup.exe"));
    m_ui.m_answers = {kIdYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(m_flow.outcome, RunOutcome::kInstallerSucceeded);
    EXPECT_EQ(m_flow.installerStatus, 0);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 0);
    // The download folder is free again once the installer has ended.
    platform::FolderLock other;
    EXPECT_EQ(other.TryLock(m_root.WidePathOf("downloads")), platform::LockResult::kTaken);
}

TEST_F(UpdateFlowTest, InstallerThatEndsWithAnotherStatusIsReported) {
    WriteScriptInstaller(m_root.PathOf("downloads/setup.sh"), 5);
    m_catalogue.installer = "setup.sh";
    m_ui.m_answers = {kIdYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(m_flow.outcome, RunOutcome::kInstallerFailed);
    EXPECT_EQ(m_flow.installerStatus, 5);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 2);
    // Said, with what comes next; no closing in silence.
    ASSERT_EQ(m_ui.m_boxes.size(), 2u);
    ExpectBox(1, FormatMessageText(LoadMessage(kMsgInstallerStatus), {L"5"}), kMbOk | kMbIconError);
    ExpectNoMoreRuns(0);
}

TEST_F(UpdateFlowTest, InstallerNamedWithBackslashesMatchesAnEntryWithSlashes) {
    m_catalogue.installer = "patch\\setup.exe";
    m_catalogue.target = "patch/setup.exe";
    WriteInstaller(m_root.PathOf("downloads/patch/setup.exe"));
    m_ui.m_answers = {kIdYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(m_flow.outcome, RunOutcome::kInstallerSucceeded);
}

// Every way an installer is refused ends alike: the offer, message 203, then the game instead,
// with the cause kept for the log. Real files stand where each name points, so only the
// refusal keeps them from running.
enum class Refusal {
    kMissing,
    kClimbsOut,
    kClimbsOutWithBackslash,
    kAbsolute,
    kLongerThan259,
    // Only one of the patch's own files is ever started: letters as they are, since Setup.exe
    // and setup.exe are two files here.
    kNoDownloadEntry,
    kLinkedOutOfTheFolder,
    // The installer, or a data file it will read, rewritten after the wizard verified it (while
    // "Install?" waited, say).
    kInstallerChangedSinceVerified,
    kDataFileChangedSinceVerified,
};

class RefusedInstallerTest : public UpdateFlowTest, public ::testing::WithParamInterface<Refusal> {
  protected:
    // Sets the refusal up; returns the cause the flow must keep.
    FailureClass Arrange(Refusal refusal) {
        switch (refusal) {
            case Refusal::kMissing:
                return FailureClass::kSystem;
            case Refusal::kClimbsOut:
            case Refusal::kClimbsOutWithBackslash:
            case Refusal::kAbsolute:
                WriteInstaller(m_root.PathOf("setup.exe"));
                m_catalogue.installer = refusal == Refusal::kClimbsOut ? "../setup.exe"
                                        : refusal == Refusal::kAbsolute
                                            ? m_root.NarrowPathOf("setup.exe")
                                            : "..\\setup.exe";
                return FailureClass::kUnsafePath;
            case Refusal::kLongerThan259: {
                const std::string base = m_root.NarrowPathOf("downloads") + "/";
                const std::string folder = base + std::string(250 - base.size(), 'f');
                fs::create_directories(folder);
                WriteInstaller(fs::path(folder) / "setup.exe");
                m_ui.m_wizard = [folder](PatchInfo& info, const DownloadWizardRequest&) {
                    info.download_folder = Utf8ToWide(std::string_view(folder));
                    return true;
                };
                return FailureClass::kUnsafePath;
            }
            case Refusal::kNoDownloadEntry:
                WriteInstaller(m_root.PathOf("downloads/Setup.exe"));
                WriteInstaller(m_root.PathOf("downloads/setup.exe"));
                m_catalogue.installer = "Setup.exe";
                m_catalogue.target = "setup.exe";
                return FailureClass::kUnsafePath;
            case Refusal::kLinkedOutOfTheFolder:
                WriteInstaller(m_root.PathOf("setup.exe"));
                fs::create_symlink(m_root.PathOf("setup.exe"),
                                   m_root.PathOf("downloads/setup.exe"));
                return FailureClass::kNotRegularFile;
            case Refusal::kInstallerChangedSinceVerified:
            case Refusal::kDataFileChangedSinceVerified: {
                WriteInstaller(m_root.PathOf("downloads/setup.exe"));
                { std::ofstream(m_root.PathOf("downloads/level1.pak")) << "level"; }
                CMD5Wrapper md5;
                m_catalogue.moreDownloads =
                    "<download url=\"http://127.0.0.1:1/p2\" target=\"level1.pak\" md5=\"" +
                    WideToUtf8(std::wstring_view(
                        md5.FileHashW(m_root.WidePathOf("downloads/level1.pak")))) +
                    "\" size=\"5\"/>";
                m_changed =
                    refusal == Refusal::kInstallerChangedSinceVerified ? "setup.exe" : "level1.pak";
                m_ui.m_wizard = [this](PatchInfo& info, const DownloadWizardRequest&) {
                    info.download_folder = m_root.WidePathOf("downloads");
                    std::ofstream(m_root.PathOf("downloads") / m_changed, std::ios::app) << "tail";
                    return true;
                };
                return FailureClass::kDigestMismatch;
            }
        }
        return FailureClass::kNone;
    }
    std::string m_changed;
};

TEST_P(RefusedInstallerTest, ShowsMessage203ThenStartsTheGame) {
    const FailureClass cause = Arrange(GetParam());
    m_ui.m_answers = {kIdYes};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 2u);
    ExpectBox(1, LoadMessage(kMsgInstallerLaunchFailed), kMbOk | kMbIconError);
    // Only the game ever reaches the runner.
    ExpectGameStarted();
    EXPECT_EQ(m_flow.failure.cause, cause);
    if (GetParam() == Refusal::kMissing) {
        EXPECT_EQ(m_flow.failure.code, ENOENT);
        EXPECT_EQ(m_flow.failure.subject, m_root.WidePathOf("downloads/setup.exe"));
    }
    if (!m_changed.empty()) {
        EXPECT_NE(m_flow.failure.subject.find(Utf8ToWide(std::string_view(m_changed))),
                  std::wstring::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusedInstallerTest,
                         ::testing::Values(Refusal::kMissing, Refusal::kClimbsOut,
                                           Refusal::kClimbsOutWithBackslash, Refusal::kAbsolute,
                                           Refusal::kLongerThan259, Refusal::kNoDownloadEntry,
                                           Refusal::kLinkedOutOfTheFolder,
                                           Refusal::kInstallerChangedSinceVerified,
                                           Refusal::kDataFileChangedSinceVerified));

// --- The download folder, one launcher at a time -----------------------------------------------

TEST_F(UpdateFlowTest, WizardClaimHoldsTheFolderUntilTheInstallerHasRun) {
    WriteInstaller(m_root.PathOf("downloads/setup.exe"));
    m_ui.m_answers = {kIdYes};
    platform::LockResult whileDownloading = platform::LockResult::kTaken;
    bool claimed = false;
    std::wstring cache;
    std::int64_t rate = 0;
    m_options.m_rateLimit = 512000;
    m_ui.m_wizard = [&](PatchInfo& info, const DownloadWizardRequest& request) {
        info.download_folder = m_root.WidePathOf("downloads");
        claimed = request.folderClaim && request.folderClaim(info.download_folder);
        cache = request.digestCachePath;
        rate = request.rateLimit;
        platform::FolderLock other;
        whileDownloading = other.TryLock(info.download_folder);
        return true;
    };
    EXPECT_TRUE(Run());
    EXPECT_TRUE(claimed);
    EXPECT_EQ(whileDownloading, platform::LockResult::kHeldElsewhere);
    // The worker uses the cache the game was looked up in.
    EXPECT_EQ(cache, UserDigestCachePath());
    EXPECT_EQ(rate, 512000);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kInstallerSucceeded);
}

TEST_F(UpdateFlowTest, FolderHeldByAnotherLauncherRefusesTheClaimAndEndsWithStatus3) {
    platform::FolderLock other;
    ASSERT_EQ(other.TryLock(m_root.WidePathOf("downloads")), platform::LockResult::kTaken);
    m_ui.m_answers = {kIdYes};
    bool claimed = true;
    m_ui.m_wizard = [&](PatchInfo& info, const DownloadWizardRequest& request) {
        info.download_folder = m_root.WidePathOf("downloads");
        claimed = request.folderClaim(info.download_folder);
        return false;  // the player gives up there
    };
    EXPECT_FALSE(Run());
    EXPECT_FALSE(claimed);
    EXPECT_TRUE(m_flow.folderBusy);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kFolderBusy);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 3);
    ExpectNoMoreRuns(0);
}

TEST_F(UpdateFlowTest, FolderTakenBeforeTheInstallerStartsNothing) {
    WriteInstaller(m_root.PathOf("downloads/setup.exe"));
    platform::FolderLock other;
    m_ui.m_answers = {kIdYes};
    // A front end that never claimed: the installer's own claim meets the other launcher.
    m_ui.m_wizard = [&](PatchInfo& info, const DownloadWizardRequest&) {
        info.download_folder = m_root.WidePathOf("downloads");
        return other.TryLock(info.download_folder) == platform::LockResult::kTaken;
    };
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 2u);
    ExpectBox(1, FormatMessageText(LoadMessage(kMsgFolderBusy), {m_root.WidePathOf("downloads")}),
              kMbOk | kMbIconError);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kFolderBusy);
    ExpectNoMoreRuns(0);
}

// --- The start from the menu ------------------------------------------------------------------

// A folder without the game asks again (261); the game's own bin folder counts, and is
// remembered. --path wins and --yes asks nothing; a settings file behind a link is not read.
TEST_F(UpdateFlowTest, MenuStartAsksForTheGameChecksAndRemembersIt) {
    ScopedEnv cache("XDG_CACHE_HOME", m_root.NarrowPathOf("cache"));
    const std::wstring settings = m_root.WidePathOf("config/settings");
    m_options = {};
    m_ui.m_gameFolders = {m_root.WidePathOf("tools"), m_root.WidePathOf("game/bin")};
    EXPECT_TRUE(LocateGame(m_options, m_ui, settings).outsideWorkingFolder);
    EXPECT_EQ(m_options.m_szPath, m_root.WidePathOf("game/"));
    EXPECT_EQ(m_ui.m_folderQuestions.back(),
              FormatMessageText(LoadMessage(kMsgNoGameInFolder), {m_root.WidePathOf("tools/")}));
    fs::rename(m_root.PathOf("config/settings"), m_root.PathOf("real"));
    fs::create_symlink(m_root.PathOf("real"), m_root.PathOf("config/settings"));
    for (const int row : {0, 1, 2}) {
        m_options = {};
        m_options.m_bPathGiven = row == 0;
        m_options.m_bAssumeYes = row == 1;
        m_ui.m_folderQuestions.clear();
        EXPECT_FALSE(LocateGame(m_options, m_ui, settings).found);
        EXPECT_EQ(m_ui.m_folderQuestions.size(), row == 2 ? 1u : 0u);
    }
    EXPECT_EQ(ReadLauncherSettings(m_root.WidePathOf("real")).gameFolder,
              m_root.WidePathOf("game/"));
    // A download folder typed relative to this start's working folder is kept as the folder
    // it named then.
    RememberDownloadFolder(m_root.WidePathOf("real"), L"downloads");
    EXPECT_EQ(ReadLauncherSettings(m_root.WidePathOf("real")).downloadFolder,
              Utf8ToWide(std::string_view(Canonical(m_root.PathOf("work")))) + L"/downloads");
}

// --- Starting the game ------------------------------------------------------------------------

TEST_F(UpdateFlowTest, GameThatCannotBeStartedShowsMessage200) {
    // A Windows program with no runner at all: neither VELMORA_RUNNER nor wine on PATH.
    ScopedEnv noRunner("VELMORA_RUNNER", std::nullopt);
    ScopedEnv path("PATH", m_root.NarrowPathOf("tools/bin"));
    bool start = true;
    Serve();
    ASSERT_TRUE(FetchCatalogue(m_flow, start));
    EXPECT_FALSE(LaunchGame(m_flow));
    // One box: the launcher's old text, and under it what was looked for and what to install.
    ASSERT_EQ(m_ui.m_boxes.size(), 1u);
    ExpectBox(0,
              LoadMessage(kMsgGameLaunchFailed) + L"\n\n" +
                  FormatMessageText(LoadMessage(kMsgRunnerMissing),
                                    {Utf8ToWide(std::string_view(GameExe().string())), L"wine"}),
              kMbOk | kMbIconError);
    EXPECT_EQ(m_flow.failure.cause, FailureClass::kRunnerMissing);
    EXPECT_EQ(m_flow.failure.detail, "wine");
    EXPECT_EQ(m_flow.outcome, RunOutcome::kNothingStarted);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 1);
}

TEST_F(UpdateFlowTest, InstallerWithoutARunnerShows203ThenTheGuidance) {
    WriteInstaller(m_root.PathOf("downloads/setup.exe"));
    ScopedEnv noRunner("VELMORA_RUNNER", std::nullopt);
    ScopedEnv path("PATH", m_root.NarrowPathOf("tools/bin"));
    m_ui.m_answers = {kIdYes};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 3u);
    ExpectBox(1,
              LoadMessage(kMsgInstallerLaunchFailed) + L"\n\n" +
                  FormatMessageText(LoadMessage(kMsgRunnerMissing),
                                    {m_root.WidePathOf("downloads/setup.exe"), L"wine"}),
              kMbOk | kMbIconError);
    // The game then fails for the same reason: said once is enough.
    ExpectBox(2, LoadMessage(kMsgGameLaunchFailed), kMbOk | kMbIconError);
    EXPECT_EQ(m_flow.outcome, RunOutcome::kNothingStarted);
}

TEST_F(UpdateFlowTest, GameBelowARelativeInstallationFolderStartsInItsBinFolder) {
    ScopedCurrentDirectory here(m_root.Path());
    ASSERT_TRUE(here.IsValid());
    m_options.m_szPath = L"game/";
    EXPECT_TRUE(LaunchGame(m_flow));
    const auto runs = m_runner->WaitForRuns(1, kStartTimeout);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].workingFolder, Canonical(m_root.PathOf("game/bin")));
    EXPECT_EQ(runs[0].args, std::vector<std::string>{Canonical(GameExe())});
}

// A runner named relative to the launcher's folder is found from there, although the game
// itself starts in another folder.
TEST_F(UpdateFlowTest, RelativeRunnerIsFoundFromTheLaunchersFolder) {
    ScopedEnv relative("VELMORA_RUNNER", "../tools/runner");
    EXPECT_TRUE(LaunchGame(m_flow));
    EXPECT_TRUE(m_ui.m_boxes.empty());
    ExpectGameStarted();
}

// --- The offer text ---------------------------------------------------------------------------

TEST(FormatPatchOfferTest, VersionsAreInsertedAsTheyAre) {
    LanguageIndex = 0;
    EXPECT_EQ(FormatPatchOffer(L"%s%d", L"2.0"),
              L"A new patch is available. You currently have version %s%d , the latest patch "
              L"available is version 2.0 . Do you wish to download the patch?");
}

TEST(FormatPatchOfferTest, OverlongTextIsCutTo255Characters) {
    LanguageIndex = 0;
    const std::wstring text = FormatPatchOffer(L"1.0", std::wstring(300, L'9'));
    EXPECT_EQ(text.size(), kMaxOfferTextLength);
    EXPECT_EQ(text.rfind(L"A new patch is available. You currently have version 1.0 , the "
                         L"latest patch available is version 999",
                         0),
              0u);
}

// --- Downloading ahead of time ---------------------------------------------------------------

// Each end of a download ahead, by its exit status: the installer is in the folder already, the
// data file comes from the server, and neither the installer nor the game is started.
enum class Ahead { kReady, kUpToDate, kNoServer, kFileMissing, kDeclined, kFolderHeld };
struct AheadRow {
    Ahead what;
    RunOutcome outcome;
    int status;
};

class DownloadAheadTest : public UpdateFlowTest, public ::testing::WithParamInterface<AheadRow> {};

TEST_P(DownloadAheadTest, EndsWithItsStatus) {
    ScopedEnv cacheHome("XDG_CACHE_HOME", m_root.NarrowPathOf("cache"));
    const std::string world = std::string(300000, 'w') + "end";
    WriteInstaller(m_root.PathOf("work/setup.exe"));
    m_catalogue.moreDownloads = DownloadXml(m_server.Url("/world.pak"), "data\\world.pak",
                                            md5wrapper().hashOfText(world), world.size());
    m_server.ServeBytes("/world.pak", world);
    m_options.m_bAssumeYes = true;
    platform::FolderLock other;
    const Ahead what = GetParam().what;
    if (what == Ahead::kUpToDate)
        m_catalogue.latestversion = m_catalogue.patchVersion = "1.1.0.0";
    if (what == Ahead::kNoServer)
        m_options.m_szUrl = L"http://127.0.0.1:1/";
    if (what == Ahead::kFileMissing)
        m_server.ServeStatus("/world.pak", 404, "gone");
    if (what == Ahead::kDeclined) {
        m_options.m_bAssumeYes = false;
        m_ui.m_answers = {kIdNo};
    }
    if (what == Ahead::kFolderHeld)
        other.TryLock(m_root.WidePathOf("work"));
    Serve();
    RunDownloadAhead(m_flow, what == Ahead::kReady ? kDownloadSettleMs : 0);
    EXPECT_EQ(m_flow.outcome, GetParam().outcome);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), GetParam().status);
    EXPECT_EQ(fs::exists(m_root.PathOf("work/data/world.pak")), what == Ahead::kReady);
    EXPECT_EQ(m_ui.m_wizardRuns, 0);
    ExpectNoMoreRuns(0);
    if (what != Ahead::kReady)
        return;
    // The next start's download page takes both files from the cache, reading neither.
    DigestCache cache(UserDigestCachePath());
    ASSERT_TRUE(cache.Load());
    for (const char* file : {"work/setup.exe", "work/data/world.pak"}) {
        platform::FileIdentity identity;
        FileDigestTexts digests;
        ASSERT_TRUE(platform::ReadFileIdentity(m_root.WidePathOf(file), identity));
        EXPECT_TRUE(cache.LookUp(identity, digests)) << file;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DownloadAheadTest,
    ::testing::Values(AheadRow{Ahead::kReady, RunOutcome::kPatchReady, 0},
                      AheadRow{Ahead::kUpToDate, RunOutcome::kNothingDue, 5},
                      AheadRow{Ahead::kNoServer, RunOutcome::kUpdateFailed, 4},
                      AheadRow{Ahead::kFileMissing, RunOutcome::kUpdateFailed, 4},
                      AheadRow{Ahead::kDeclined, RunOutcome::kStoppedByPlayer, 0},
                      AheadRow{Ahead::kFolderHeld, RunOutcome::kFolderBusy, 3}));

}  // namespace
