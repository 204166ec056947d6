#include "wizard/install_path_page_logic.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace {

class FolderCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        m_info.download_folder = L"earlier";
    }
    void TearDown() override {
        // A read-only folder must be writable again for the temp folder to go.
        std::error_code ignored;
        fs::permissions(m_dir.Path(), fs::perms::owner_all, ignored);
        for (const auto& entry : fs::directory_iterator(m_dir.Path(), ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, ignored);
    }

    // The names in the folder, to show that a check left nothing behind.
    static std::size_t EntryCount(const fs::path& folder) {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
            ++count;
        return count;
    }

    // Whether this process can create files in a folder whose write permission is gone (it
    // can when it runs with the rights of the superuser).
    bool PermissionsBind() {
        const fs::path folder = m_dir.PathOf("permission_probe");
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        std::FILE* file = std::fopen((folder / "x").c_str(), "wb");
        const bool binds = file == nullptr;
        if (file != nullptr)
            std::fclose(file);
        fs::permissions(folder, fs::perms::owner_all);
        fs::remove_all(folder);
        return binds;
    }

    // A real folder below the temporary one whose text is exactly length characters, made of
    // components of at most 100 characters.
    std::wstring MakeFolderOfLength(std::size_t length) {
        std::wstring path = m_dir.WidePath();
        EXPECT_LT(path.size() + 2, length);
        std::size_t remaining = length - path.size();
        while (remaining > 0) {
            std::size_t take = remaining - 1 < 100 ? remaining - 1 : 100;
            // Never leave a single character over: it cannot hold a separator and a name.
            if (remaining - (take + 1) == 1)
                --take;
            path += L"/" + std::wstring(take, L'd');
            remaining -= take + 1;
        }
        EXPECT_EQ(path.size(), length);
        fs::create_directories(fs::path(path));
        return path;
    }

    TempDir m_dir;
    PatchInfo m_info;
};

TEST_F(FolderCheckTest, WritableFolderIsAcceptedAndStoredAsTyped) {
    EXPECT_EQ(CheckDownloadFolder(m_dir.WidePath()), FolderCheck::kAccepted);
    EXPECT_TRUE(AcceptDownloadFolder(m_dir.WidePath(), m_info));
    EXPECT_EQ(m_info.download_folder, m_dir.WidePath());
    EXPECT_EQ(EntryCount(m_dir.Path()), 0u);
}

TEST_F(FolderCheckTest, TrailingSeparatorIsAcceptedAndKept) {
    const std::wstring typed = m_dir.WidePath() + L"/";
    EXPECT_TRUE(AcceptDownloadFolder(typed, m_info));
    EXPECT_EQ(m_info.download_folder, typed);
    EXPECT_FALSE(m_dir.Exists("writeaccess"));
}

TEST_F(FolderCheckTest, RelativeFolderStaysRelative) {
    std::wstring cwd;
    ASSERT_TRUE(platform::GetCurrentDirectory(cwd));
    // "." is the working directory, which is writable where the tests run.
    if (CheckDownloadFolder(L".") != FolderCheck::kAccepted)
        GTEST_SKIP() << "cwd not writable";
    EXPECT_TRUE(AcceptDownloadFolder(L".", m_info));
    EXPECT_EQ(m_info.download_folder, L".");
    EXPECT_FALSE(platform::FileExists(cwd + L"/writeaccess"));
}

TEST_F(FolderCheckTest, EmptyTextIsRefused) {
    EXPECT_EQ(CheckDownloadFolder(L""), FolderCheck::kEmpty);
    EXPECT_FALSE(AcceptDownloadFolder(L"", m_info));
    EXPECT_EQ(m_info.download_folder, L"earlier");
}

