#include "transfer/verify.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <memory>
#include <vector>

#include "catalogue/patch_info.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"
#include "transfer/md5.h"
#include "transfer/sha256.h"

namespace {

class VerifyDownloadListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        ASSERT_TRUE(m_dir.WriteFile("dl/.keep", ""));
        m_folder = m_dir.WidePathOf("dl");
    }

    // Writes content below the download folder and lists it with its true digest (and its
    // true sha256 when withSha256).
    void AddFile(const std::string& name, const std::string& content,
                 const std::wstring& target = {}, bool withSha256 = false) {
        ASSERT_TRUE(m_dir.WriteFile("dl/" + name, content));
        AddEntry(target.empty() ? Utf8ToWide(name) : target,
                 Utf8ToWide(md5wrapper().hashOfText(content)),
                 withSha256 ? Utf8ToWide(Sha256Digest::OfText(content)) : std::wstring());
    }

    void AddEntry(const std::wstring& target, const std::wstring& md5,
                  const std::wstring& sha256 = {}) {
        auto entry = std::make_unique<DownloadEntry>();
        entry->target = target;
        entry->md5 = md5;
        entry->sha256 = sha256;
        m_patch.download_list.push_back(std::move(entry));
    }

    // Verifies while recording which files were digested, in order, and whether SHA-256 was
    // asked for each.
    bool VerifyRecording(const std::atomic<bool>* stop = nullptr) {
        m_digested.clear();
        m_sha256Asked.clear();
        return VerifyDownloadList(
            &m_patch, m_folder,
            [this](const std::wstring& path, bool withSha256, const std::atomic<bool>* stopFlag) {
                m_digested.push_back(path);
                m_sha256Asked.push_back(withSha256);
                return FileDigests(path, withSha256, stopFlag);
            },
            stop, &m_failure);
    }

    void ExpectFailure(FailureClass cause, const std::wstring& subject) {
        EXPECT_EQ(m_failure.cause, cause) << DescribeFailure(m_failure);
        EXPECT_EQ(m_failure.subject, subject) << DescribeFailure(m_failure);
    }

    std::wstring InFolder(const std::string& name) { return m_folder + L"/" + Utf8ToWide(name); }

    TempDir m_dir;
    std::wstring m_folder;
    PatchEntry m_patch;
    std::vector<std::wstring> m_digested;
    std::vector<bool> m_sha256Asked;
    // Starts out as a cause verification never gives, so a test sees that it was written.
    Failure m_failure = MakeFailure(FailureClass::kBusy);
};

TEST_F(VerifyDownloadListTest, EmptyListPasses) {
    EXPECT_TRUE(VerifyDownloadList(&m_patch, m_folder));
}

TEST_F(VerifyDownloadListTest, NullPatchFails) {
    EXPECT_FALSE(VerifyDownloadList(nullptr, m_folder));
}

TEST_F(VerifyDownloadListTest, AllFilesSoundPasses) {
    AddFile("a.bin", "first");
    AddFile("b.bin", "");
    AddFile("c.bin", std::string(70000, 'c'));
    EXPECT_TRUE(VerifyRecording());
    EXPECT_FALSE(m_failure.IsFailure());
    EXPECT_EQ(m_digested,
              (std::vector<std::wstring>{InFolder("a.bin"), InFolder("b.bin"), InFolder("c.bin")}));
    // A catalogue without sha256 is checked by MD5 alone, as it always was.
    EXPECT_EQ(m_sha256Asked, (std::vector<bool>{false, false, false}));
}

TEST_F(VerifyDownloadListTest, BackslashTargetsNameSubfolders) {
    AddFile("data/maps/m1.pak", "map", L"data\\maps\\m1.pak");
    EXPECT_TRUE(VerifyRecording());
    EXPECT_EQ(m_digested, std::vector<std::wstring>{InFolder("data/maps/m1.pak")});
}

TEST_F(VerifyDownloadListTest, UpperCaseDigestFails) {
    ASSERT_TRUE(m_dir.WriteFile("dl/a.bin", "abc"));
    AddEntry(L"a.bin", L"900150983CD24FB0D6963F7D28E17F72");
    EXPECT_FALSE(VerifyDownloadList(&m_patch, m_folder, nullptr, &m_failure));
    ExpectFailure(FailureClass::kDigestMismatch, L"a.bin");
    EXPECT_NE(m_failure.detail.find("900150983CD24FB0D6963F7D28E17F72"), std::string::npos);
    EXPECT_NE(m_failure.detail.find("900150983cd24fb0d6963f7d28e17f72"), std::string::npos);
}

