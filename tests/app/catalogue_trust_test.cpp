#include "app/catalogue_trust.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "tests/trust/minisign_tool.h"
#include "transfer/curl_wrapper.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;

const std::chrono::system_clock::time_point kNow = sys_days{2026y / 1 / 15} + 12h;
const std::chrono::system_clock::time_point kAfterExpiry = sys_days{2027y / 7 / 1};
constexpr const auto& kComment = kSignedComment;
constexpr const auto& kCatalogue = kSignedCatalogue;

// The launcher's whole decision against a real server: the catalogue and its signature are
// served on loopback, the signatures made by minisign, the serial record a real file.
class LauncherCatalogueTrustTest : public MinisignSuiteTest {
  protected:
    static void SetUpTestSuite() {
        if (!StartTool())
            return;
        s_known = s_tool->MakeKeyPair("known");
        s_stranger = s_tool->MakeKeyPair("stranger");
    }

    void SetUp() override {
        ASSERT_TRUE(MinisignTool::Available()) << "the minisign program is needed";
        ASSERT_TRUE(s_known && s_stranger) << "minisign -G failed";
        ASSERT_TRUE(m_server.IsRunning());
        ASSERT_TRUE(m_state.IsValid());
        MinisignPublicKey key;
        ASSERT_TRUE(ParseMinisignPublicKey(s_known->publicKeyLine, key));
        m_keyId = key.keyId;
        m_settings.keys = {key};
        m_settings.policy = SignaturePolicy::kRequire;
        m_settings.serialsFile = m_state.WidePathOf("velmora-launcher/catalogue-serials");
        // The signature's retries in milliseconds: a 503 is tried again, briefly; a stall is
        // not (the server holds each stalled connection for seconds).
        m_settings.backoff = {2ms, 8ms, 40ms, 0ms, 30ms};
        m_server.ServeBytes("/patchinfo.xml", kCatalogue);
        m_server.ServeStatus("/patchinfo.xml.minisig", 404, "<html>not here</html>");
    }

    void ServeSignature(const std::string& signature) {
        m_server.ServeBytes("/patchinfo.xml.minisig", signature);
    }

    // The decision for `served` as the body the launcher received; stderr is kept in m_said.
    bool Decide(SignaturePolicy policy, const std::string& served = kCatalogue,
                std::chrono::system_clock::time_point now = kNow,
                const std::atomic<bool>* stop = nullptr) {
        m_settings.policy = policy;
        CCurlWrapper curl;
        curl.SetLowSpeedTime(1);
        ::testing::internal::CaptureStderr();
        m_failure = Failure{};
        m_recordFailure = {};
        const bool used =
            CheckFetchedCatalogue(m_settings, curl, m_server.WideUrl("/patchinfo.xml"), served, now,
                                  stop, &m_failure, &m_recordFailure);
        m_said = ::testing::internal::GetCapturedStderr();
        // A refusal travels on as a failure of its own; a catalogue used has none.
        EXPECT_EQ(m_failure.cause, used ? FailureClass::kNone : FailureClass::kUntrusted);
        if (!used && !m_settings.keptCopy) {
            EXPECT_EQ(m_failure.subject, m_server.WideUrl("/patchinfo.xml"));
            EXPECT_NE(m_said.find(m_failure.detail), std::string::npos) << m_said;
        }
        return used;
    }

    RecordedSerials Recorded() const { return ReadRecordedSerials(m_settings.serialsFile); }

    static inline std::optional<MinisignTool::KeyPair> s_known, s_stranger;

    LoopbackServer m_server;
    TempDir m_state;
    CatalogueTrustSettings m_settings;
    MinisignKeyId m_keyId = 0;
    std::string m_said;
    Failure m_failure;
    Failure m_recordFailure;
};

