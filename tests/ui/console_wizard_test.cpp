// The download wizard as text, end to end in this process: scripted input, a loopback server,
// real files in temporary folders.

#include "ui/console/console_wizard.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/interrupt.h"
#include "tests/wizard/wizard_fixture.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "ui/console/console_ui.h"

namespace fs = std::filesystem;

namespace {

class ConsoleWizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_patch.server.IsRunning());
        ASSERT_TRUE(m_patch.folder.IsValid());
        m_in = std::tmpfile();
        m_out = std::tmpfile();
        ASSERT_NE(m_in, nullptr);
        ASSERT_NE(m_out, nullptr);
        m_savedLanguage = LanguageIndex;
        // The proposed folder is the working directory: make it the download folder of the test.
        m_savedCwd = fs::current_path();
        fs::current_path(m_patch.folder.Path());
        m_cwd = fs::current_path().wstring();
    }
    void TearDown() override {
        fs::current_path(m_savedCwd);
        LanguageIndex = m_savedLanguage;
        if (m_in != nullptr)
            std::fclose(m_in);
        if (m_out != nullptr)
            std::fclose(m_out);
    }

    bool Run(const std::string& input, bool assumeYes) {
        std::fputs(input.c_str(), m_in);
        std::rewind(m_in);
        ConsoleUserInterface ui(m_in, m_out, assumeYes);
        ConsoleDownloadWizard wizard(ui, m_patch.info, &m_throttle);
        const bool result = wizard.Run();
        m_threadAliveAfterRun = wizard.WorkerThreadAlive();
        return result;
    }

    std::wstring Output() {
        std::fflush(m_out);
        std::rewind(m_out);
        std::string bytes;
        int c;
        while ((c = std::fgetc(m_out)) != EOF)
            bytes.push_back(static_cast<char>(c));
        return Utf8ToWide(std::string_view(bytes));
    }

    static std::size_t Count(const std::wstring& text, const std::wstring& part) {
        std::size_t count = 0;
        for (std::size_t at = text.find(part); at != std::wstring::npos;
             at = text.find(part, at + 1))
            ++count;
        return count;
    }

    std::wstring ErrorBox(int id) {
        return L"[" + LoadMessage(kMsgCaption) + L"]\n" + LoadMessage(id) + L"\n";
    }

    ServedPatch m_patch;
    TextRefreshThrottle m_throttle;
    std::FILE* m_in = nullptr;
    std::FILE* m_out = nullptr;
    int m_savedLanguage = 0;
    fs::path m_savedCwd;
    std::wstring m_cwd;
    bool m_threadAliveAfterRun = true;
};

TEST_F(ConsoleWizardTest, AssumeYesDownloadsVerifiesAndInstalls) {
    m_patch.AddFile("data.bin", std::string(200000, 'x'));
    m_patch.AddFile("readme.txt", "read me");

    EXPECT_TRUE(Run("", true));

    EXPECT_EQ(m_patch.info.download_folder, m_cwd);
    EXPECT_EQ(m_patch.folder.ReadFile("data.bin").value_or(""), std::string(200000, 'x'));
    EXPECT_EQ(m_patch.folder.ReadFile("readme.txt").value_or(""), "read me");
    EXPECT_FALSE(m_threadAliveAfterRun);

    // Every text of the launcher appears exactly as it is, in this order.
    const std::wstring out = Output();
    const std::wstring expectedInOrder[] = {
        L"Selected version :\nVelmora II 1.0\n",
        L"The patch files will be downloaded to :\n" + m_cwd + L"\n",
        L"Patch 1.1.0.0 :\n************\nFixed the bridge.\n  Faster loading.\n\n",
        L"Downloading Patch\n",
        L"Verifying download integrity ..\n",
        L"Install? (y/n) y\n",
    };
    std::size_t at = 0;
    for (const auto& part : expectedInOrder) {
        const std::size_t found = out.find(part, at);
        ASSERT_NE(found, std::wstring::npos) << WideToUtf8(std::wstring_view(part)) << "\nin\n"
                                             << WideToUtf8(std::wstring_view(out));
        at = found + part.size();
    }
    EXPECT_EQ(out.find(LoadMessage(kMsgFilesCorrupted)), std::wstring::npos);
}

