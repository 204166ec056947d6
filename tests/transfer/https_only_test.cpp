// Plain HTTP is allowed only in a launcher built without VELMORA_REQUIRE_HTTPS; with it, no
// request and no redirect ever goes out over http://.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/loopback_server.h"
#include "transfer/curl_wrapper.h"

namespace {

class HttpsOnlyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.IsRunning());
        m_server.ServeBytes("/patchinfo.xml", "<patch_info/>");
        m_server.ServeRedirect("/moved", m_server.Url("/patchinfo.xml"));
    }

    bool Fetch(const std::string& path, Failure& failure) {
        MemoryBuffer body;
        bool aborted = false;
        return m_curl.DownloadToMemory(m_server.Url(path), body, aborted, &failure);
    }

    LoopbackServer m_server;
    CCurlWrapper m_curl;
};

#if defined(VELMORA_REQUIRE_HTTPS)
TEST_F(HttpsOnlyTest, PlainHttpIsRefusedBeforeAnyRequest) {
    EXPECT_STREQ(kAllowedProtocols, "https");
    Failure failure;
    EXPECT_FALSE(Fetch("/patchinfo.xml", failure));
    EXPECT_EQ(failure.cause, FailureClass::kNetwork);
    EXPECT_TRUE(m_server.Requests().empty());
}
#else
TEST_F(HttpsOnlyTest, PlainHttpAndItsRedirectsWorkWithoutTheOption) {
    EXPECT_STREQ(kAllowedProtocols, "http,https");
    Failure failure;
    EXPECT_TRUE(Fetch("/patchinfo.xml", failure));
    EXPECT_TRUE(Fetch("/moved", failure));
    EXPECT_EQ(m_server.RequestsFor("/patchinfo.xml").size(), 2u);
}
#endif

}  // namespace
