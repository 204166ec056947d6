#include "wizard/install_path_page_logic.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "catalogue/patch_info.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"

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
    EXPECT_FALSE(AcceptDownloadFolder(missing, m_info));
    EXPECT_FALSE(m_dir.Exists("not"));
    EXPECT_EQ(m_info.download_folder, L"earlier");
}

TEST_F(FolderCheckTest, FileInPlaceOfAFolderIsRefused) {
    ASSERT_TRUE(m_dir.WriteFile("plain.txt", "data"));
    EXPECT_EQ(CheckDownloadFolder(m_dir.WidePathOf("plain.txt")), FolderCheck::kNotWritable);
    EXPECT_EQ(m_dir.ReadFile("plain.txt").value_or(""), "data");
}

TEST_F(FolderCheckTest, ReadOnlyFolderIsRefusedAndLeftEmpty) {
    if (!PermissionsBind())
        GTEST_SKIP() << "running with rights that ignore permissions";
    const fs::path folder = m_dir.PathOf("readonly");
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_EQ(CheckDownloadFolder(folder.wstring()), FolderCheck::kNotWritable);
    EXPECT_FALSE(AcceptDownloadFolder(folder.wstring(), m_info));
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