TEST_F(ConsoleWizardTest, WithoutATerminalProgressIsWrittenAsPlainLines) {
    // Paced over about a second, so the worker reports while the file arrives.
    BodyOptions paced;
    paced.bytesPerSecond = 256 * 1024;
    m_patch.AddFile("slow.bin", std::string(256 * 1024, 's'), {}, paced);

    EXPECT_TRUE(Run("", true));

    const std::wstring out = Output();
    EXPECT_EQ(out.find(L'\r'), std::wstring::npos);
    const std::size_t line = out.find(L"%] Downloading slow.bin ");
    ASSERT_NE(line, std::wstring::npos) << WideToUtf8(std::wstring_view(out));
    // "[ 42%] Downloading slow.bin 0.10 MB / 0.25 MB (...)" on a line of its own.
    ASSERT_GE(line, 5u);
    EXPECT_EQ(out[line - 5], L'\n');
    EXPECT_EQ(out[line - 4], L'[');
    EXPECT_NE(out.find(L" MB / 0.25 MB (", line), std::wstring::npos);
    // The whole patch's progress follows the file's own line, which keeps its exact form.
    const std::size_t end = out.find(L'\n', line);
    const std::wstring shown = out.substr(line, end - line);
    EXPECT_NE(shown.find(L"/s) | File 1 of 1"), std::wstring::npos) << WideToUtf8(shown);
}

TEST_F(ConsoleWizardTest, AssumeYesCorruptDownloadShows207AndCancels) {
    m_patch.AddFile("data.bin", "served", "listed");

    EXPECT_FALSE(Run("", true));

    const std::wstring out = Output();
    EXPECT_EQ(Count(out, ErrorBox(kMsgFilesCorrupted)), 1u) << WideToUtf8(std::wstring_view(out));
    EXPECT_EQ(out.find(L"Back (b)"), std::wstring::npos);
    EXPECT_EQ(out.find(L"Install?"), std::wstring::npos);
    EXPECT_FALSE(m_threadAliveAfterRun);
}

TEST_F(ConsoleWizardTest, AssumeYesRefusedFolderCancelsWithoutDownloading) {
    m_patch.AddFile("data.bin", "bytes");
    // The proposal is the working directory; make it a folder that has gone.
    const fs::path gone = m_patch.folder.PathOf("gone");
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone);

    EXPECT_FALSE(Run("", true));

    EXPECT_EQ(Count(Output(), ErrorBox(kMsgInvalidFolder)), 1u);
    EXPECT_TRUE(m_patch.server.Requests().empty());
}

TEST_F(ConsoleWizardTest, BadFolderIsRefusedWith209AndAskedAgain) {
    m_patch.AddFile("data.bin", "bytes");
    const std::string missing = m_patch.folder.NarrowPathOf("missing");

    EXPECT_TRUE(Run(missing + "\n\ny\n", false));

    const std::wstring out = Output();
    EXPECT_EQ(Count(out, ErrorBox(kMsgInvalidFolder)), 1u);
    // The reason, naming the folder, stands below message 209.
    EXPECT_EQ(Count(out, LoadMessage(kMsgInvalidFolder) + L"\nThe folder " +
                             Utf8ToWide(std::string_view(missing)) + L" does not exist.\n"),
              1u);
    // Asked twice; the second time the refused text is what Enter keeps... and the empty line
    // kept the proposal, which was the refused text: so the second answer must have been
    // accepted only because it is the working directory.
    EXPECT_EQ(Count(out, L"The patch files will be downloaded to :\n"), 2u);
    EXPECT_EQ(m_patch.info.download_folder, m_cwd);
    EXPECT_EQ(m_patch.folder.ReadFile("data.bin").value_or(""), "bytes");
}

TEST_F(ConsoleWizardTest, AFolderWithoutRoomForThePatchIsRefusedBeforeAnyByte) {
    m_patch.AddFile("data.bin", "bytes");
    // Listed far larger than any disk: the download could only end in a full disk.
    m_patch.patch->download_list.front()->size = std::int64_t{1} << 60;

    EXPECT_FALSE(Run("\n", false));

    const std::wstring out = Output();
    EXPECT_NE(out.find(L"Not enough disk space in " + m_cwd + L": 1073741824.00 GB needed, "),
              std::wstring::npos)
        << WideToUtf8(std::wstring_view(out));
    // Asked again for a folder, and nothing fetched.
    EXPECT_EQ(Count(out, L"The patch files will be downloaded to :\n"), 2u);
    EXPECT_TRUE(m_patch.server.Requests().empty());
}