TEST_F(LauncherCatalogueTrustTest, SoundSignatureIsUsedSilentlyAndItsSerialRecorded) {
    ServeSignature(Sign(*s_known, kCatalogue));
    EXPECT_TRUE(Decide(SignaturePolicy::kRequire));
    EXPECT_EQ(m_said, "");
    EXPECT_EQ(Recorded(), (RecordedSerials{{m_keyId, 42}}));
    EXPECT_FALSE(m_state.Exists("velmora-launcher/catalogue-serials.new"));
    EXPECT_EQ(m_server.RequestsFor("/patchinfo.xml.minisig").size(), 1u);
}

TEST_F(LauncherCatalogueTrustTest, MissingSignatureRefusedUnderRequireUsedUnderWarn) {
    EXPECT_FALSE(Decide(SignaturePolicy::kRequire));
    EXPECT_NE(m_said.find("missing"), std::string::npos) << m_said;
    EXPECT_NE(m_said.find("refused"), std::string::npos) << m_said;

    EXPECT_TRUE(Decide(SignaturePolicy::kWarn));
    EXPECT_NE(m_said.find("used anyway"), std::string::npos) << m_said;
    EXPECT_TRUE(Recorded().empty());
}

// A signature that cannot be fetched is named by its cause, never as missing; Cancel ends its
// fetch like the catalogue's.
TEST_F(LauncherCatalogueTrustTest, FailedFetchNamesItsCause) {
    const std::string path = "/patchinfo.xml.minisig";
    const std::atomic<bool> stopped{true};
    struct Case {
        const char* name;
        std::function<void()> serve;
        const std::atomic<bool>* stop;
        const char* cause;
    };
    const Case cases[] = {
        {"stalls", [&] { m_server.ServeStall(path, "untrusted", 4096, 10s); }, nullptr,
         "transfer stalled"},
        {"loops", [&] { m_server.ServeRedirect(path, path); }, nullptr, "cannot reach the server"},
        {"server error", [&] { m_server.ServeStatus(path, 503, "busy"); }, nullptr, "HTTP error"},
        {"cancelled", [&] { m_server.ServeStall(path, "untrusted", 4096, 10s); }, &stopped,
         "stopped"},
    };
    for (const Case& c : cases) {
        c.serve();
        EXPECT_FALSE(Decide(SignaturePolicy::kRequire, kCatalogue, kNow, c.stop)) << c.name;
        EXPECT_NE(m_said.find("signature not fetched: "), std::string::npos) << c.name << m_said;
        EXPECT_NE(m_said.find(c.cause), std::string::npos) << c.name << ": " << m_said;
        EXPECT_EQ(m_said.find("missing"), std::string::npos) << c.name << ": " << m_said;
    }
}

TEST_F(LauncherCatalogueTrustTest, OffFetchesNoSignatureAtAll) {
    EXPECT_TRUE(Decide(SignaturePolicy::kOff, "anything at all"));
    EXPECT_EQ(m_said, "");
    EXPECT_TRUE(m_server.RequestsFor("/patchinfo.xml.minisig").empty());
}

TEST_F(LauncherCatalogueTrustTest, CatalogueChangedAfterSigningRefusedUnderRequire) {
    ServeSignature(Sign(*s_known, kCatalogue));
    std::string changed = kCatalogue;
    changed[changed.find("38")] = '9';
    EXPECT_FALSE(Decide(SignaturePolicy::kRequire, changed));
    EXPECT_NE(m_said, "");
    EXPECT_TRUE(Recorded().empty());
    EXPECT_TRUE(Decide(SignaturePolicy::kWarn, changed));
    EXPECT_TRUE(Recorded().empty()) << "a warned-about signature never moves the record";
    // The kept copy a 304 vouched for is refused even under warn, and without a word: a fresh
    // copy is fetched next.
    m_settings.keptCopy = true;
    EXPECT_FALSE(Decide(SignaturePolicy::kWarn, changed));
    EXPECT_EQ(m_said, "");
    EXPECT_TRUE(Decide(SignaturePolicy::kWarn));
}

