// The update flow from catalogue to installer or game, against a loopback server, with real
// game and installer files and a runner script that records what was started and where.

#include <cerrno>
#include <chrono>
#include <deque>
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
    std::string changelogs =
        "<changelog version=\"1.2.0.0\"><text language=\"English\">Fixes</text></changelog>";

    std::string Xml() const {
        const std::string first =
            DownloadXml("http://127.0.0.1:1/p1", target.value_or(installer), installerMd5, 1);
        return CatalogueXml(
            ReleaseXml("Velmora II (retail)", latestversion, md5,
                       PatchXml(patchVersion, installer, first + moreDownloads), "retail"),
            changelogs, patcherurl, patcherversion);
    }
};

std::string Canonical(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? path.string() : canonical.string();
}

class UpdateFlowTest : public ::testing::Test {
  public:  // the rows of the tables below set it up
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

        PeOptions game;
        game.fileVersion = {1, 1, 0, 0};
        ASSERT_TRUE(WritePeFile(GameExe().string(), game));
        m_catalogue.md5 = DigestOf(GameExe());

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
    void ListDigestOf(const fs::path& path) { m_catalogue.installerMd5 = DigestOf(path); }
    static std::string DigestOf(const fs::path& path) { return CMD5Wrapper().FileHashA(path); }
    fs::path GameExe() const { return m_root.PathOf("game/bin/velmora2.exe"); }
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
    void WithoutRunner() {
        m_runnerEnv->Set(std::nullopt);
        m_pathEnv->Set(m_root.NarrowPathOf("tools/bin"));
    }
    // An installer beside the download folder, named by the catalogue as name.
    void InstallerOutside(const std::string& name) {
        WriteInstaller(m_root.PathOf("setup.exe"));
        m_catalogue.installer = name;
    }
    // A catalogue whose release and patch are both at version.
    void UpTo(const char* version) {
        m_catalogue.latestversion = m_catalogue.patchVersion = version;
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
    platform::FolderLock m_otherLauncher;  // another launcher's hold on a folder
    Catalogue m_catalogue;
    CLauncherCommandLineInfo m_options;
    ScriptedUserInterface m_ui;
    CCurlWrapper m_curl;
    std::unique_ptr<PatchInfo> m_patchInfo;
    UpdateFlow m_flow{m_options, m_ui, m_curl, m_patchInfo, {}};
};

// --- Step 1: the catalogue ------------------------------------------------------------------

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
    m_server.ServeBytes(
        "/patchinfo.xml",
        Replaced(m_catalogue.Xml(),
                 "<changelog_list>" + m_catalogue.changelogs + "</changelog_list>", ""));
    bool start = false;
    EXPECT_FALSE(FetchCatalogue(m_flow, start));
    EXPECT_TRUE(start);
    ASSERT_NE(m_patchInfo, nullptr);
    EXPECT_EQ(m_patchInfo->game_version_list.size(), 1u);
}