TEST_F(ConsoleWizardTest, TypedFolderIsStoredExactlyAsTyped) {
    m_patch.AddFile("data.bin", "bytes");
    TempDir other;
    const std::string typed = other.NarrowPath() + "/";

    EXPECT_TRUE(Run(typed + "\r\ny\n", false));

    EXPECT_EQ(m_patch.info.download_folder, Utf8ToWide(std::string_view(typed)));
    EXPECT_EQ(other.ReadFile("data.bin").value_or(""), "bytes");
    EXPECT_FALSE(m_patch.folder.Exists("data.bin"));
}

TEST_F(ConsoleWizardTest, EndOfInputAtTheFolderQuestionCancelsBeforeAnyDownload) {
    m_patch.AddFile("data.bin", "bytes");

    EXPECT_FALSE(Run("", false));

    EXPECT_TRUE(m_patch.server.Requests().empty());
    EXPECT_EQ(m_patch.info.download_folder, L"");
}

TEST_F(ConsoleWizardTest, AnsweringNoToInstallCancels) {
    m_patch.AddFile("data.bin", "bytes");
    EXPECT_FALSE(Run("\nmaybe\nn\n", false));
    // An answer that is neither yes nor no asks again.
    EXPECT_EQ(Count(Output(), L"Install? (y/n) "), 2u);
}

TEST_F(ConsoleWizardTest, FailedDownloadThenEndOfInputCancelsWithTheWorkerGone) {
    m_patch.AddFile("data.bin", "served", "listed");

    EXPECT_FALSE(Run("\n", false));

    const std::wstring out = Output();
    EXPECT_EQ(Count(out, ErrorBox(kMsgFilesCorrupted)), 1u);
    EXPECT_EQ(Count(out, L"< Back (b) / Cancel (c): "), 1u);
    EXPECT_FALSE(m_threadAliveAfterRun);
}

TEST_F(ConsoleWizardTest, BackAfterAFailureLetsAnotherFolderSucceed) {
    m_patch.AddFile("data.bin", "served", "listed");
    // The other folder already holds the sound file, which the worker keeps.
    TempDir other;
    ASSERT_TRUE(other.WriteFile("data.bin", "listed"));

    EXPECT_TRUE(Run("\nb\n" + other.NarrowPath() + "\ny\n", false));

    EXPECT_EQ(m_patch.info.download_folder, other.WidePath());
    const std::wstring out = Output();
    EXPECT_EQ(Count(out, L"Selected version :\n"), 2u);
    // The release notes are built and shown once per wizard.
    EXPECT_EQ(Count(out, L"Patch 1.1.0.0 :\n"), 1u);
    EXPECT_EQ(Count(out, L"Install? (y/n) "), 1u);
}

TEST_F(ConsoleWizardTest, EnterOnACrLfLineKeepsTheProposal) {
    m_patch.AddFile("data.bin", "bytes");

    EXPECT_TRUE(Run("\r\nY\r\n", false));

    EXPECT_EQ(m_patch.info.download_folder, m_cwd);
    EXPECT_EQ(Count(Output(), ErrorBox(kMsgInvalidFolder)), 0u);
}

TEST_F(ConsoleWizardTest, CatalogueTextsReachTheTerminalWithoutControls) {
    m_patch.info.installed_game->name = L"Velmora II\x1b]0;owned\x07 1.0";
    m_patch.info.changelog_list.front()->texts.front()->text =
        L"Fixed\x1b[2J the bridge.\n\tFaster\u009b31m loading.";
    m_patch.AddFile("data.bin", "bytes");

    EXPECT_TRUE(Run("", true));

    const std::wstring out = Output();
    for (const wchar_t control : {L'\x1b', L'\x07', L'\u009b'})
        EXPECT_EQ(out.find(control), std::wstring::npos) << static_cast<int>(control);
    EXPECT_NE(out.find(L"Velmora II\uFFFD]0;owned\uFFFD 1.0\n"), std::wstring::npos);
    EXPECT_NE(out.find(L"Fixed\uFFFD[2J the bridge.\n\tFaster\uFFFD31m loading.\n\n"),
              std::wstring::npos);
}