TEST_F(FolderCheckTest, MissingFolderIsRefusedAndNeverCreated) {
    const std::wstring missing = m_dir.WidePathOf("not/there");
    EXPECT_EQ(CheckDownloadFolder(missing), FolderCheck::kMissing);
    std::wstring refusal;
    EXPECT_FALSE(AcceptDownloadFolder(missing, m_info, &refusal));
    EXPECT_EQ(refusal,
              LoadMessage(kMsgInvalidFolder) + L"\nThe folder " + missing + L" does not exist.");
    EXPECT_FALSE(m_dir.Exists("not"));
    EXPECT_EQ(m_info.download_folder, L"earlier");
}

TEST_F(FolderCheckTest, FileInPlaceOfAFolderIsRefused) {
    ASSERT_TRUE(m_dir.WriteFile("plain.txt", "data"));
    const std::wstring plain = m_dir.WidePathOf("plain.txt");
    EXPECT_EQ(CheckDownloadFolder(plain), FolderCheck::kNotAFolder);
    std::wstring refusal;
    EXPECT_FALSE(AcceptDownloadFolder(plain, m_info, &refusal));
    EXPECT_EQ(refusal, LoadMessage(kMsgInvalidFolder) + L"\n" + plain + L" is not a folder.");
    EXPECT_EQ(m_dir.ReadFile("plain.txt").value_or(""), "data");
}

TEST_F(FolderCheckTest, ReadOnlyFolderIsRefusedAndLeftEmpty) {
    if (!PermissionsBind())
        GTEST_SKIP() << "running with rights that ignore permissions";
    const fs::path folder = m_dir.PathOf("readonly");
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_EQ(CheckDownloadFolder(folder.wstring()), FolderCheck::kNotWritable);
    std::wstring refusal;
    EXPECT_FALSE(AcceptDownloadFolder(folder.wstring(), m_info, &refusal));
    EXPECT_EQ(refusal, LoadMessage(kMsgInvalidFolder) + L"\nCannot write to the folder " +
                           folder.wstring() + L".");
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(EntryCount(folder), 0u);
}

TEST_F(FolderCheckTest, FolderNobodyMayWriteIsRefused) {
    // The process table refuses new files whatever rights the process has, so this holds where
    // permission bits do not.
    if (!platform::IsDirectory(L"/proc"))
        GTEST_SKIP() << "no /proc";
    EXPECT_EQ(CheckDownloadFolder(L"/proc"), FolderCheck::kNotWritable);
    EXPECT_FALSE(platform::FileExists(L"/proc/writeaccess"));
}

TEST_F(FolderCheckTest, UserFileNamedLikeTheProbeIsKeptIntact) {
    const std::string bytes("user data\0with a NUL", 20);
    ASSERT_TRUE(m_dir.WriteFile("writeaccess", bytes));

    EXPECT_TRUE(AcceptDownloadFolder(m_dir.WidePath(), m_info));

    EXPECT_EQ(m_dir.ReadFile("writeaccess").value_or(""), bytes);
    EXPECT_EQ(EntryCount(m_dir.Path()), 1u);
}

TEST_F(FolderCheckTest, UserFolderNamedLikeTheProbeIsKept) {
    // Also the first alternative name is taken: the probe moves on to the next free one.
    fs::create_directory(m_dir.PathOf("writeaccess"));
    ASSERT_TRUE(m_dir.WriteFile("writeaccess/inside", "x"));
    ASSERT_TRUE(m_dir.WriteFile("writeaccess.1", "one"));

    EXPECT_EQ(CheckDownloadFolder(m_dir.WidePath()), FolderCheck::kAccepted);

    EXPECT_EQ(m_dir.ReadFile("writeaccess/inside").value_or(""), "x");
    EXPECT_EQ(m_dir.ReadFile("writeaccess.1").value_or(""), "one");
    EXPECT_EQ(EntryCount(m_dir.Path()), 2u);
}

