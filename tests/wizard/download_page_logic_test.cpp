// The download page's logic over the real worker, a loopback server and real files.

#include "wizard/download_page_logic.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/wizard/wizard_fixture.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/download_thread_data.h"
#include "transfer/worker_messages.h"
#include "wizard/wizard_buttons.h"

namespace fs = std::filesystem;

namespace {

const std::wstring kStageDownloading = L"stage 1 24";  // 0x18
const std::wstring kStageVerified = L"stage 2 20";     // 0x14
const std::wstring kStageFailed = L"stage 3 25";       // 0x19

class DownloadPageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_patch.server.IsRunning());
        ASSERT_TRUE(m_patch.folder.IsValid());
        m_patch.info.download_folder = m_patch.folder.WidePath();
    }

    ServedPatch m_patch;
    RecordingView m_view;
    // A throttle of the test's own, so other tests' texts do not hold these back.
    TextRefreshThrottle m_throttle;
};

TEST_F(DownloadPageTest, SuccessEndsWithInstallAndCancelOnly) {
    m_patch.AddFile("data.bin", std::string(300000, 'd'));
    m_patch.AddFile("more.bin", "more bytes");
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);

    // Driven the way the Qt page is: woken from the worker's thread, dispatching on its own.
    std::mutex mutex;
    std::condition_variable woken;
    int wakes = 0;
    page.SetWakeCallback([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++wakes;
        woken.notify_one();
    });
    page.OnInitDialog();
    ASSERT_TRUE(page.OnSetActive());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (page.Stage() == WizardStage::kDownloading && std::chrono::steady_clock::now() < until) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            woken.wait_for(lock, std::chrono::milliseconds(200), [&] { return wakes > 0; });
            wakes = 0;
        }
        page.DispatchMessages();
    }

    ASSERT_EQ(page.Stage(), WizardStage::kVerified);
    EXPECT_FALSE(page.WorkerRunning());
    EXPECT_FALSE(page.DownloadFailure().IsFailure());
    EXPECT_EQ(m_patch.folder.ReadFile("data.bin").value_or(""), std::string(300000, 'd'));
    EXPECT_EQ(m_patch.folder.ReadFile("more.bin").value_or(""), "more bytes");

    // The stages in order: downloading first, verified last, with "Install" on Finish.
    const auto stages = m_view.With(L"stage");
    EXPECT_EQ(stages, (std::vector<std::wstring>{kStageDownloading, kStageVerified}));
    EXPECT_EQ(m_view.With(L"finish"), std::vector<std::wstring>{L"finish Install"});
    EXPECT_TRUE(m_view.With(L"error").empty());
    // The worker's phase texts all got through the throttle, and the last position is 100.
    EXPECT_GE(m_view.IndexOf(L"text! Downloading Patch"), 0);
    EXPECT_GE(m_view.IndexOf(L"text! Verifying download integrity .."), 0);
    EXPECT_EQ(m_view.With(L"pos").back(), L"pos 100");
    EXPECT_EQ(m_view.lines.front(), L"range 0 100");
    // The patch line counted both files and says so once they are verified.
    const auto patchLines = m_view.With(L"patch");
    EXPECT_TRUE(std::any_of(patchLines.begin(), patchLines.end(), [](const std::wstring& line) {
        return line.rfind(L"patch File 1 of 2", 0) == 0;
    }));
    EXPECT_EQ(patchLines.back(), L"patch All 2 files are downloaded and checked.");
}

TEST_F(DownloadPageTest, WhatDeltasSavedStaysOnThePatchLineOnceVerified) {
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);
    page.OnInitDialog();
    const std::wstring saved = L"Fetched 1.00 MB in all for 9.00 MB of files (1 as deltas).";
    page.OnSetProgressText(saved, kDeltaSummaryText, 1);
    page.OnSetProgressText(L"Verifying download integrity ..", 0, 1);
    page.OnDownloadFinished(1, 0);
    EXPECT_NE(page.PatchProgressText().find(saved), std::wstring::npos)
        << WideToUtf8(page.PatchProgressText());
}