TEST_F(LauncherCatalogueTrustTest, UnknownKeyAndOversizedSignatureAreRefused) {
    ServeSignature(Sign(*s_stranger, kCatalogue));
    EXPECT_FALSE(Decide(SignaturePolicy::kRequire));
    EXPECT_NE(m_said, "");

    std::string padded = Sign(*s_known, kCatalogue);
    padded.insert(0, kMaxSignatureFileSize, '#');
    ServeSignature(padded);
    EXPECT_FALSE(Decide(SignaturePolicy::kRequire));
}

TEST_F(LauncherCatalogueTrustTest, RecordedSerialGuardsAgainstReplayAndAcceptsTheSameAgain) {
    ASSERT_TRUE(WriteRecordedSerials(m_settings.serialsFile, {{m_keyId, 42}}));
    ServeSignature(Sign(*s_known, kCatalogue, "serial:41 expires:2027-06-30T00:00:00Z"));
    EXPECT_FALSE(Decide(SignaturePolicy::kRequire));
    EXPECT_NE(m_said, "");
    EXPECT_TRUE(Decide(SignaturePolicy::kWarn));
    EXPECT_EQ(Recorded(), (RecordedSerials{{m_keyId, 42}}));

    ServeSignature(Sign(*s_known, kCatalogue));
    EXPECT_TRUE(Decide(SignaturePolicy::kRequire));
    ServeSignature(Sign(*s_known, kCatalogue, "serial:43 expires:2027-06-30T00:00:00Z"));
    EXPECT_TRUE(Decide(SignaturePolicy::kRequire));
    EXPECT_EQ(Recorded(), (RecordedSerials{{m_keyId, 43}}));
}

TEST_F(LauncherCatalogueTrustTest, ExpiredSignatureIsRefused) {
    ServeSignature(Sign(*s_known, kCatalogue));
    EXPECT_FALSE(Decide(SignaturePolicy::kRequire, kCatalogue, kAfterExpiry));
    EXPECT_NE(m_said, "");
    EXPECT_TRUE(Decide(SignaturePolicy::kRequire, kCatalogue, kNow));
}

TEST_F(LauncherCatalogueTrustTest, UnwritableStateFolderCostsOnlyTheRecord) {
    // A file where the state folder should be: nothing can be recorded, the catalogue is used.
    ASSERT_TRUE(m_state.WriteFile("velmora-launcher", "not a folder"));
    ServeSignature(Sign(*s_known, kCatalogue));
    EXPECT_TRUE(Decide(SignaturePolicy::kRequire));
    EXPECT_TRUE(Recorded().empty());
    EXPECT_TRUE(m_recordFailure.IsFailure());
}

// Something other than a file at the record's name or its ".new": the catalogue is used, the
// record is not, the cause is given and nothing waits on a FIFO.
TEST_F(LauncherCatalogueTrustTest, RecordThatCannotBeWrittenIsNamed) {
    ServeSignature(Sign(*s_known, kCatalogue));
    const std::filesystem::path folder = m_state.PathOf("velmora-launcher");
    // The temporary file takes a fresh name of its own each time, so only the record's name
    // can be in the way.
    for (const char* name : {"catalogue-serials"}) {
        for (const bool fifo : {true, false}) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
            const std::filesystem::path odd = folder / name;
            if (fifo)
                ASSERT_EQ(::mkfifo(odd.c_str(), 0600), 0);
            else
                std::filesystem::create_directory(odd);
            EXPECT_TRUE(Decide(SignaturePolicy::kRequire)) << name;
            EXPECT_EQ(m_recordFailure.cause, FailureClass::kNotRegularFile) << name << fifo;
            EXPECT_EQ(fifo, std::filesystem::is_fifo(odd)) << name;
        }
    }
}