// Entries named like the probe that are not files of their own: none of them may make a
// writable folder look read-only, and none is followed, changed or removed.
class ProbeNameTakenTest : public FolderCheckTest {
  protected:
    void SetUp() override {
        FolderCheckTest::SetUp();
        fs::create_directory(m_dir.PathOf("outside"));
        ASSERT_TRUE(m_dir.WriteFile("outside/user.txt", "the player's file"));
        fs::create_directory(m_dir.PathOf("download"));
    }
    std::wstring Download() const { return m_dir.WidePathOf("download"); }
    fs::path InDownload(const std::wstring& name) const {
        return m_dir.PathOf("download") / fs::path(name);
    }
    void ExpectOutsideUntouched() const {
        EXPECT_EQ(m_dir.ReadFile("outside/user.txt").value_or(""), "the player's file");
        EXPECT_EQ(EntryCount(m_dir.PathOf("outside")), 1u);
    }
};

TEST_F(ProbeNameTakenTest, DanglingLinkAtTheProbeName) {
    fs::create_symlink(m_dir.PathOf("outside/planted"),
                       InDownload(std::wstring(kWriteAccessProbeName)));
    EXPECT_EQ(CheckDownloadFolder(Download()), FolderCheck::kAccepted);
    EXPECT_EQ(fs::symlink_status(InDownload(std::wstring(kWriteAccessProbeName))).type(),
              fs::file_type::symlink);
    EXPECT_EQ(EntryCount(m_dir.PathOf("download")), 1u);
    ExpectOutsideUntouched();
}

TEST_F(ProbeNameTakenTest, LinkToAUserFileAtTheProbeName) {
    fs::create_symlink(m_dir.PathOf("outside/user.txt"),
                       InDownload(std::wstring(kWriteAccessProbeName)));
    EXPECT_TRUE(AcceptDownloadFolder(Download(), m_info));
    EXPECT_EQ(fs::symlink_status(InDownload(std::wstring(kWriteAccessProbeName))).type(),
              fs::file_type::symlink);
    ExpectOutsideUntouched();
}

TEST_F(ProbeNameTakenTest, FifoAtTheProbeNameDoesNotBlock) {
    ASSERT_EQ(mkfifo(InDownload(std::wstring(kWriteAccessProbeName)).c_str(), 0600), 0);
    EXPECT_EQ(CheckDownloadFolder(Download()), FolderCheck::kAccepted);
    EXPECT_EQ(fs::symlink_status(InDownload(std::wstring(kWriteAccessProbeName))).type(),
              fs::file_type::fifo);
}

TEST_F(ProbeNameTakenTest, EveryNameTheProbeTriesIsTaken) {
    // Dangling links and folders, by turns, at each name of the probe's fixed list: the probe
    // still finds a free name and leaves every one of them as it was.
    for (int attempt = 0; attempt < kWriteAccessProbeNames; ++attempt) {
        const fs::path taken = InDownload(WriteAccessProbeName(attempt));
        if (attempt % 2 == 0)
            fs::create_symlink(m_dir.PathOf("outside/planted"), taken);
        else
            fs::create_directory(taken);
    }
    const std::size_t planted = EntryCount(m_dir.PathOf("download"));
    ASSERT_EQ(planted, static_cast<std::size_t>(kWriteAccessProbeNames));

    EXPECT_EQ(CheckDownloadFolder(Download()), FolderCheck::kAccepted);

    EXPECT_EQ(EntryCount(m_dir.PathOf("download")), planted);
    for (int attempt = 0; attempt < kWriteAccessProbeNames; ++attempt) {
        EXPECT_EQ(fs::symlink_status(InDownload(WriteAccessProbeName(attempt))).type(),
                  attempt % 2 == 0 ? fs::file_type::symlink : fs::file_type::directory)
            << attempt;
    }
    ExpectOutsideUntouched();
}

TEST_F(ProbeNameTakenTest, ProbeNamesAreDistinct) {
    std::set<std::wstring> names;
    for (int attempt = 0; attempt < kWriteAccessProbeNames; ++attempt)
        names.insert(WriteAccessProbeName(attempt));
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kWriteAccessProbeNames));
    EXPECT_EQ(WriteAccessProbeName(0), L"writeaccess");
}