TEST_F(DownloadPageTest, ChangelogIsBuiltOnceFromTheInstalledVersionToThePatch) {
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);
    page.OnInitDialog();
    EXPECT_EQ(page.ChangelogText(),
              L"Patch 1.1.0.0 :\n************\nFixed the bridge.\n  Faster loading.\n\n");
    EXPECT_EQ(m_view.With(L"notes"), std::vector<std::wstring>{L"notes " + page.ChangelogText()});
}

TEST_F(DownloadPageTest, CorruptFileShows207ThenBackAndARetrySucceeds) {
    // The server sends other bytes than the catalogue lists.
    m_patch.AddFile("data.bin", "wrong bytes", "right bytes");
    DownloadWizardRequest request;
    int plays = 0;
    request.playWithoutPatch = [&plays] { ++plays; };
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle, request);
    // Nothing to try again, and no game to start, while the download runs.
    EXPECT_FALSE(page.TryAgain() || page.PlayWithoutPatch());
    // What a front end would find when it shows the box.
    Failure whileBoxShows;
    m_view.onError = [&] { whileBoxShows = page.DownloadFailure(); };
    page.OnInitDialog();
    ASSERT_TRUE(page.OnSetActive());
    ASSERT_TRUE(DriveUntilSettled(page));

    ASSERT_EQ(page.Stage(), WizardStage::kFailed);
    // The cause reaches the page; the texts shown stay as they were.
    EXPECT_EQ(whileBoxShows.cause, FailureClass::kDigestMismatch) << DescribeFailure(whileBoxShows);
    EXPECT_EQ(whileBoxShows.subject, L"data.bin");
    EXPECT_EQ(page.DownloadFailure().cause, FailureClass::kDigestMismatch);
    // Message 207 as it always read, and the file that failed below it.
    const std::wstring shown = LoadMessage(kMsgFilesCorrupted) + L"\nFile that failed: data.bin\n" +
                               LoadMessage(kMsgWayForwardResume);
    const int error = m_view.IndexOf(L"error " + shown + L" | " + LoadMessage(kMsgCaption));
    const int failed = m_view.IndexOf(kStageFailed);
    ASSERT_GE(error, 0);
    // The buttons change only once the box has been closed.
    EXPECT_LT(error, failed);
    EXPECT_TRUE(m_view.With(L"finish").empty());
    // The page itself keeps saying what failed once the box is closed.
    EXPECT_EQ(page.PatchProgressText(), shown);

    // Both ways forward are offered; playing only tells whoever runs the wizard.
    EXPECT_TRUE(page.Choices().tryAgain && page.PlayWithoutPatch());
    EXPECT_EQ(plays, 1);

    // Try again: the server now sends the right bytes; a fresh worker fetches them again
    // (the wrong file is as long as the listed one, so it is fetched from the start).
    m_patch.server.ServeBytes("/data.bin", "right bytes");
    const std::wstring notes = page.ChangelogText();
    m_view.lines.clear();
    ASSERT_TRUE(page.TryAgain());
    ASSERT_TRUE(DriveUntilSettled(page));

    EXPECT_EQ(page.Stage(), WizardStage::kVerified);
    EXPECT_FALSE(page.DownloadFailure().IsFailure());
    EXPECT_EQ(m_view.With(L"stage"),
              (std::vector<std::wstring>{kStageDownloading, kStageVerified}));
    // A fresh activation starts without the last failure's line.
    EXPECT_EQ(m_view.With(L"patch").front(), L"patch ");
    EXPECT_EQ(m_patch.folder.ReadFile("data.bin").value_or(""), "right bytes");
    EXPECT_EQ(page.ChangelogText(), notes);
    EXPECT_TRUE(m_view.With(L"notes").empty());
}