TEST_F(VerifyDownloadListTest, WrongDigestFails) {
    ASSERT_TRUE(m_dir.WriteFile("dl/a.bin", "abd"));
    AddEntry(L"a.bin", L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_FALSE(VerifyDownloadList(&m_patch, m_folder));
}

TEST_F(VerifyDownloadListTest, MissingSecondFileStopsBeforeTheThird) {
    AddFile("a.bin", "one");
    AddEntry(L"missing.bin", Utf8ToWide(md5wrapper().hashOfText("two")));
    AddFile("c.bin", "three");
    EXPECT_FALSE(VerifyRecording());
    EXPECT_EQ(m_digested, std::vector<std::wstring>{InFolder("a.bin")});
    ExpectFailure(FailureClass::kUnreadable, L"missing.bin");
    EXPECT_EQ(m_failure.code, ENOENT);
}

// A file that could not be read is a failed read, and its digest's sentinel goes no further.
TEST_F(VerifyDownloadListTest, UnreadableFileFailsAsAReadWithoutItsSentinel) {
    AddFile("a.bin", "one");
    for (const wchar_t* sentinel : {L"open__error", L"read__error"}) {
        const FileDigestFunction unreadable = [sentinel](const std::wstring&, bool,
                                                         const std::atomic<bool>*) {
            return FileDigestTexts{sentinel, L""};
        };
        EXPECT_FALSE(VerifyDownloadList(&m_patch, m_folder, unreadable, nullptr, &m_failure));
        ExpectFailure(FailureClass::kUnreadable, L"a.bin");
        EXPECT_EQ(m_failure.detail.find("__error"), std::string::npos) << m_failure.detail;
    }
}

TEST_F(VerifyDownloadListTest, FirstBadDigestStopsTheRest) {
    AddFile("a.bin", "one");
    m_patch.download_list[0]->md5[0] = m_patch.download_list[0]->md5[0] == L'0' ? L'1' : L'0';
    AddFile("b.bin", "two");
    EXPECT_FALSE(VerifyRecording());
    EXPECT_EQ(m_digested, std::vector<std::wstring>{InFolder("a.bin")});
    ExpectFailure(FailureClass::kDigestMismatch, L"a.bin");
}

TEST_F(VerifyDownloadListTest, TargetsOutsideTheFolderFailEvenWithTheRightDigest) {
    // The escaping file really exists and has the listed digest: only the refusal can fail it.
    ASSERT_TRUE(m_dir.WriteFile("outside.bin", "secret"));
    const std::wstring digest = Utf8ToWide(md5wrapper().hashOfText("secret"));
    const std::wstring absolute = m_dir.WidePathOf("outside.bin");
    for (const std::wstring& target :
         {std::wstring(L"../outside.bin"), std::wstring(L"..\\outside.bin"),
          std::wstring(L"sub\\..\\..\\outside.bin"), absolute}) {
        m_patch.download_list.clear();
        AddEntry(target, digest);
        EXPECT_FALSE(VerifyRecording()) << WideToUtf8(target);
        EXPECT_TRUE(m_digested.empty()) << WideToUtf8(target);
        ExpectFailure(FailureClass::kUnsafePath, target);
    }
}

TEST_F(VerifyDownloadListTest, SentinelListedAsDigestNeverMatches) {
    // A folder would digest to "read__error"; a catalogue that lists exactly that must not
    // pass. It is refused before any read: only regular files are digested.
    ASSERT_TRUE(m_dir.WriteFile("dl/folder/x", "x"));
    AddEntry(L"folder", L"read__error");
    EXPECT_FALSE(VerifyRecording());
    EXPECT_TRUE(m_digested.empty());
    ExpectFailure(FailureClass::kNotRegularFile, L"folder");
}

TEST_F(VerifyDownloadListTest, RaisedStopFailsWithoutDigesting) {
    AddFile("a.bin", "one");
    std::atomic<bool> stop{true};
    EXPECT_FALSE(VerifyRecording(&stop));
    EXPECT_TRUE(m_digested.empty());
    EXPECT_EQ(m_failure.cause, FailureClass::kStopped);
    stop = false;
    EXPECT_TRUE(VerifyRecording(&stop));
    // Nothing to read, yet a raised stop still means the check did not pass.
    m_patch.download_list.clear();
    stop = true;
    EXPECT_FALSE(VerifyRecording(&stop));
}

TEST_F(VerifyDownloadListTest, StopRaisedWhileDigestingFails) {
    AddFile("a.bin", "one");
    AddFile("b.bin", "two");
    std::atomic<bool> stop{false};
    const bool result = VerifyDownloadList(
        &m_patch, m_folder,
        [&stop](const std::wstring& path, bool withSha256, const std::atomic<bool>* stopFlag) {
            stop = true;  // as if the user cancelled while the first file was read
            return FileDigests(path, withSha256, stopFlag);
        },
        &stop, &m_failure);
    EXPECT_FALSE(result);
    ExpectFailure(FailureClass::kStopped, L"a.bin");
}

TEST_F(VerifyDownloadListTest, StopRaisedWhileTheLastFileIsReadFailsThoughItsDigestIsRight) {
    AddFile("a.bin", "one");
    AddFile("b.bin", "two");
    std::atomic<bool> stop{false};
    std::vector<std::wstring> digested;
    const std::wstring last = InFolder("b.bin");
    const bool result = VerifyDownloadList(
        &m_patch, m_folder,
        [&](const std::wstring& path, bool withSha256, const std::atomic<bool>*) {
            digested.push_back(path);
            // The cancel comes while the last file is read, too late for the read to notice:
            // the digest comes out right all the same.
            if (path == last)
                stop = true;
            return FileDigests(path, withSha256, nullptr);
        },
        &stop, &m_failure);
    EXPECT_FALSE(result);
    EXPECT_EQ(digested, (std::vector<std::wstring>{InFolder("a.bin"), last}));
    ExpectFailure(FailureClass::kStopped, L"b.bin");
}

// --- sha256 beside MD5 ----------------------------------------------------------------------

TEST_F(VerifyDownloadListTest, ListedSha256MustMatchAsWellAsMd5) {
    AddFile("a.bin", "first", {}, true);
    AddFile("b.bin", std::string(300000, 'b'), {}, true);
    AddFile("c.bin", "no sha256 listed");
    EXPECT_TRUE(VerifyRecording());
    // One digest call (one read) per file, SHA-256 asked only where listed.
    EXPECT_EQ(m_digested,
              (std::vector<std::wstring>{InFolder("a.bin"), InFolder("b.bin"), InFolder("c.bin")}));
    EXPECT_EQ(m_sha256Asked, (std::vector<bool>{true, true, false}));
}

TEST_F(VerifyDownloadListTest, Md5MatchingFileWithWrongSha256Fails) {
    AddFile("a.bin", "payload", {}, true);
    AddFile("b.bin", "never read", {}, true);
    std::wstring& sha256 = m_patch.download_list[0]->sha256;
    sha256.back() = sha256.back() == L'0' ? L'1' : L'0';
    EXPECT_FALSE(VerifyRecording());
    EXPECT_EQ(m_digested, std::vector<std::wstring>{InFolder("a.bin")});
    // The same file with its true sha256 passes: the MD5 was never the problem.
    sha256 = Utf8ToWide(Sha256Digest::OfText("payload"));
    EXPECT_TRUE(VerifyRecording());
}

TEST_F(VerifyDownloadListTest, Sha256NotInTheHouseFormNeverMatches) {
    const std::string content = "abc";
    const std::wstring md5 = Utf8ToWide(md5wrapper().hashOfText(content));
    const std::string sha256 = Sha256Digest::OfText(content);
    ASSERT_TRUE(m_dir.WriteFile("dl/a.bin", content));
    std::string upper = sha256;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const std::string& listed :
         {upper, sha256.substr(0, 63), sha256 + "0", " " + sha256, std::string("read__error")}) {
        m_patch.download_list.clear();
        AddEntry(L"a.bin", md5, Utf8ToWide(listed));
        EXPECT_FALSE(VerifyRecording()) << listed;
    }
}

TEST_F(VerifyDownloadListTest, PathLengthLimit) {
    // folder + "/" + target: 259 characters still fit, 260 do not.
    const std::size_t room = 259 - m_folder.size() - 1;
    ASSERT_GT(room, 20u);
    ASSERT_LT(room, 250u) << "temporary folder too short for a single file name";
    const std::string fits(room, 'f');
    const std::string tooLong(room + 1, 'g');
    AddFile(fits, "fits");
    EXPECT_TRUE(VerifyDownloadList(&m_patch, m_folder));
    m_patch.download_list.clear();
    AddFile(tooLong, "too long");
    EXPECT_FALSE(VerifyDownloadList(&m_patch, m_folder));
}

}  // namespace