// An answer on the failed download's page, how many times the question is asked, whether it
// leads back to the folder page, and how many downloads failed ("try again" starts another).
struct FailedPageAnswer {
    const char* input;
    int questions;
    bool back;
    std::size_t failures = 1;
};

class FailedPageAnswerTest : public ConsoleWizardTest,
                             public ::testing::WithParamInterface<FailedPageAnswer> {};

TEST_P(FailedPageAnswerTest, BackOrCancelInAnyCase) {
    const FailedPageAnswer& answer = GetParam();
    m_patch.AddFile("data.bin", "served", "listed");

    // Enter at the folder question, then the answers; the input ends after them, so Back
    // leaves the wizard at the folder question it leads to.
    EXPECT_FALSE(Run("\n" + std::string(answer.input) + "\n", false));

    const std::wstring out = Output();
    EXPECT_EQ(Count(out, ErrorBox(kMsgFilesCorrupted)), answer.failures);
    EXPECT_EQ(Count(out, L"Try again (t) / < Back (b) / Cancel (c): "),
              static_cast<std::size_t>(answer.questions));
    EXPECT_EQ(Count(out, L"Selected version :\n"), answer.back ? 2u : 1u)
        << WideToUtf8(std::wstring_view(out));
    EXPECT_FALSE(m_threadAliveAfterRun);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FailedPageAnswerTest,
    ::testing::Values(FailedPageAnswer{"b", 1, true}, FailedPageAnswer{"B", 1, true},
                      FailedPageAnswer{"back", 1, true}, FailedPageAnswer{"Back", 1, true},
                      FailedPageAnswer{"BACK\r", 1, true}, FailedPageAnswer{"c", 1, false},
                      FailedPageAnswer{"C", 1, false}, FailedPageAnswer{"cancel", 1, false},
                      FailedPageAnswer{"CANCEL", 1, false}, FailedPageAnswer{" Cancel ", 1, false},
                      FailedPageAnswer{"bk\nyes\nBack", 3, true},
                      FailedPageAnswer{"n\nCANCEL", 2, false},
                      FailedPageAnswer{"t\nc", 2, false, 2}, FailedPageAnswer{"T\nb", 2, true, 2}));

TEST_F(ConsoleWizardTest, InterruptDuringTheDownloadStopsTheWorker) {
    m_patch.AddFile("stall.bin", std::string(1000, 's'));
    m_patch.server.ServeStall("/stall.bin", std::string(100, 's'), 1000,
                              std::chrono::milliseconds(60000));
    std::thread ctrlC([this] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_patch.server.RequestsFor("/stall.bin").empty() &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        platform::RaiseInterrupt();
    });

    const bool result = Run("", true);
    ctrlC.join();

    EXPECT_FALSE(result);
    EXPECT_FALSE(m_threadAliveAfterRun);
    EXPECT_EQ(Output().find(L"Install?"), std::wstring::npos);
}

TEST_F(ConsoleWizardTest, GermanTextsAreShownAsTheyAre) {
    LanguageIndex = 2;
    auto german = std::make_unique<ChangelogText>();
    german->language = L"German";
    german->text = L"Br\u00fccke repariert.\n  Schneller.";
    m_patch.info.changelog_list.front()->texts.push_back(std::move(german));
    m_patch.AddFile("data.bin", "bytes");

    EXPECT_TRUE(Run("", true));

    const std::wstring out = Output();
    EXPECT_NE(out.find(L"Ausgew\u00e4hlte version:\nVelmora II 1.0\n"), std::wstring::npos);
    EXPECT_NE(out.find(L"Die Patch Dateien werden heruntergeladen nach:\n" + m_cwd + L"\n"),
              std::wstring::npos);
    EXPECT_NE(out.find(L"Patch 1.1.0.0 :\n************\nBr\u00fccke repariert.\n  Schneller.\n\n"),
              std::wstring::npos);
    EXPECT_NE(out.find(L"Installieren? (y/n) y\n"), std::wstring::npos);
}

}  // namespace
