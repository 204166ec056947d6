// Each cause of a failure turned into its own message, in the three languages.

#include "wizard/failure_text.h"

#include <string>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "text/messages.h"
#include "transfer/entry_fetch.h"

namespace {

struct CauseCase {
    const char* name;
    Failure failure;
    int messageId;       // the message the player reads
    int reasonId;        // message 231's reason, 0 when none
    std::wstring value;  // the %2 the message carries, language-free
    std::wstring english;
};

const std::wstring kFile = L"data/maps.pak";

std::vector<CauseCase> Cases() {
    return {
        {"resolve", MakeFailure(FailureClass::kNetwork, 6, "", kFile), kMsgServerUnreachable,
         kMsgReasonNameNotFound, L"",
         L"Cannot reach the download server for data/maps.pak: its name could not be found."},
        {"proxy", MakeFailure(FailureClass::kNetwork, 5, "", kFile), kMsgServerUnreachable,
         kMsgReasonNameNotFound, L"",
         L"Cannot reach the download server for data/maps.pak: its name could not be found."},
        {"refused", MakeFailure(FailureClass::kNetwork, 7, "", kFile), kMsgServerUnreachable,
         kMsgReasonRefused, L"",
         L"Cannot reach the download server for data/maps.pak: the connection was refused."},
        {"tls", MakeFailure(FailureClass::kNetwork, 60, "", kFile), kMsgServerUnreachable,
         kMsgReasonSecureConnection, L"",
         L"Cannot reach the download server for data/maps.pak: the secure connection could not "
         L"be established."},
        {"network", MakeFailure(FailureClass::kNetwork, 56, "", kFile), kMsgServerUnreachable,
         kMsgReasonNetwork, L"",
         L"Cannot reach the download server for data/maps.pak: the network could not be "
         L"reached."},
        {"http", MakeFailure(FailureClass::kHttpStatus, 503, "", kFile), kMsgServerError, 0,
         L"503 Service Unavailable",
         L"The download server answered \"503 Service Unavailable\" for data/maps.pak."},
        {"http own reason", MakeFailure(FailureClass::kHttpStatus, 404, "Nope", kFile),
         kMsgServerError, 0, L"404 Nope",
         L"The download server answered \"404 Nope\" for data/maps.pak."},
        {"stalled", MakeFailure(FailureClass::kStalled, 28, "", kFile), kMsgServerStalled, 0, L"60",
         L"The download server stopped sending data/maps.pak (nothing arrived for 60 seconds)."},
        {"too large", MakeFailure(FailureClass::kTooLarge, 0, "1000 bytes", kFile),
         kMsgFileTooLarge, 0, L"1000 bytes",
         L"The download server sent more for data/maps.pak than the catalogue lists (1000 "
         L"bytes)."},
        {"no space", SystemFailure(28, kFile), kMsgCannotWrite, 0, L"No space left on device",
         L"Cannot write data/maps.pak: No space left on device."},
        {"unreadable", MakeFailure(FailureClass::kUnreadable, 0, "could not be read", kFile),
         kMsgCannotRead, 0, L"", L"Cannot read data/maps.pak."},
        {"missing", MakeFailure(FailureClass::kUnreadable, 2, "No such file or directory", kFile),
         kMsgCannotRead, 0, L"", L"Cannot read data/maps.pak."},
        {"unsafe", MakeFailure(FailureClass::kUnsafePath, 0, "", L"../x"), kMsgUnsafePath, 0, L"",
         L"The file ../x was refused: its path would reach outside the download folder."},
        {"not regular", MakeFailure(FailureClass::kNotRegularFile, 0, "", kFile),
         kMsgNotRegularFile, 0, L"", L"data/maps.pak is not a regular file."},
        {"runner", MakeFailure(FailureClass::kRunnerMissing, 0, "wine", L"setup.exe"),
         kMsgRunnerMissing, 0, L"wine",
         L"Cannot start setup.exe: it is a Windows program, and no Wine was found to run it "
         L"(looked for wine). Install Wine from your system's packages, or Proton through Steam, "
         L"then start the launcher again."},
        {"busy", MakeFailure(FailureClass::kBusy, 0, "", L"/games/downloads"), kMsgFolderBusy, 0,
         L"",
         L"Another Velmora II Launcher is using the download folder /games/downloads. Wait until "
         L"it has finished, or choose another folder."},
    };
}

class FailureTextTest : public ::testing::Test {
  protected:
    void TearDown() override { LanguageIndex = 0; }
};

TEST_F(FailureTextTest, EveryCauseHasItsOwnEnglishMessageNamingTheFile) {
    LanguageIndex = 0;
    for (const CauseCase& cause : Cases())
        EXPECT_EQ(FailureMessage(cause.failure), cause.english) << cause.name;
}

TEST_F(FailureTextTest, FrenchAndGermanUseTheirOwnEntriesOfTheSameCause) {
    for (int language : {1, 2}) {
        LanguageIndex = language;
        for (const CauseCase& cause : Cases()) {
            const std::wstring file = cause.failure.subject;
            std::wstring second = cause.value;
            if (cause.reasonId != 0)
                second = LoadTableEntry(cause.reasonId + 100 * language);
            const std::wstring expected =
                FormatMessageText(LoadTableEntry(cause.messageId + 100 * language), {file, second});
            const std::wstring shown = FailureMessage(cause.failure);
            EXPECT_EQ(shown, expected) << cause.name << " in language " << language;
            EXPECT_NE(shown, cause.english) << cause.name << " in language " << language;
            EXPECT_NE(shown.find(file), std::wstring::npos) << cause.name;
        }
    }
}

TEST_F(FailureTextTest, OnlyADigestMismatchReads207WithTheFileBelow) {
    for (int language : {0, 1, 2}) {
        LanguageIndex = language;
        const std::wstring corrupted = LoadTableEntry(207 + 100 * language);
        EXPECT_EQ(
            FailureMessage(MakeFailure(FailureClass::kDigestMismatch, 0, "", kFile)),
            corrupted + L"\n" + FormatMessageText(LoadTableEntry(242 + 100 * language), {kFile}));
        // No file known, or no cause at all: 207 alone, as the page always said.
        EXPECT_EQ(FailureMessage(MakeFailure(FailureClass::kDigestMismatch)), corrupted);
        EXPECT_EQ(FailureMessage(Failure{}), corrupted);
        for (const CauseCase& cause : Cases())
            EXPECT_EQ(FailureMessage(cause.failure).find(corrupted), std::wstring::npos)
                << cause.name;
    }
}

TEST_F(FailureTextTest, NamesNotValidAsUtf8AreShownReadably) {
    // A Latin-1 byte carried as a lone surrogate never reaches the player as one.
    const Failure failure =
        MakeFailure(FailureClass::kUnsafePath, 0, "", std::wstring(L"caf") + wchar_t(0xDCE9));
    const std::wstring shown = FailureMessage(failure);
    EXPECT_EQ(shown.find(wchar_t(0xDCE9)), std::wstring::npos);
    EXPECT_NE(shown.find(L"caf\uFFFD"), std::wstring::npos);
}

// The player's reason and the worker's retry read the same row of libcurl's result.
TEST(NetworkReasonTest, ReasonAndRetryComeFromOneClassOfTheCode) {
    struct Row {
        CURLcode code;
        int reason;
        bool retried;
    };
    const Row rows[] = {
        {CURLE_COULDNT_RESOLVE_PROXY, kMsgReasonNameNotFound, false},
        {CURLE_COULDNT_RESOLVE_HOST, kMsgReasonNameNotFound, false},
        {CURLE_COULDNT_CONNECT, kMsgReasonRefused, true},
        {CURLE_RECV_ERROR, kMsgReasonNetwork, true},
        {CURLE_HTTP2_STREAM, kMsgReasonNetwork, true},
        {CURLE_OK, kMsgReasonNetwork, false},
        {CURLE_UNSUPPORTED_PROTOCOL, kMsgReasonNetwork, false},
        {CURLE_OPERATION_TIMEDOUT, kMsgReasonNetwork, false},
        {CURLE_RANGE_ERROR, kMsgReasonNetwork, false},
        {CURLE_WEIRD_SERVER_REPLY, kMsgReasonNetwork, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NetworkReasonMessage(row.code), row.reason) << row.code;
        EXPECT_EQ(IsTransientFailure(MakeFailure(FailureClass::kNetwork, row.code)), row.retried)
            << row.code;
    }
    for (CURLcode code :
         {CURLE_SSL_CONNECT_ERROR, CURLE_SSL_ENGINE_NOTFOUND, CURLE_SSL_ENGINE_SETFAILED,
          CURLE_SSL_CERTPROBLEM, CURLE_SSL_CIPHER, CURLE_PEER_FAILED_VERIFICATION,
          CURLE_USE_SSL_FAILED, CURLE_SSL_ENGINE_INITFAILED, CURLE_SSL_CACERT_BADFILE,
          CURLE_SSL_SHUTDOWN_FAILED, CURLE_SSL_CRL_BADFILE, CURLE_SSL_ISSUER_ERROR,
          CURLE_SSL_PINNEDPUBKEYNOTMATCH, CURLE_SSL_INVALIDCERTSTATUS, CURLE_SSL_CLIENTCERT}) {
        EXPECT_EQ(NetworkReasonMessage(code), kMsgReasonSecureConnection) << code;
        EXPECT_FALSE(IsTransientFailure(MakeFailure(FailureClass::kNetwork, code))) << code;
    }
}

TEST(SizeTextTest, KilobytesMegabytesGigabytes) {
    EXPECT_EQ(SizeText(512 * 1024), L"512 KB");
    EXPECT_EQ(SizeText(12 * 1024 * 1024 + 300 * 1024), L"12.3 MB");
    EXPECT_EQ(SizeText(4608ull * 1024 * 1024), L"4.50 GB");
    // A decimal comma in French and German; octets in French.
    LanguageIndex = 1;
    EXPECT_EQ(SizeText(12 * 1024 * 1024 + 300 * 1024), L"12,3\u00a0Mo");
    LanguageIndex = 2;
    EXPECT_EQ(SizeText(4608ull * 1024 * 1024), L"4,50 GB");
    LanguageIndex = 0;
}

}  // namespace
