// What a refused certificate tells the player, against a real HTTPS server on loopback whose
// certificates openssl makes for the suite: an authority the client is told to trust, and
// leaf certificates that each break one rule.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/https_server.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/curl_wrapper.h"
#include "wizard/failure_text.h"

namespace {

struct CertificateCase {
    const char* certificate;
    int reason;  // the message the player reads; 0: the fetch succeeds
};

class ServerCertificateTest : public ::testing::TestWithParam<CertificateCase> {
  protected:
    static void SetUpTestSuite() {
        s_folder = new TempDir;
        s_made = MakeTestCertificates(*s_folder);
    }
    static void TearDownTestSuite() { delete s_folder; }

    static inline TempDir* s_folder = nullptr;
    static inline bool s_made = false;
};

TEST_P(ServerCertificateTest, TheReasonIsSaidInThePlayersWords) {
    ASSERT_TRUE(s_made) << "the openssl program is needed";
    const CertificateCase& c = GetParam();
    HttpsServer server(s_folder->NarrowPathOf(c.certificate), s_folder->NarrowPathOf("leaf.key"),
                       "<patch_info/>");
    ASSERT_TRUE(server.IsRunning());
    CCurlWrapper curl;
    curl.SetCertificateAuthorities(s_folder->NarrowPathOf("ca.crt"));
    MemoryBuffer body;
    bool aborted = false;
    Failure failure;
    const std::string url = server.Url("/patchinfo.xml");
    const bool fetched = curl.DownloadToMemory(url, body, aborted, &failure);
    ReleaseBuffer(body);
    ASSERT_EQ(fetched, c.reason == 0) << DescribeFailure(failure);
    if (fetched) {
        EXPECT_EQ(UncheckedUpdatesNotice(failure), L"");
        return;
    }
    EXPECT_EQ(failure.cause, FailureClass::kCertificate) << DescribeFailure(failure);
    EXPECT_EQ(FailureMessage(failure), FormatMessageText(LoadMessage(kMsgServerUnreachable),
                                                         {Utf8ToWide(url), LoadMessage(c.reason)}));
    EXPECT_EQ(UncheckedUpdatesNotice(failure),
              FormatMessageText(LoadMessage(kMsgUpdatesNotChecked), {LoadMessage(c.reason)}));
}

INSTANTIATE_TEST_SUITE_P(Certificates, ServerCertificateTest,
                         ::testing::Values(CertificateCase{"sound.crt", 0},
                                           CertificateCase{"other.crt", kMsgCertificateOtherName},
                                           CertificateCase{"expired.crt", kMsgCertificateExpired},
                                           CertificateCase{"stranger.crt",
                                                           kMsgCertificateNotTrusted}));

}  // namespace