// The catalogue is the base URL followed by its name, a URL that must fit 255 characters: the
// base URL may have at most 242.
TEST_F(UpdateFlowTest, CatalogueIsFetchedFromABaseUrlOfAtMost242Characters) {
    const std::string prefix = m_server.Url("/");
    for (const std::size_t length : {prefix.size(), std::size_t{242}, std::size_t{243}}) {
        m_server.ClearRequests();
        m_patchInfo.reset();
        const std::string folder =
            length == prefix.size() ? "" : std::string(length - prefix.size() - 1, 'u') + "/";
        ASSERT_EQ((prefix + folder).size(), length);
        m_server.ServeBytes("/" + folder + "patchinfo.xml", m_catalogue.Xml());
        m_options.m_szUrl = Utf8ToWide(std::string_view(prefix + folder));
        bool start = false;
        EXPECT_EQ(FetchCatalogue(m_flow, start), length <= 242) << length;
        EXPECT_TRUE(start);
        const auto requests = m_server.Requests();
        ASSERT_EQ(requests.size(), length <= 242 ? 1u : 0u) << length;
        if (!requests.empty()) {
            EXPECT_EQ(requests[0].path, "/" + folder + "patchinfo.xml");
            ASSERT_NE(m_patchInfo, nullptr);
            EXPECT_EQ(m_patchInfo->patcherurl, kPatcherUrl);
        }
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

// --- Steps 2 and 3: the installed game, the newer launcher and the offer -----------------------

// Every start that ends before the wizard, by what it shows and what it starts: the rows change
// the catalogue or the game, and answer the boxes in order.
enum class Box { kOffer, kOldLauncher, kAddress, kGameFailed, kGameWithoutRunner };
enum class Page { kNone, kLaunchersOwn, kSupport };  // what the browser was given, if anything
struct StartRow {
    const char* name;
    std::string patcherversion;  // the launcher version the catalogue asks for
    void (*arrange)(UpdateFlowTest&);
    std::deque<int> answers;
    std::vector<Box> boxes;
    RunOutcome outcome;  // kGameStarted: the game is the one program started; else none is
    int status;
    Page page = Page::kNone;
    FailureClass cause = FailureClass::kNone;
    std::optional<int> code = 0;         // none: whatever the system said
    const wchar_t* firstText = nullptr;  // the first box's text word for word
};

class StartTest : public UpdateFlowTest, public ::testing::WithParamInterface<StartRow> {
  protected:
    void ExpectBox(std::size_t index, Box box) {
        const std::wstring url = Utf8ToWide(std::string_view(m_catalogue.patcherurl));
        const std::pair<std::wstring, unsigned> boxes[] = {
            {Offer(), kMbYesNo | kMbIconQuestion},
            {LoadMessage(kMsgLauncherOutOfDate), kMbYesNo | kMbIconWarning},
            {FormatMessageText(LoadMessage(kMsgOpenAddress), {url}), kMbOk | kMbIconWarning},
            {LoadMessage(kMsgGameLaunchFailed), kMbOk | kMbIconError},
            // The launcher's old text, and under it what was looked for and what to install.
            {LoadMessage(kMsgGameLaunchFailed) + L"\n\n" +
                 FormatMessageText(LoadMessage(kMsgRunnerMissing),
                                   {Utf8ToWide(std::string_view(GameExe().string())), L"wine"}),
             kMbOk | kMbIconError}};
        const auto& [text, style] = boxes[static_cast<int>(box)];
        UpdateFlowTest::ExpectBox(index, text, style);
    }
};

TEST_P(StartTest, ShowsItsBoxesAndStartsWhatItMust) {
    const StartRow& row = GetParam();
    m_catalogue.patcherversion = row.patcherversion;
    if (row.arrange)
        row.arrange(*this);
    m_ui.m_answers = row.answers;
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), row.boxes.size());
    for (std::size_t i = 0; i < row.boxes.size(); ++i)
        ExpectBox(i, row.boxes[i]);
    if (row.firstText) {
        EXPECT_EQ(m_ui.m_boxes[0].text, row.firstText);
        EXPECT_EQ(m_ui.m_boxes[0].caption, L"Velmora II Launcher");
    }
    EXPECT_EQ(m_ui.m_wizardRuns, 0);
    EXPECT_EQ(m_flow.outcome, row.outcome);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), row.status);
    // The run record keeps why no update was offered; a game that is not there is named.
    EXPECT_EQ(m_flow.failure.cause, row.cause);
    if (row.code) {
        EXPECT_EQ(m_flow.failure.code, *row.code);
    }
    if (row.cause == FailureClass::kSystem) {
        EXPECT_EQ(m_flow.failure.subject, Utf8ToWide(std::string_view(GameExe().string())));
    }
    if (row.cause == FailureClass::kRunnerMissing) {
        EXPECT_EQ(m_flow.failure.detail, "wine");
    }
    EXPECT_EQ(m_patchInfo == nullptr, row.cause == FailureClass::kNetwork);
    // An https-only launcher sends the player to its own support page instead of plain http.
    const std::string page =
        row.page == Page::kSupport ? WideToUtf8(DefaultSupportUrl()) : m_catalogue.patcherurl;
    const auto pages = m_browser->Runs();
    ASSERT_EQ(pages.size(), row.page == Page::kNone ? 0u : 1u);
    if (!pages.empty()) {
        EXPECT_EQ(pages[0].args, std::vector<std::string>{page});
    }
    row.outcome == RunOutcome::kGameStarted ? ExpectGameStarted() : ExpectNoMoreRuns(0);
}