TEST_F(ProbeNameTakenTest, FolderWithoutWriteRightIsStillRefusedWhenTheNameIsTaken) {
    // A taken name must not send the probe on to other names in a folder it may not write:
    // the refusal is the folder's. Where this process's rights ignore permission bits, the
    // check runs in a child that gives them up.
    fs::create_symlink(m_dir.PathOf("outside/planted"),
                       InDownload(std::wstring(kWriteAccessProbeName)));
    fs::permissions(m_dir.PathOf("download"), fs::perms::owner_all | fs::perms::group_read |
                                                  fs::perms::group_exec | fs::perms::others_read |
                                                  fs::perms::others_exec);
    const bool dropRights = !PermissionsBind();
    if (!dropRights)
        fs::permissions(m_dir.PathOf("download"), fs::perms::owner_read | fs::perms::owner_exec);
    const int status = RunInChild([&] {
        constexpr uid_t kNobody = 65534;
        if (dropRights && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            return 100;
        return static_cast<int>(CheckDownloadFolder(Download()));
    });
    if (status == 100)
        GTEST_SKIP() << "cannot give up rights here";
    ASSERT_GE(status, 0);
    EXPECT_EQ(static_cast<FolderCheck>(status), FolderCheck::kNotWritable);
    EXPECT_EQ(EntryCount(m_dir.PathOf("download")), 1u);
    ExpectOutsideUntouched();
}

// A folder whose name is not UTF-8 (Latin-1 here) is accepted and stored so that its own
// bytes reach the file system.
TEST_F(FolderCheckTest, Latin1FolderIsAcceptedWithItsBytes) {
    const std::string raw = m_dir.NarrowPath() +
                            "/T\xE9l\xE9"
                            "chargements";
    ASSERT_EQ(mkdir(raw.c_str(), 0755), 0);
    const std::wstring folder = Utf8ToWide(std::string_view(raw));
    EXPECT_TRUE(AcceptDownloadFolder(folder, m_info));
    EXPECT_EQ(WideToUtf8(std::wstring_view(m_info.download_folder)), raw);
    EXPECT_EQ(EntryCount(fs::path(raw)), 0u);
}

TEST_F(FolderCheckTest, RefusalNamesAFolderThatIsNotUtf8Readably) {
    const std::wstring missing = Utf8ToWide(std::string_view(m_dir.NarrowPath() + "/\xE9t\xE9"));
    const std::wstring text = FolderRefusalText(FolderCheck::kMissing, missing);
    EXPECT_NE(text.find(ForDisplay(missing)), std::wstring::npos);
    EXPECT_EQ(text.find(missing), std::wstring::npos);
    // Nothing to name for an empty or over-long text: 209 alone.
    EXPECT_EQ(FolderRefusalText(FolderCheck::kEmpty, L""), LoadMessage(kMsgInvalidFolder));
    EXPECT_EQ(FolderRefusalText(FolderCheck::kTooLong, missing), LoadMessage(kMsgInvalidFolder));
}

// "~" as a shell reads it, under a $HOME of the test's own.
class HomeFolderTest : public FolderCheckTest {
  protected:
    ScopedEnv m_home{"HOME", m_dir.NarrowPath()};
};

TEST_F(HomeFolderTest, TildeIsTheHomeFolder) {
    fs::create_directory(m_dir.PathOf("Games"));
    EXPECT_EQ(ExpandHomeFolder(L"~"), m_dir.WidePath());
    EXPECT_EQ(ExpandHomeFolder(L"~/"), m_dir.WidePath());
    EXPECT_EQ(ExpandHomeFolder(L"~/Games"), m_dir.WidePath() + L"/Games");
    EXPECT_TRUE(AcceptDownloadFolder(L"~/Games", m_info));
    EXPECT_EQ(m_info.download_folder, m_dir.WidePath() + L"/Games");
}

TEST_F(HomeFolderTest, OtherTextsStayAsTyped) {
    EXPECT_EQ(ExpandHomeFolder(L"~alice/Games"), L"~alice/Games");
    EXPECT_EQ(ExpandHomeFolder(L"Games/~"), L"Games/~");
    EXPECT_EQ(ExpandHomeFolder(L"/~/x"), L"/~/x");
    EXPECT_EQ(ExpandHomeFolder(L""), L"");
    // The refusal names the folder meant, not the "~" typed.
    std::wstring refusal;
    EXPECT_FALSE(AcceptDownloadFolder(L"~/missing", m_info, &refusal));
    EXPECT_NE(refusal.find(m_dir.WidePath() + L"/missing"), std::wstring::npos);
    EXPECT_EQ(m_info.download_folder, L"earlier");
}

// The patch's listed sizes against what the folder already holds and what its disk can take.
class DiskSpaceTest : public FolderCheckTest {
  protected:
    void SetUp() override {
        FolderCheckTest::SetUp();
        auto game = std::make_unique<GameVersion>();
        auto latest = std::make_unique<PatchEntry>();
        m_patch = latest.get();
        game->latest = m_patch;
        game->patch_list.push_back(std::move(latest));
        m_info.installed_game = game.get();
        m_info.game_version_list.push_back(std::move(game));
    }
    void List(const std::wstring& target, std::int64_t size) {
        auto entry = std::make_unique<DownloadEntry>();
        entry->target = target;
        entry->size = size;
        m_patch->download_list.push_back(std::move(entry));
    }
    PatchEntry* m_patch = nullptr;
};

TEST_F(DiskSpaceTest, FilesAlreadyThereAreNotFetchedAgain) {
    List(L"a.bin", 1000);
    List(L"data\\b.bin", 500);
    List(L"c.bin", 300);
    List(L"unsized.bin", 0);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", std::string(400, 'a')));
    fs::create_directory(m_dir.PathOf("data"));
    ASSERT_TRUE(m_dir.WriteFile("data/b.bin", std::string(900, 'b')));
    // A folder at a target's name holds none of its bytes.
    fs::create_directory(m_dir.PathOf("c.bin"));
    EXPECT_EQ(BytesStillToFetch(m_info, m_dir.WidePath()), 600u + 0u + 300u);
    // The first page tells the whole patch and the part already there (1800 - 900 bytes).
    EXPECT_EQ(PatchSizeText(m_info, m_dir.WidePath()),
              L"Patch size: 2 KB.\nAlready in this folder: 1 KB.");
    EXPECT_EQ(PatchSizeText(m_info, m_dir.WidePathOf("elsewhere")), L"Patch size: 2 KB.");
}

TEST_F(DiskSpaceTest, APatchLargerThanTheDiskIsRefusedWithBothFigures) {
    // More than any disk this runs on holds.
    List(L"huge.bin", std::int64_t{1} << 60);
    std::wstring refusal;
    EXPECT_FALSE(AcceptDownloadFolder(m_dir.WidePath(), m_info, &refusal));
    const std::wstring lead = L"Not enough disk space in " + m_dir.WidePath() + L": ";
    EXPECT_EQ(refusal.rfind(lead, 0), 0u) << WideToUtf8(refusal);
    EXPECT_NE(refusal.find(L"1073741824.00 GB needed, "), std::wstring::npos)
        << WideToUtf8(refusal);
    EXPECT_EQ(m_info.download_folder, L"earlier");
    // A disk that fills up during the download is told in the same words.
    std::wstring later;
    ASSERT_TRUE(DiskSpaceShortText(m_info, m_dir.WidePath(), later));
    EXPECT_EQ(later, refusal);
    // A patch the disk can hold is taken in the same folder.
    m_patch->download_list.clear();
    List(L"small.bin", 10);
    later = L"untouched";
    EXPECT_FALSE(DiskSpaceShortText(m_info, m_dir.WidePath(), later));
    EXPECT_EQ(later, L"untouched");
    EXPECT_TRUE(AcceptDownloadFolder(m_dir.WidePath(), m_info, &refusal));
    EXPECT_EQ(m_info.download_folder, m_dir.WidePath());
}

TEST_F(FolderCheckTest, UnchangedProposalKeepsItsBytes) {
    const std::wstring proposed = Utf8ToWide(std::string_view("/home/joueur/Jeux \xE9t\xE9"));
    const std::wstring shown = ForDisplay(proposed);
    ASSERT_NE(shown, proposed);
    // Left as shown: the folder proposed, byte for byte.
    EXPECT_EQ(FolderFromPageText(shown, proposed), proposed);
    // Changed, even back to a look-alike: what the person typed.
    EXPECT_EQ(FolderFromPageText(shown + L"/sub", proposed), shown + L"/sub");
    EXPECT_EQ(FolderFromPageText(L"/tmp", proposed), L"/tmp");
    EXPECT_EQ(FolderFromPageText(L"/tmp", L"/tmp"), L"/tmp");
    EXPECT_EQ(FolderFromPageText(L"", proposed), L"");
}

TEST_F(FolderCheckTest, LengthLimitIsTheProbePathBuffer) {
    const std::wstring path = MakeFolderOfLength(kMaxDownloadFolderLength);
    EXPECT_EQ(CheckDownloadFolder(path), FolderCheck::kAccepted);

    const std::wstring longer = path + L"e";
    fs::create_directories(fs::path(longer));
    EXPECT_EQ(CheckDownloadFolder(longer), FolderCheck::kTooLong);
    EXPECT_FALSE(AcceptDownloadFolder(longer, m_info));
    EXPECT_EQ(m_info.download_folder, L"earlier");
}

// When the probe's own name is taken, another name is tried only while its path still fits the
// path buffer: "writeaccess.1" needs two characters more than the probe itself.
TEST_F(FolderCheckTest, ProbeAlternativeMustFitThePathBuffer) {
    const auto plantProbeName = [](const std::wstring& folder) {
        std::FILE* file = std::fopen((fs::path(folder) / "writeaccess").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    };
    const std::wstring fits = MakeFolderOfLength(kMaxDownloadFolderLength - 2);
    plantProbeName(fits);
    EXPECT_EQ(CheckDownloadFolder(fits), FolderCheck::kAccepted);

    const std::wstring tooLong = MakeFolderOfLength(kMaxDownloadFolderLength - 1);
    plantProbeName(tooLong);
    EXPECT_EQ(CheckDownloadFolder(tooLong), FolderCheck::kNotWritable);
    EXPECT_EQ(EntryCount(fs::path(tooLong)), 1u);
}

class VersionTextTest : public ::testing::Test {
  protected:
    void SetUp() override { m_savedLanguage = LanguageIndex; }
    void TearDown() override { LanguageIndex = m_savedLanguage; }
    int m_savedLanguage = 0;
};

TEST_F(VersionTextTest, MessageLineFeedAndReleaseName) {
    PatchInfo info;
    auto game = std::make_unique<GameVersion>();
    game->name = L"Velmora II  Gold\nEdition";
    info.installed_game = game.get();
    info.game_version_list.push_back(std::move(game));

    LanguageIndex = 0;
    EXPECT_EQ(BuildVersionText(info), L"Selected version :\nVelmora II  Gold\nEdition");
    LanguageIndex = 2;
    EXPECT_EQ(BuildVersionText(info),
              LoadMessage(kMsgSelectedVersion) + L"\nVelmora II  Gold\nEdition");
}

TEST_F(VersionTextTest, NoGameKnownGivesMessageAndLineFeedOnly) {
    PatchInfo info;
    LanguageIndex = 0;
    EXPECT_EQ(BuildVersionText(info), L"Selected version :\n");
}

}  // namespace