TEST_F(DownloadPageTest, TheWorkerIsHandedTheRequestsDigestCache) {
    // A damaged cache file is rewritten by the worker that loaded it, and only by that one: it
    // shows which worker was handed the cache.
    m_patch.AddFile("data.bin", "data bytes");
    TempDir cacheHome;
    ASSERT_TRUE(cacheHome.IsValid());
    ASSERT_TRUE(cacheHome.WriteFile("digests", "not a digest cache"));
    for (bool withCache : {false, true}) {
        DownloadWizardRequest request;
        request.digestCachePath = withCache ? cacheHome.WidePathOf("digests") : L"";
        DownloadPageLogic page(m_patch.info, m_view, &m_throttle, request);
        page.OnInitDialog();
        ASSERT_TRUE(page.OnSetActive());
        ASSERT_TRUE(DriveUntilSettled(page));
        EXPECT_EQ(page.Stage(), WizardStage::kVerified);
        const std::string cache = cacheHome.ReadFile("digests").value_or("");
        if (withCache) {
            EXPECT_EQ(cache.rfind("velmora-launcher digest cache 1\n", 0), 0u) << cache;
        } else {
            EXPECT_EQ(cache, "not a digest cache");
        }
    }
}

TEST_F(DownloadPageTest, NoPatchToFetchIsAFailedDownload) {
    m_patch.info.installed_game->latest = nullptr;
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);
    page.OnInitDialog();
    EXPECT_EQ(page.ChangelogText(), L"");
    page.OnSetActive();
    ASSERT_TRUE(DriveUntilSettled(page));
    EXPECT_EQ(page.Stage(), WizardStage::kFailed);
    EXPECT_EQ(m_view.With(L"error").size(), 1u);
}

// Another launcher holds the folder: no worker, nothing written, the folder named in the box;
// a later activation that may claim it downloads as usual.
TEST_F(DownloadPageTest, RefusedFolderClaimStartsNoWorkerAndWritesNothing) {
    m_patch.AddFile("data.bin", "right bytes");
    std::vector<std::wstring> asked;
    bool allow = false;
    DownloadWizardRequest request;
    request.folderClaim = [&](const std::wstring& folder) {
        asked.push_back(folder);
        return allow;
    };
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle, request);
    page.OnInitDialog();
    EXPECT_FALSE(page.OnSetActive());
    EXPECT_FALSE(page.WorkerThreadAlive());
    EXPECT_EQ(page.Stage(), WizardStage::kFailed);
    EXPECT_EQ(page.DownloadFailure().cause, FailureClass::kBusy);
    ASSERT_EQ(asked, std::vector<std::wstring>{m_patch.folder.WidePath()});
    const auto errors = m_view.With(L"error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
              L"error " +
                  FormatMessageText(LoadMessage(kMsgFolderBusy), {m_patch.folder.WidePath()}) +
                  L"\n" + LoadMessage(kMsgWayForwardResume) + L" | " + LoadMessage(kMsgCaption));
    EXPECT_FALSE(m_patch.folder.ReadFile("data.bin").has_value());
    EXPECT_TRUE(m_patch.server.Requests().empty());

    allow = true;
    ASSERT_TRUE(page.OnSetActive());
    ASSERT_TRUE(DriveUntilSettled(page));
    EXPECT_EQ(page.Stage(), WizardStage::kVerified);
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(DownloadPageTest, CancelDuringATransferStopsTheWorker) {
    m_patch.AddFile("big.bin", std::string(1000, 'b'));
    m_patch.server.ServeStall("/big.bin", std::string(100, 'b'), 1000,
                              std::chrono::milliseconds(60000));
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);
    page.OnInitDialog();
    ASSERT_TRUE(page.OnSetActive());
    // Wait until the server is asked for the file, so the transfer runs.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (m_patch.server.RequestsFor("/big.bin").empty() &&
           std::chrono::steady_clock::now() < until)
        page.WaitAndDispatch(20);
    ASSERT_FALSE(m_patch.server.RequestsFor("/big.bin").empty());

    EXPECT_TRUE(page.Cancel());

    EXPECT_FALSE(page.WorkerRunning());
    EXPECT_FALSE(page.WorkerThreadAlive());
    EXPECT_EQ(page.Stage(), WizardStage::kDownloading);
    // A stopped worker gives no verdict, and nothing reaches the page any more.
    EXPECT_EQ(page.WaitAndDispatch(10), 0u);
    EXPECT_TRUE(m_view.With(L"finish").empty());
    EXPECT_TRUE(m_view.With(L"error").empty());
}