constexpr const char* kOld = "1.0.0.39";
constexpr const char* kSame = "1.0.0.38";
constexpr RunOutcome kGame = RunOutcome::kGameStarted;
constexpr RunOutcome kStopped = RunOutcome::kStoppedByPlayer;
constexpr RunOutcome kNone = RunOutcome::kNothingStarted;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Roads, StartTest, ::testing::Values(
    StartRow{"ServerUnreachable", kSame,
             [](auto& t) { t.m_options.m_szUrl = L"http://127.0.0.1:1/"; },
             {}, {}, kGame, 0, Page::kNone, FailureClass::kNetwork, 7},
    StartRow{"MissingExecutable", kSame, [](auto& t) { fs::remove(t.GameExe()); },
             {}, {Box::kGameFailed}, kNone, 1, Page::kNone, FailureClass::kSystem, ENOENT},
    // A FIFO in the executable's place counts as missing at once: reading it would block.
    StartRow{"FifoInPlaceOfTheExecutable", kSame, [](auto& t) {
                 fs::remove(t.GameExe());
                 ASSERT_EQ(mkfifo(t.GameExe().c_str(), 0600), 0);
             }, {}, {Box::kGameFailed}, kNone, 1, Page::kNone, FailureClass::kSystem, std::nullopt},
    // A Windows program with no runner at all: neither VELMORA_RUNNER nor wine on PATH.
    StartRow{"GameWithoutARunner", kSame, [](auto& t) { t.WithoutRunner(); }, {kIdNo},
             {Box::kOffer, Box::kGameWithoutRunner}, kNone, 1, Page::kNone,
             FailureClass::kRunnerMissing},
    // A runner named relative to the launcher's folder is found from there, although the game
    // itself starts in another folder.
    StartRow{"RelativeRunner", kSame, [](auto& t) { t.m_runnerEnv->Set("../tools/runner"); },
             {kIdNo}, {Box::kOffer}, kGame, 0},
    StartRow{"UnrecognisedDigest", kSame, [](auto& t) { t.m_catalogue.md5 = std::string(32, '0'); },
             {}, {}, kGame, 0},
    // Up to date, the launcher's own age is not asked about.
    StartRow{"UpToDateWithAnOldLauncher", "1.0.0.99", [](auto& t) { t.UpTo("1.1.0.0"); },
             {}, {}, kGame, 0},
    StartRow{"VersionWrittenDifferentlyIsNotUpToDate", kSame, [](auto& t) { t.UpTo("1.1.0.00"); },
             {kIdNo}, {Box::kOffer}, kGame, 0},
    StartRow{"ReleaseWithoutItsLatestPatch", kSame,
             [](auto& t) { t.m_catalogue.latestversion = "1.3.0.0"; }, {}, {}, kGame, 0},
    StartRow{"OldLauncherAccepted", kOld, nullptr,
             {kIdYes}, {Box::kOldLauncher}, kStopped, 0, Page::kLaunchersOwn},
    StartRow{"OldHttpsOnlyLauncherAccepted", kOld, [](auto& t) { t.m_flow.httpsOnly = true; },
             {kIdYes}, {Box::kOldLauncher}, kStopped, 0, Page::kSupport},
    StartRow{"NoBrowserShowsTheAddressToCopy", kOld,
             [](auto& t) { t.m_pathEnv->Set(t.m_root.NarrowPathOf("work")); },
             {kIdYes}, {Box::kOldLauncher, Box::kAddress}, kStopped, 0},
    // Only a web address reaches the browser, and never one that reads as an option.
    StartRow{"PageReadingAsAnOption", kOld,
             [](auto& t) { t.m_catalogue.patcherurl = "-http://x.example/"; },
             {kIdYes}, {Box::kOldLauncher, Box::kAddress}, kStopped, 0},
    StartRow{"PageInAFile", kOld, [](auto& t) { t.m_catalogue.patcherurl = "file:///etc/passwd"; },
             {kIdYes}, {Box::kOldLauncher, Box::kAddress}, kStopped, 0},
    StartRow{"PageThatIsAScript", kOld, [](auto& t) { t.m_catalogue.patcherurl = "javascript:x"; },
             {kIdYes}, {Box::kOldLauncher, Box::kAddress}, kStopped, 0},
    StartRow{"PageWithoutAHost", kOld, [](auto& t) { t.m_catalogue.patcherurl = "http://"; },
             {kIdYes}, {Box::kOldLauncher, Box::kAddress}, kStopped, 0},
    StartRow{"OldLauncherDeclinedSkipsTheOffer", kOld, nullptr,
             {kIdNo}, {Box::kOldLauncher}, kGame, 0},
    StartRow{"OldLauncherQuestionNotShownGoesOnToTheOffer", kOld, nullptr,
             {0, kIdNo}, {Box::kOldLauncher, Box::kOffer}, kGame, 0},
    StartRow{"LauncherVersionThatComparesEqual", "1.0.0", nullptr,
             {kIdNo}, {Box::kOffer}, kGame, 0},
    StartRow{"OfferDeclined", kSame, nullptr, {kIdNo}, {Box::kOffer}, kGame, 0,
             Page::kNone, FailureClass::kNone, 0,
             L"A new patch is available. You currently have version 1.1.0.0 , the latest patch "
             L"available is version 1.2.0.0 . Do you wish to download the patch?"},
    StartRow{"OfferInTheChosenLanguage", kSame, [](auto&) { LanguageIndex = 2; },
             {kIdNo}, {Box::kOffer}, kGame, 0, Page::kNone, FailureClass::kNone, 0,
             L"Ein neuer Patch ist verf\u00fcgbar. Momentan haben sie Version 1.1.0.0, der "
             L"aktuellste Patch ist Version 1.2.0.0. M\u00f6chten sie den Patch herunterladen?"}),
    [](const ::testing::TestParamInfo<StartRow>& info) { return std::string(info.param.name); });