// The record on its own: a file the launcher reads tolerantly and writes in one step.
class SerialRecordTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.IsValid()); }
    std::wstring Path() const { return m_dir.WidePathOf("catalogue-serials"); }
    TempDir m_dir;
};

TEST_F(SerialRecordTest, RoundTripKeepsEveryKey) {
    const RecordedSerials serials{
        {0x0123456789ABCDEFull, 7}, {0xFEDCBA9876543210ull, 0}, {1, 18446744073709551615ull}};
    ASSERT_TRUE(WriteRecordedSerials(Path(), serials));
    EXPECT_EQ(ReadRecordedSerials(Path()), serials);
    EXPECT_EQ(m_dir.ReadFile("catalogue-serials").value_or(""),
              "0000000000000001 18446744073709551615\n0123456789ABCDEF 7\n"
              "FEDCBA9876543210 0\n");
    ASSERT_TRUE(WriteRecordedSerials(Path(), {{1, 2}}));
    EXPECT_EQ(ReadRecordedSerials(Path()), (RecordedSerials{{1, 2}}));
}

TEST_F(SerialRecordTest, MissingOrDamagedRecordReadsAsEmpty) {
    EXPECT_TRUE(ReadRecordedSerials(Path()).empty());
    const char* damaged[] = {
        "0123456789ABCDEF x\n",
        "0123456789ABCDEF 7\nnonsense\n",
        "123 7\n",
        "0123456789ABCDEF -7\n",
        "0123456789ABCDEF +7\n",
        "0123456789ABCDEF 99999999999999999999999\n",
        "0123456789ABCDEF 7 8\n",
        "0123456789ABCDEG 7\n",
    };
    for (const char* text : damaged) {
        ASSERT_TRUE(m_dir.WriteFile("catalogue-serials", text));
        EXPECT_TRUE(ReadRecordedSerials(Path()).empty()) << text;
    }
    ASSERT_TRUE(m_dir.WriteFile("catalogue-serials", "0123456789abcdef 7\n\n"));
    EXPECT_EQ(ReadRecordedSerials(Path()), (RecordedSerials{{0x0123456789ABCDEFull, 7}}));
}

TEST_F(SerialRecordTest, LinkOrFolderAtTheNameIsNotRead) {
    ASSERT_TRUE(m_dir.WriteFile("elsewhere", "0123456789ABCDEF 7\n"));
    ASSERT_EQ(::symlink(m_dir.NarrowPathOf("elsewhere").c_str(),
                        m_dir.NarrowPathOf("catalogue-serials").c_str()),
              0);
    EXPECT_TRUE(ReadRecordedSerials(Path()).empty());

    // Writing replaces the link itself and leaves its target alone.
    ASSERT_TRUE(WriteRecordedSerials(Path(), {{1, 2}}));
    EXPECT_FALSE(std::filesystem::is_symlink(m_dir.PathOf("catalogue-serials")));
    EXPECT_EQ(m_dir.ReadFile("elsewhere").value_or(""), "0123456789ABCDEF 7\n");

    std::filesystem::remove(m_dir.PathOf("catalogue-serials"));
    std::filesystem::create_directory(m_dir.PathOf("catalogue-serials"));
    EXPECT_TRUE(ReadRecordedSerials(Path()).empty());
}

TEST(CatalogueTrustDescriptionTest, NamesThePolicyAndEveryKeyId) {
    CatalogueTrustSettings settings;
    EXPECT_EQ(DescribeCatalogueTrust(settings), "signature policy: off\n");
    settings.policy = SignaturePolicy::kRequire;
    settings.keys.resize(2);
    settings.keys[0].keyId = 0xABCDEFull;
    settings.keys[1].keyId = 0x1122334455667788ull;
    EXPECT_EQ(DescribeCatalogueTrust(settings),
              "signature policy: require\ncatalogue key: 0000000000ABCDEF\n"
              "catalogue key: 1122334455667788\n");
}

}  // namespace