TEST_F(DownloadPageTest, CancelDuringVerificationReachesTheWorker) {
    m_patch.AddFile("huge.bin", "small at first");
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);
    // When the worker announces the verification (it waits until this returns), the file it is
    // about to hash grows to 8 GiB of holes: hashing it takes far longer than the 2000 ms a
    // cancel waits, so the wait only ends in time if the stop reaches the verification.
    bool grown = false;
    const std::wstring verifying = LoadMessage(kMsgVerifying);
    m_view.onText = [&](const std::wstring& text, bool forced) {
        if (!forced || text != verifying)
            return;
        std::error_code error;
        fs::resize_file(m_patch.folder.PathOf("huge.bin"), 8ull << 30, error);
        grown = !error;
    };
    page.OnInitDialog();
    ASSERT_TRUE(page.OnSetActive());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (m_view.IndexOf(L"text! " + verifying) < 0 && std::chrono::steady_clock::now() < until)
        page.WaitAndDispatch(20);
    if (!grown)
        GTEST_SKIP() << "no room for a sparse file here";

    EXPECT_TRUE(page.Cancel());

    EXPECT_FALSE(page.WorkerThreadAlive());
    EXPECT_TRUE(m_view.With(L"finish").empty());
    EXPECT_TRUE(m_view.With(L"error").empty());
}

TEST_F(DownloadPageTest, DestroyingThePageStopsAWorkerBlockedInASentMessage) {
    m_patch.AddFile("a.bin", "aaaa");
    DownloadPageLogic* page = new DownloadPageLogic(m_patch.info, m_view, &m_throttle);
    page->OnInitDialog();
    ASSERT_TRUE(page->OnSetActive());
    // Nobody dispatches: the worker waits in its first sent message until the page goes.
    delete page;
    // The view saw only what the activation did itself.
    EXPECT_EQ(m_view.With(L"stage"), std::vector<std::wstring>{kStageDownloading});
    EXPECT_TRUE(m_view.With(L"text").empty());
}

}  // namespace

// The whole patch's line, fed the worker's messages directly under a clock of the test's own.
class PatchProgressTest : public DownloadPageTest {
  protected:
    void SetUp() override {
        DownloadPageTest::SetUp();
        m_patch.AddFile("a.bin", std::string(1000, 'a'));
        m_patch.AddFile("a.bin b", std::string(3000, 'b'));
        m_page = std::make_unique<DownloadPageLogic>(m_patch.info, m_view, &m_throttle);
        m_page->SetClock([this] { return m_now; });
        m_page->OnInitDialog();
    }
    // A progress line of the worker's about file number (from 1); the text is not read.
    void Line(std::uintptr_t number, int percent) {
        m_page->OnSetProgressText(L"Downloading a.bin 0.00 MB / 0.00 MB (1.0 KB/s)", number, 0);
        m_page->OnSetProgressPos(static_cast<std::uintptr_t>(percent), 0);
    }

    std::uint32_t m_now = 5000;
    std::unique_ptr<DownloadPageLogic> m_page;
};

TEST_F(PatchProgressTest, CountsFilesAndEstimatesTheTimeLeftFromTheListedSizes) {
    Line(1, 0);
    EXPECT_EQ(m_page->PatchProgressText(), L"File 1 of 2");
    // 500 of 4000 bytes in 2 s: 3500 more take 14 s.
    m_now += 2000;
    Line(1, 50);
    EXPECT_EQ(m_page->PatchProgressText(), L"File 1 of 2, about 0:14 left");
    // The bar: 500 of the patch's 4000 bytes.
    EXPECT_EQ(m_page->BarPosition(), 12);
    // The file's number decides, whatever its line says.
    m_now += 2000;
    Line(2, 50);
    EXPECT_EQ(m_page->PatchProgressText(), L"File 2 of 2, about 0:02 left");
    EXPECT_EQ(m_view.With(L"patch").back(), L"patch File 2 of 2, about 0:02 left");
    EXPECT_EQ(m_page->BarPosition(), 62);
}