// clang-format on

// --- Step 4: the wizard -----------------------------------------------------------------------

// A Cancel after a failed download keeps the cause; under --yes nobody chose it, and the run
// says the update could not be completed. Playing without the patch after a failed download
// starts the game, and the cause stays logged.
struct WizardEndRow {
    const char* name;
    bool assumeYes;
    bool failed;  // the download failed before the wizard ended
    bool play;    // the player chose to play without the patch
    RunOutcome outcome;
    int status;
    const char* outcomeName;
};

class WizardEndTest : public UpdateFlowTest, public ::testing::WithParamInterface<WizardEndRow> {};

TEST_P(WizardEndTest, KeepsTheCauseAndStartsOnlyWhatThePlayerChose) {
    const WizardEndRow& row = GetParam();
    const Failure notFound = MakeFailure(FailureClass::kHttpStatus, 404, {}, L"setup.exe");
    m_options.m_bAssumeYes = row.assumeYes;
    m_ui.m_answers = {kIdYes};
    const GameVersion* seen = nullptr;
    m_ui.m_wizard = [&](PatchInfo& info, const DownloadWizardRequest& request) {
        seen = info.installed_game;
        if (row.failed && request.failureReport)
            request.failureReport(notFound);
        if (row.play)
            request.playWithoutPatch();
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
    EXPECT_EQ(RunOutcomeName(m_flow.outcome), std::string(row.outcomeName));
    row.play ? ExpectGameStarted() : ExpectNoMoreRuns(0);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, WizardEndTest,
    ::testing::Values(
        WizardEndRow{"Cancelled", false, false, false, kStopped, 0, "stopped-by-player"},
        WizardEndRow{"CancelledAfterAFailure", false, true, false, kStopped, 0,
                     "stopped-by-player"},
        WizardEndRow{"CancelledUnderYes", true, false, false, kStopped, 0, "stopped-by-player"},
        WizardEndRow{"GivenUpUnderYes", true, true, false, RunOutcome::kUpdateFailed, 4,
                     "update-failed"},
        WizardEndRow{"PlayingWithoutThePatch", false, true, true, kGame, 0, "game-started"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Step 5: the installer --------------------------------------------------------------------

// The installer the player accepted, by how the catalogue names it and how it ends: a Windows
// installer through the runner, or a native script that ends with a status of its own.
struct InstallerRow {
    const char* name;
    const char* installer;  // as the catalogue names it, found below the download folder
    std::optional<std::string> target;  // the download entry's, when it is written otherwise
    const char* file;
    int status;  // the script's; 0: a Windows installer that ends well
};

class InstallerTest : public UpdateFlowTest, public ::testing::WithParamInterface<InstallerRow> {};

TEST_P(InstallerTest, IsWaitedForAndEndsTheRun) {
    const InstallerRow& row = GetParam();
    m_catalogue.installer = row.installer;
    m_catalogue.target = row.target;
    const fs::path file = m_root.PathOf("downloads") / row.file;
    row.status == 0 ? WriteInstaller(file) : WriteScriptInstaller(file, row.status);
    m_ui.m_answers = {kIdYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(m_flow.installerStatus, row.status);
    EXPECT_EQ(m_ui.m_installerNotices, (std::vector<bool>{true, false}));
    // The download folder is free again once the installer has ended.
    platform::FolderLock other;
    EXPECT_EQ(other.TryLock(m_root.WidePathOf("downloads")), platform::LockResult::kTaken);
    if (row.status != 0) {
        EXPECT_EQ(m_flow.outcome, RunOutcome::kInstallerFailed);
        EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 2);
        // Said, with what comes next; no closing in silence.
        ASSERT_EQ(m_ui.m_boxes.size(), 2u);
        ExpectBox(1, FormatMessageText(LoadMessage(kMsgInstallerStatus), {L"5"}),
                  kMbOk | kMbIconError);
        return ExpectNoMoreRuns(0);
    }
    EXPECT_EQ(m_flow.outcome, RunOutcome::kInstallerSucceeded);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), 0);
    EXPECT_EQ(m_ui.m_boxes.size(), 1u);
    EXPECT_FALSE(m_flow.failure.IsFailure());
    // Waited for: its end is already recorded when the flow returns.
    const auto runs = m_runner->Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].finished);
    EXPECT_EQ(runs[0].workingFolder, Canonical(m_root.PathOf("work")));
    EXPECT_EQ(runs[0].args, std::vector<std::string>{file.string()});
    // The game does not start after a patch.
    ExpectNoMoreRuns(1);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, InstallerTest,
    ::testing::Values(InstallerRow{"InTheDownloadFolder", "setup.exe", std::nullopt, "setup.exe",
                                   0},
                      InstallerRow{"InASubfolderWithBackslashes", "patch\\setup.exe", std::nullopt,
                                   "patch/setup.exe", 0},
                      InstallerRow{"NamedWithBackslashesForAnEntryWithSlashes", "patch\\setup.exe",
                                   "patch/setup.exe", "patch/setup.exe", 0},
                      InstallerRow{"WithAnotherStatus", "setup.sh", std::nullopt, "setup.sh", 5}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way an installer is refused ends alike: the offer, message 203, then the game instead,
// with the cause kept for the log. Real files stand where each name points, so only the
// refusal keeps them from running.
struct RefusalRow {
    const char* name;
    void (*arrange)(UpdateFlowTest&);
    FailureClass cause;
    // The installer, or a data file it will read, rewritten after the wizard verified it (while
    // "Install?" waited, say).
    const char* changed = nullptr;
};

class RefusedInstallerTest : public UpdateFlowTest,
                             public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusedInstallerTest, ShowsMessage203ThenStartsTheGame) {
    const RefusalRow& row = GetParam();
    if (row.arrange)
        row.arrange(*this);
    if (row.changed) {
        WriteInstaller(m_root.PathOf("downloads/setup.exe"));
        { std::ofstream(m_root.PathOf("downloads/level1.pak")) << "level"; }
        m_catalogue.moreDownloads = DownloadXml("http://127.0.0.1:1/p2", "level1.pak",
                                                DigestOf(m_root.PathOf("downloads/level1.pak")), 5);
        m_ui.m_wizard = [&](PatchInfo& info, const DownloadWizardRequest&) {
            info.download_folder = m_root.WidePathOf("downloads");
            std::ofstream(m_root.PathOf("downloads") / row.changed, std::ios::app) << "tail";
            return true;
        };
    }
    m_ui.m_answers = {kIdYes};
    EXPECT_FALSE(Run());
    ASSERT_EQ(m_ui.m_boxes.size(), 2u);
    ExpectBox(1, LoadMessage(kMsgInstallerLaunchFailed), kMbOk | kMbIconError);
    // Only the game ever reaches the runner.
    ExpectGameStarted();
    EXPECT_EQ(m_flow.failure.cause, row.cause);
    if (row.cause == FailureClass::kSystem) {  // not there at all
        EXPECT_EQ(m_flow.failure.code, ENOENT);
        EXPECT_EQ(m_flow.failure.subject, m_root.WidePathOf("downloads/setup.exe"));
    }
    if (row.changed) {
        EXPECT_NE(m_flow.failure.subject.find(Utf8ToWide(std::string_view(row.changed))),
                  std::wstring::npos);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Refusals, RefusedInstallerTest, ::testing::Values(
    RefusalRow{"Missing", nullptr, FailureClass::kSystem},
    RefusalRow{"ClimbsOut", [](auto& t) { t.InstallerOutside("../setup.exe"); },
               FailureClass::kUnsafePath},
    RefusalRow{"ClimbsOutWithBackslash", [](auto& t) { t.InstallerOutside("..\\setup.exe"); },
               FailureClass::kUnsafePath},
    RefusalRow{"Absolute", [](auto& t) { t.InstallerOutside(t.m_root.NarrowPathOf("setup.exe")); },
               FailureClass::kUnsafePath},
    RefusalRow{"LongerThan259", [](auto& t) {
                   const std::string base = t.m_root.NarrowPathOf("downloads") + "/";
                   const std::string folder = base + std::string(250 - base.size(), 'f');
                   fs::create_directories(folder);
                   t.WriteInstaller(fs::path(folder) / "setup.exe");
                   t.m_ui.m_wizard = [folder](PatchInfo& info, const DownloadWizardRequest&) {
                       info.download_folder = Utf8ToWide(std::string_view(folder));
                       return true;
                   };
               }, FailureClass::kUnsafePath},
    // Only one of the patch's own files is ever started: letters as they are, since Setup.exe
    // and setup.exe are two files here.
    RefusalRow{"NoDownloadEntry", [](auto& t) {
                   t.WriteInstaller(t.m_root.PathOf("downloads/Setup.exe"));
                   t.WriteInstaller(t.m_root.PathOf("downloads/setup.exe"));
                   t.m_catalogue.installer = "Setup.exe";
                   t.m_catalogue.target = "setup.exe";
               }, FailureClass::kUnsafePath},
    RefusalRow{"LinkedOutOfTheFolder", [](auto& t) {
                   t.WriteInstaller(t.m_root.PathOf("setup.exe"));
                   fs::create_symlink(t.m_root.PathOf("setup.exe"),
                                      t.m_root.PathOf("downloads/setup.exe"));
               }, FailureClass::kNotRegularFile},
    RefusalRow{"InstallerChangedSinceVerified", nullptr, FailureClass::kDigestMismatch,
               "setup.exe"},
    RefusalRow{"DataFileChangedSinceVerified", nullptr, FailureClass::kDigestMismatch,
               "level1.pak"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

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

TEST_F(UpdateFlowTest, InstallerWithoutARunnerShows203ThenTheGuidance) {
    WriteInstaller(m_root.PathOf("downloads/setup.exe"));
    WithoutRunner();
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

// --- The offer text ---------------------------------------------------------------------------

// Versions are inserted as they are, and an overlong text is cut to 255 characters.
TEST(FormatPatchOfferTest, VersionsAreInsertedAsTheyAreWithin255Characters) {
    LanguageIndex = 0;
    EXPECT_EQ(FormatPatchOffer(L"%s%d", L"2.0"),
              L"A new patch is available. You currently have version %s%d , the latest patch "
              L"available is version 2.0 . Do you wish to download the patch?");
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
struct AheadRow {
    const char* name;
    void (*arrange)(UpdateFlowTest&);
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
    if (GetParam().arrange)
        GetParam().arrange(*this);
    const bool ready = GetParam().outcome == RunOutcome::kPatchReady;
    Serve();
    RunDownloadAhead(m_flow, ready ? kDownloadSettleMs : 0);
    EXPECT_EQ(m_flow.outcome, GetParam().outcome);
    EXPECT_EQ(LauncherExitStatus(m_flow.outcome), GetParam().status);
    EXPECT_EQ(fs::exists(m_root.PathOf("work/data/world.pak")), ready);
    EXPECT_EQ(m_ui.m_wizardRuns, 0);
    ExpectNoMoreRuns(0);
    if (!ready)
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

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ends, DownloadAheadTest, ::testing::Values(
    AheadRow{"Ready", nullptr, RunOutcome::kPatchReady, 0},
    AheadRow{"UpToDate", [](auto& t) { t.UpTo("1.1.0.0"); }, RunOutcome::kNothingDue, 5},
    AheadRow{"NoServer", [](auto& t) { t.m_options.m_szUrl = L"http://127.0.0.1:1/"; },
             RunOutcome::kUpdateFailed, 4},
    AheadRow{"FileMissing", [](auto& t) { t.m_server.ServeStatus("/world.pak", 404, "gone"); },
             RunOutcome::kUpdateFailed, 4},
    AheadRow{"Declined", [](auto& t) {
                 t.m_options.m_bAssumeYes = false;
                 t.m_ui.m_answers = {kIdNo};
             }, kStopped, 0},
    AheadRow{"FolderHeld", [](auto& t) { t.m_otherLauncher.TryLock(t.m_root.WidePathOf("work")); },
             RunOutcome::kFolderBusy, 3}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
