// velmora-publish verify: the launcher's verdict on a signed catalogue, from the publisher's side.

#include "tools/publish/verify.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/catalogue_trust.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/trust/minisign_tool.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;

const std::chrono::system_clock::time_point kNow = sys_days{2026y / 1 / 15};
const char kCatalogue[] = "<patch_info patcherversion=\"1.0.0.38\"/>\n";
const char kComment[] = "serial:42 expires:2027-06-30T00:00:00Z";

class PublishVerifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(MinisignTool::Available()) << "the minisign program is needed";
        ASSERT_TRUE(m_temp.IsValid());
        m_key = m_tool.MakeKeyPair("release");
        m_other = m_tool.MakeKeyPair("other");
        ASSERT_TRUE(m_key && m_other) << "minisign -G failed";
        ASSERT_TRUE(m_temp.WriteFile("patchinfo.xml", kCatalogue));
        SignAs(*m_key, kComment);
        ASSERT_TRUE(ParseMinisignPublicKey(m_key->publicKeyLine, m_parsed));
    }

    void SignAs(const MinisignTool::KeyPair& key, const std::string& comment) {
        const std::optional<std::string> signature = m_tool.Sign(key, kCatalogue, comment);
        ASSERT_TRUE(signature.has_value());
        ASSERT_TRUE(m_temp.WriteFile("patchinfo.xml.minisig", *signature));
    }

    VerifyResult Verify(std::optional<std::string> state = std::nullopt,
                        std::chrono::system_clock::time_point now = kNow) {
        VerifyRequest request;
        request.catalogueFile = m_temp.PathOf("patchinfo.xml");
        request.key = m_key->publicKeyLine;
        if (state)
            request.stateFolder = m_temp.PathOf(*state);
        return VerifyCatalogue(request, now);
    }

    ShellRun Publish(const std::vector<std::string>& args) const {
        std::vector<std::string> words{VELMORA_PUBLISH_PATH};
        words.insert(words.end(), args.begin(), args.end());
        return RunShell(ShellWords(words) + " 2>&1");
    }

    MinisignTool m_tool;
    TempDir m_temp;
    std::optional<MinisignTool::KeyPair> m_key;
    std::optional<MinisignTool::KeyPair> m_other;
    MinisignPublicKey m_parsed;
};

TEST_F(PublishVerifyTest, SoundSignatureIsAcceptedUnderEveryPolicy) {
    const VerifyResult result = Verify();
    EXPECT_EQ(result.status, 0) << result.report;
    EXPECT_NE(result.report.find("serial 42, expires 2027-06-30T00:00:00Z"), std::string::npos)
        << result.report;
    EXPECT_NE(result.report.find("verdict: sound"), std::string::npos);
    EXPECT_NE(result.report.find("require:  uses the catalogue and records serial 42"),
              std::string::npos)
        << result.report;
}

TEST_F(PublishVerifyTest, ChangedCatalogueIsRefusedUnderRequireAndUsedUnderWarn) {
    ASSERT_TRUE(m_temp.WriteFile("patchinfo.xml", std::string(kCatalogue) + " "));
    const VerifyResult result = Verify();
    EXPECT_EQ(result.status, 1) << result.report;
    EXPECT_NE(result.report.find("require:  refuses the catalogue"), std::string::npos)
        << result.report;
    EXPECT_NE(result.report.find("warn:     uses the catalogue, reporting the problem"),
              std::string::npos)
        << result.report;
}

TEST_F(PublishVerifyTest, MissingSignatureOrOtherKeyFails) {
    std::filesystem::remove(m_temp.PathOf("patchinfo.xml.minisig"));
    EXPECT_EQ(Verify().status, 1);
    SignAs(*m_other, kComment);
    EXPECT_EQ(Verify().status, 1);
}

TEST_F(PublishVerifyTest, SerialIsCheckedAgainstAGivenStateFolder) {
    ASSERT_TRUE(
        WriteRecordedSerials(m_temp.WidePathOf("state/catalogue-serials"), {{m_parsed.keyId, 43}}));
    const VerifyResult lower = Verify("state");
    EXPECT_EQ(lower.status, 1) << lower.report;
    EXPECT_NE(lower.report.find("recorded serial 43"), std::string::npos) << lower.report;
    EXPECT_EQ(Verify().status, 0) << "without the record only the signature and expiry count";

    ASSERT_TRUE(
        WriteRecordedSerials(m_temp.WidePathOf("state/catalogue-serials"), {{m_parsed.keyId, 42}}));
    EXPECT_EQ(Verify("state").status, 0);
}

// Rules a sound-looking signature can still break: what it names and what it leaves out, and
// a catalogue no launcher fetches whole.
TEST_F(PublishVerifyTest, SignatureRulesOfTheStrictestLauncher) {
    const struct {
        std::string comment;
        std::string catalogue;
        const char* said;
    } cases[] = {
        {"file:beta.xml " + std::string(kComment), kCatalogue, "signature made for another file"},
        {"serial:42", kCatalogue, "signature without serial or expiry"},
        {kComment, std::string(kCatalogue) + std::string(16u << 20, ' '), "16 MiB"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_temp.WriteFile("patchinfo.xml", c.catalogue));
        const std::optional<std::string> signature = m_tool.Sign(*m_key, c.catalogue, c.comment);
        ASSERT_TRUE(signature && m_temp.WriteFile("patchinfo.xml.minisig", *signature));
        const VerifyResult result = Verify();
        EXPECT_EQ(result.status, 1) << result.report;
        EXPECT_NE(result.report.find(c.said), std::string::npos) << result.report;
        EXPECT_NE(result.report.find("require:  refuses"), std::string::npos) << result.report;
    }
}

TEST_F(PublishVerifyTest, ExpiryIsChecked) {
    EXPECT_EQ(Verify(std::nullopt, sys_days{2027y / 6 / 30}).status, 1);
    EXPECT_EQ(Verify(std::nullopt, sys_days{2027y / 6 / 29}).status, 0);
}

TEST_F(PublishVerifyTest, ProgramExitStatuses) {
    const std::string catalogue = m_temp.NarrowPathOf("patchinfo.xml");
    const ShellRun sound =
        Publish({"verify", catalogue, "--key", m_tool.Dir().NarrowPathOf("release.pub")});
    EXPECT_EQ(sound.status, 0) << sound.output;
    EXPECT_NE(sound.output.find("require:"), std::string::npos) << sound.output;
    const std::pair<std::vector<std::string>, int> rows[] = {
        {{"verify", catalogue, "--key", m_other->publicKeyLine}, 1},
        {{"verify", catalogue, "--key", "RWQnotakey"}, 2},
        {{"verify", catalogue}, 2},
        {{"verify", m_temp.NarrowPathOf("no-such.xml"), "--key", m_key->publicKeyLine}, 2},
    };
    for (const auto& [args, status] : rows) {
        const ShellRun run = Publish(args);
        EXPECT_EQ(run.status, status) << args.back() << "\n" << run.output;
    }
}

}  // namespace