// A retry line names its file, before any byte of it came: the patch line and the bar follow.
TEST_F(PatchProgressTest, ARetryLineMovesTheFileLineAndTheBarToItsFile) {
    Line(1, 100);
    m_page->OnSetProgressText(L"Retrying a.bin b in 3 s (attempt 1).", 2, 1);
    EXPECT_EQ(m_page->PatchProgressText(), L"File 2 of 2");
    EXPECT_EQ(m_view.With(L"pos").back(), L"pos 25");
}

TEST_F(PatchProgressTest, ACapInForceIsSaidOnTheLineAndReachesTheWorkersTransfers) {
    DownloadWizardRequest request;
    request.rateLimit = 500 * 1024;
    m_page = std::make_unique<DownloadPageLogic>(m_patch.info, m_view, &m_throttle, request);
    m_page->SetClock([this] { return m_now; });
    m_page->OnInitDialog();
    Line(1, 0);
    EXPECT_EQ(m_page->PatchProgressText(), L"File 1 of 2, capped at 500 KB/s");
    EXPECT_EQ(MakeDownloadThreadData(nullptr, L"", nullptr, L"", L"", request.rateLimit)
                  ->curl.ReceiveRateLimit(),
              request.rateLimit);
}

TEST_F(PatchProgressTest, ASilentServerIsShownAsAWaitInsteadOfAnOldSpeed) {
    Line(1, 10);
    m_now += kStallNoticeMs;
    m_page->OnTimer();
    EXPECT_EQ(m_page->PatchProgressText(), L"File 1 of 2");
    m_now += 1;
    m_page->OnTimer();
    EXPECT_EQ(m_page->PatchProgressText(), L"Waiting for the download server...");
    // The next line from the server ends the wait.
    Line(1, 20);
    EXPECT_EQ(m_page->PatchProgressText().rfind(L"File 1 of 2", 0), 0u);
    // No wait is shown between files or while verifying.
    m_page->OnSetProgressText(L"Verifying download integrity ..", 0, 1);
    m_now += 10 * kStallNoticeMs;
    m_page->OnTimer();
    EXPECT_EQ(m_page->PatchProgressText().rfind(L"File 1 of 2", 0), 0u);
}

TEST(DurationTextTest, MinutesAndHours) {
    EXPECT_EQ(DurationText(0), L"0:00");
    EXPECT_EQ(DurationText(65), L"1:05");
    EXPECT_EQ(DurationText(3600 + 3 * 60 + 10), L"1:03:10");
}

TEST_F(DownloadPageTest, AServerErrorNamesTheStatusAndTheFileAndTheBarIsNotFilled) {
    m_patch.AddFile("first.bin", std::string(300, 'f'));
    m_patch.AddFile("data.bin", std::string(100, 'd'));
    m_patch.server.ServeStatus("/data.bin", 404, "<html>gone</html>");
    DownloadPageLogic page(m_patch.info, m_view, &m_throttle);
    page.OnInitDialog();
    ASSERT_TRUE(page.OnSetActive());
    ASSERT_TRUE(DriveUntilSettled(page));

    ASSERT_EQ(page.Stage(), WizardStage::kFailed);
    const std::wstring shown = L"The download server answered \"404 Not Found\" for data.bin.\n" +
                               LoadMessage(kMsgWayForwardResume);
    EXPECT_GE(m_view.IndexOf(L"error " + shown + L" | " + LoadMessage(kMsgCaption)), 0);
    EXPECT_EQ(page.PatchProgressText(), shown);
    // Not the worker's 100 before verifying: only the first file of the patch is in place.
    EXPECT_EQ(m_view.With(L"pos").back(), L"pos 75");
    EXPECT_EQ(m_view.With(L"stage").back(), kStageFailed);
}
