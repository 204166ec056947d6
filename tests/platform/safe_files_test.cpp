// The fault matrix of files opened below the download folder and of regular-file-only opens:
// real links (dangling, to a user's file outside, on a sub-folder's place), hard links, FIFOs,
// a UNIX socket, a device node, folders where files belong, and names that are not UTF-8.
// Each case runs with the kernel's one-call walk and with the walk by hand.

#include "platform/safe_files.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "text/failure.h"
#include "text/utf8.h"

namespace fs = std::filesystem;
using platform::EntryKind;
using platform::EntryStatus;
using platform::FileAccess;

namespace {

constexpr FileAccess kAllAccesses[] = {FileAccess::kRead, FileAccess::kWriteFromScratch,
                                       FileAccess::kAppend, FileAccess::kCreateNew,
                                       FileAccess::kCreateNewReadWrite, FileAccess::kUpdate};
constexpr FileAccess kWritingAccesses[] = {FileAccess::kWriteFromScratch, FileAccess::kAppend};

const std::string kUserBytes("the player's own notes\0and more", 31);
const std::string kPatchBytes = "patch bytes";

const char* NameOf(FileAccess access) {
    switch (access) {
        case FileAccess::kRead:
            return "read";
        case FileAccess::kWriteFromScratch:
            return "write from scratch";
        case FileAccess::kAppend:
            return "append";
        case FileAccess::kCreateNew:
            return "create new";
        case FileAccess::kCreateNewReadWrite:
            return "create new for reading and writing";
        case FileAccess::kUpdate:
            return "update";
    }
    return "?";
}

std::wstring Wide(const fs::path& path) {
    return Utf8ToWide(std::string_view(path.native()));
}

std::string Describe(const Failure& failure) {
    return DescribeFailure(failure);
}

// A listening UNIX socket at path, or -1.
int ListenAt(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(fd, 1) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// What one open did: whether it opened, why not, the size of the opened file as it was found,
// and what was read.
struct Outcome {
    bool opened = false;
    Failure failure;
    std::int64_t openSize = -1;
    std::string read;
};

// Runs a call on a thread of its own, so that a call that blocks fails the test instead of
// hanging it. A FIFO that still holds the thread after the wait is opened from both sides,
// which lets any blocked open of it go, so the thread can be joined.
Outcome Bounded(const std::function<Outcome()>& call, const fs::path& fifo = {}) {
    std::packaged_task<Outcome()> task(call);
    std::future<Outcome> result = task.get_future();
    std::thread thread(std::move(task));
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the open blocked";
        if (!fifo.empty()) {
            const int unblock = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            thread.join();
            if (unblock >= 0)
                close(unblock);
        } else {
            thread.detach();
        }
        return Outcome{};
    }
    thread.join();
    return result.get();
}

Outcome Use(platform::UniqueFile file, FileAccess access, const Failure& failure) {
    Outcome outcome;
    outcome.failure = failure;
    outcome.opened = file != nullptr;
    if (file == nullptr)
        return outcome;
    EXPECT_TRUE(platform::GetOpenFileSize(file.get(), outcome.openSize));
    if (access == FileAccess::kRead) {
        char buffer[256];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
            outcome.read.append(buffer, got);
    } else {
        EXPECT_EQ(std::fwrite(kPatchBytes.data(), 1, kPatchBytes.size(), file.get()),
                  kPatchBytes.size());
    }
    Failure closing;
    EXPECT_TRUE(platform::CloseFile(file, &closing)) << Describe(closing);
    return outcome;
}

// A download folder and, beside it, a folder of the player's own with a file in it that no
// open below the download folder may ever change.
class BelowFolderTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        platform::AllowKernelBeneathWalk(GetParam());
        fs::create_directory(Download());
        fs::create_directory(Outside());
        ASSERT_TRUE(m_dir.WriteFile("outside/user.txt", kUserBytes));
        Failure failure;
        ASSERT_TRUE(m_folder.Open(Wide(Download()), &failure)) << Describe(failure);
    }
    void TearDown() override {
        // The walk asked for is the walk that ran: no case fell back on its own.
        EXPECT_EQ(platform::KernelBeneathWalkInUse(), GetParam());
        platform::AllowKernelBeneathWalk(true);
    }

    fs::path Download() const { return m_dir.PathOf("download"); }
    fs::path Outside() const { return m_dir.PathOf("outside"); }
    fs::path UserFile() const { return m_dir.PathOf("outside/user.txt"); }
    fs::path InDownload(const std::string& name) const { return Download() / name; }

    Outcome Open(const std::wstring& relative, FileAccess access) const {
        return Bounded([&] {
            Failure failure;
            platform::UniqueFile file = m_folder.OpenFile(relative, access, &failure);
            return Use(std::move(file), access, failure);
        });
    }

    std::set<std::string> OutsideEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(Outside()))
            names.insert(fs::relative(entry.path(), Outside()).string());
        return names;
    }

    // The user's file has its bytes and size, and nothing new appeared beside it.
    void ExpectOutsideUntouched(const std::set<std::string>& expected = {"user.txt"}) const {
        EXPECT_EQ(m_dir.ReadFile("outside/user.txt").value_or("<gone>"), kUserBytes);
        EXPECT_EQ(fs::file_size(UserFile()), kUserBytes.size());
        EXPECT_EQ(OutsideEntries(), expected);
    }

    static fs::file_type TypeOf(const fs::path& path) { return fs::symlink_status(path).type(); }

    TempDir m_dir;
    platform::TrustedFolder m_folder;
};

std::string WalkName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "KernelWalk" : "WalkByHand";
}

// --- A link at the file's own name -------------------------------------------------------

class LinkAtTargetTest : public BelowFolderTest {};
INSTANTIATE_TEST_SUITE_P(Walks, LinkAtTargetTest, ::testing::Bool(), WalkName);

TEST_P(LinkAtTargetTest, LinkToAUserFileIsNeverFollowed) {
    for (const FileAccess access : kAllAccesses) {
        SCOPED_TRACE(NameOf(access));
        fs::remove(InDownload("patch.bin"));
        fs::create_symlink(UserFile(), InDownload("patch.bin"));

        const Outcome outcome = Open(L"patch.bin", access);

        switch (access) {
            case FileAccess::kRead:
                EXPECT_FALSE(outcome.opened);
                EXPECT_EQ(outcome.failure.cause, FailureClass::kNotRegularFile)
                    << Describe(outcome.failure);
                EXPECT_EQ(TypeOf(InDownload("patch.bin")), fs::file_type::symlink);
                break;
            case FileAccess::kCreateNew:
            case FileAccess::kCreateNewReadWrite:
                EXPECT_FALSE(outcome.opened);
                EXPECT_EQ(outcome.failure.code, EEXIST) << Describe(outcome.failure);
                EXPECT_EQ(TypeOf(InDownload("patch.bin")), fs::file_type::symlink);
                break;
            case FileAccess::kWriteFromScratch:
            case FileAccess::kAppend:
            case FileAccess::kUpdate:
                // The link made way for a fresh, empty file of the folder's own.
                ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
                EXPECT_EQ(outcome.openSize, 0);
                EXPECT_EQ(TypeOf(InDownload("patch.bin")), fs::file_type::regular);
                EXPECT_EQ(m_dir.ReadFile("download/patch.bin").value_or(""), kPatchBytes);
                break;
        }
        ExpectOutsideUntouched();
    }
}

TEST_P(LinkAtTargetTest, DanglingLinkNeverCreatesItsTarget) {
    for (const FileAccess access : kAllAccesses) {
        SCOPED_TRACE(NameOf(access));
        fs::remove(InDownload("patch.bin"));
        fs::create_symlink(Outside() / "planted.bin", InDownload("patch.bin"));

        const Outcome outcome = Open(L"patch.bin", access);

        const bool writes = access == FileAccess::kWriteFromScratch ||
                            access == FileAccess::kAppend || access == FileAccess::kUpdate;
        EXPECT_EQ(outcome.opened, writes) << Describe(outcome.failure);
        EXPECT_EQ(TypeOf(InDownload("patch.bin")),
                  writes ? fs::file_type::regular : fs::file_type::symlink);
        if (access == FileAccess::kRead) {
            EXPECT_EQ(outcome.failure.cause, FailureClass::kNotRegularFile);
        }
        if (access == FileAccess::kCreateNew || access == FileAccess::kCreateNewReadWrite) {
            EXPECT_EQ(outcome.failure.code, EEXIST);
        }
        ExpectOutsideUntouched();
    }
}

TEST_P(LinkAtTargetTest, LinkToAFolderOutsideIsNeverWrittenInto) {
    fs::create_directory_symlink(Outside(), InDownload("patch.bin"));
    for (const FileAccess access : {FileAccess::kRead, FileAccess::kCreateNew}) {
        SCOPED_TRACE(NameOf(access));
        EXPECT_FALSE(Open(L"patch.bin", access).opened);
    }
    EXPECT_TRUE(Open(L"patch.bin", FileAccess::kAppend).opened);
    EXPECT_EQ(TypeOf(InDownload("patch.bin")), fs::file_type::regular);
    ExpectOutsideUntouched();
}

// A second hard link may be the player's file under another name: writing must never reach
// it, while reading it is harmless (the digest decides what it is worth).
TEST_P(LinkAtTargetTest, HardLinkToAUserFileIsReplacedNotWritten) {
    for (const FileAccess access : kAllAccesses) {
        SCOPED_TRACE(NameOf(access));
        fs::remove(InDownload("patch.bin"));
        fs::create_hard_link(UserFile(), InDownload("patch.bin"));

        const Outcome outcome = Open(L"patch.bin", access);

        switch (access) {
            case FileAccess::kRead:
                ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
                EXPECT_EQ(outcome.read, kUserBytes);
                break;
            case FileAccess::kCreateNew:
            case FileAccess::kCreateNewReadWrite:
                EXPECT_FALSE(outcome.opened);
                break;
            case FileAccess::kWriteFromScratch:
            case FileAccess::kAppend:
            case FileAccess::kUpdate:
                ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
                EXPECT_EQ(outcome.openSize, 0);
                EXPECT_EQ(fs::hard_link_count(InDownload("patch.bin")), 1u);
                EXPECT_EQ(m_dir.ReadFile("download/patch.bin").value_or(""), kPatchBytes);
                break;
        }
        EXPECT_EQ(fs::hard_link_count(UserFile()), access == FileAccess::kRead ||
                                                           access == FileAccess::kCreateNew ||
                                                           access == FileAccess::kCreateNewReadWrite
                                                       ? 2u
                                                       : 1u);
        ExpectOutsideUntouched();
    }
}

TEST_P(LinkAtTargetTest, RemoveTakesTheLinkNotWhatItPointsTo) {
    fs::create_symlink(UserFile(), InDownload("patch.bin"));
    Failure failure;
    EXPECT_TRUE(m_folder.RemoveFile(L"patch.bin", &failure)) << Describe(failure);
    EXPECT_FALSE(fs::exists(fs::symlink_status(InDownload("patch.bin"))));
    ExpectOutsideUntouched();
}

TEST_P(LinkAtTargetTest, StatSeesTheLinkItself) {
    fs::create_symlink(UserFile(), InDownload("patch.bin"));
    EntryStatus status;
    ASSERT_TRUE(m_folder.Stat(L"patch.bin", status));
    EXPECT_EQ(status.kind, EntryKind::kSymbolicLink);
    EXPECT_NE(status.size, static_cast<std::int64_t>(kUserBytes.size()));
}

// --- A link, or something that is not a folder, on a sub-folder's place ---------------------

class LinkedSubFolderTest : public BelowFolderTest {
  protected:
    // Every operation on target fails as unsafe, and nothing outside changes.
    void ExpectEverythingRefused(const std::wstring& target) {
        for (const FileAccess access : kAllAccesses) {
            SCOPED_TRACE(NameOf(access));
            const Outcome outcome = Open(target, access);
            EXPECT_FALSE(outcome.opened);
            EXPECT_EQ(outcome.failure.cause, FailureClass::kUnsafePath)
                << Describe(outcome.failure);
        }
        Failure failure;
        EXPECT_FALSE(m_folder.CreateFoldersFor(target + L"/deeper/x.bin", &failure));
        EXPECT_EQ(failure.cause, FailureClass::kUnsafePath) << Describe(failure);
        failure = {};
        EXPECT_FALSE(m_folder.RemoveFile(target, &failure));
        EXPECT_EQ(failure.cause, FailureClass::kUnsafePath) << Describe(failure);
        failure = {};
        EntryStatus status;
        EXPECT_FALSE(m_folder.Stat(target, status, &failure));
        EXPECT_EQ(failure.cause, FailureClass::kUnsafePath) << Describe(failure);
    }
};
INSTANTIATE_TEST_SUITE_P(Walks, LinkedSubFolderTest, ::testing::Bool(), WalkName);

TEST_P(LinkedSubFolderTest, LinkToAFolderOutsideAtTheFirstStep) {
    // user.txt is reachable through the link under the very name the catalogue uses.
    fs::create_directory_symlink(Outside(), InDownload("data"));
    ExpectEverythingRefused(L"data/user.txt");
    ExpectEverythingRefused(L"data/new.bin");
    ExpectOutsideUntouched();
}

TEST_P(LinkedSubFolderTest, LinkToAFolderOutsideDeeperDown) {
    fs::create_directories(InDownload("a/b"));
    fs::create_directory_symlink(Outside(), InDownload("a/b/c"));
    ExpectEverythingRefused(L"a/b/c/user.txt");
    ExpectEverythingRefused(L"a/b/c/d/new.bin");
    ExpectOutsideUntouched();
}

TEST_P(LinkedSubFolderTest, LinkToAFolderInsideIsRefusedToo) {
    // No link is followed at all, not even one that stays inside: the rule is simple and
    // leaves no room for a link that is swapped between check and use.
    fs::create_directories(InDownload("real"));
    ASSERT_TRUE(m_dir.WriteFile("download/real/file.bin", "inside"));
    fs::create_directory_symlink("real", InDownload("alias"));
    ExpectEverythingRefused(L"alias/file.bin");
    EXPECT_EQ(m_dir.ReadFile("download/real/file.bin").value_or(""), "inside");
}

TEST_P(LinkedSubFolderTest, DanglingLinkOnTheWayCreatesNothing) {
    fs::create_directory_symlink(Outside() / "made", InDownload("data"));
    ExpectEverythingRefused(L"data/new.bin");
    ExpectOutsideUntouched();
}

TEST_P(LinkedSubFolderTest, FileOnASubFoldersPlace) {
    ASSERT_TRUE(m_dir.WriteFile("download/data", "a file"));
    ExpectEverythingRefused(L"data/new.bin");
    EXPECT_EQ(m_dir.ReadFile("download/data").value_or(""), "a file");
}

TEST_P(LinkedSubFolderTest, FifoOnASubFoldersPlaceDoesNotBlock) {
    ASSERT_EQ(mkfifo(InDownload("data").c_str(), 0600), 0);
    ExpectEverythingRefused(L"data/new.bin");
    EXPECT_EQ(TypeOf(InDownload("data")), fs::file_type::fifo);
}

TEST_P(LinkedSubFolderTest, MissingSubFoldersAreMadeAsRealFolders) {
    Failure failure;
    ASSERT_TRUE(m_folder.CreateFoldersFor(L"a/b/c/file.bin", &failure)) << Describe(failure);
    EXPECT_EQ(TypeOf(InDownload("a/b/c")), fs::file_type::directory);
    EXPECT_FALSE(fs::exists(InDownload("a/b/c/file.bin")));
    // Made once, found again the second time.
    EXPECT_TRUE(m_folder.CreateFoldersFor(L"a/b/c/file.bin", &failure)) << Describe(failure);
    const Outcome outcome = Open(L"a/b/c/file.bin", FileAccess::kWriteFromScratch);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    EXPECT_EQ(m_dir.ReadFile("download/a/b/c/file.bin").value_or(""), kPatchBytes);
}

TEST_P(LinkedSubFolderTest, MissingSubFolderIsNotMadeByAnOpen) {
    for (const FileAccess access : kAllAccesses) {
        SCOPED_TRACE(NameOf(access));
        const Outcome outcome = Open(L"new/file.bin", access);
        EXPECT_FALSE(outcome.opened);
        EXPECT_EQ(outcome.failure.code, ENOENT) << Describe(outcome.failure);
    }
    EXPECT_FALSE(fs::exists(InDownload("new")));
    EntryStatus status;
    status.kind = EntryKind::kOther;
    ASSERT_TRUE(m_folder.Stat(L"new/file.bin", status));
    EXPECT_EQ(status.kind, EntryKind::kMissing);
}

// --- FIFOs, sockets, devices and folders where a file belongs ------------------------------

class SpecialFileTest : public BelowFolderTest {
  protected:
    void TearDown() override {
        if (m_socket >= 0)
            close(m_socket);
        BelowFolderTest::TearDown();
    }

    // Every access fails at once and leaves the entry as it was.
    void ExpectRefusedAndKept(const std::string& name, fs::file_type type) {
        for (const FileAccess access : kAllAccesses) {
            SCOPED_TRACE(NameOf(access));
            const Outcome outcome = Bounded(
                [&] {
                    Failure failure;
                    return Use(m_folder.OpenFile(Utf8ToWide(name), access, &failure), access,
                               failure);
                },
                type == fs::file_type::fifo ? InDownload(name) : fs::path());
            EXPECT_FALSE(outcome.opened);
            if (access == FileAccess::kCreateNew || access == FileAccess::kCreateNewReadWrite) {
                EXPECT_EQ(outcome.failure.code, EEXIST) << Describe(outcome.failure);
            } else {
                EXPECT_EQ(outcome.failure.cause, FailureClass::kNotRegularFile)
                    << Describe(outcome.failure);
            }
            EXPECT_EQ(TypeOf(InDownload(name)), type);
        }
    }

    int m_socket = -1;
};
INSTANTIATE_TEST_SUITE_P(Walks, SpecialFileTest, ::testing::Bool(), WalkName);

TEST_P(SpecialFileTest, FifoIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(InDownload("patch.bin").c_str(), 0600), 0);
    ExpectRefusedAndKept("patch.bin", fs::file_type::fifo);
    // Also in a sub-folder, where the walk and the last step meet.
    fs::create_directory(InDownload("sub"));
    ASSERT_EQ(mkfifo(InDownload("sub/patch.bin").c_str(), 0600), 0);
    ExpectRefusedAndKept("sub/patch.bin", fs::file_type::fifo);
}

TEST_P(SpecialFileTest, FifoWithAWriterWaitingIsRefusedAtOnce) {
    // A writer already holds the other end: an open for reading would succeed and a read then
    // wait for data that never comes.
    ASSERT_EQ(mkfifo(InDownload("patch.bin").c_str(), 0600), 0);
    const int reader = open(InDownload("patch.bin").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int writer = open(InDownload("patch.bin").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ExpectRefusedAndKept("patch.bin", fs::file_type::fifo);
    close(writer);
    close(reader);
}

TEST_P(SpecialFileTest, SocketIsRefused) {
    m_socket = ListenAt(InDownload("patch.bin").string());
    ASSERT_GE(m_socket, 0);
    ExpectRefusedAndKept("patch.bin", fs::file_type::socket);
}

TEST_P(SpecialFileTest, DeviceIsRefused) {
    // The null device made anew inside the folder: the real /dev is never handed to a writing
    // access, even in a test.
    if (mknod(InDownload("patch.bin").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no right to make device nodes here";
    ExpectRefusedAndKept("patch.bin", fs::file_type::character);
}

TEST_P(SpecialFileTest, FolderInPlaceOfAFileIsKept) {
    ASSERT_TRUE(m_dir.WriteFile("download/patch.bin/inside.txt", "kept"));
    ExpectRefusedAndKept("patch.bin", fs::file_type::directory);
    Failure failure;
    EXPECT_FALSE(m_folder.RemoveFile(L"patch.bin", &failure));
    EXPECT_EQ(failure.cause, FailureClass::kNotRegularFile) << Describe(failure);
    EXPECT_EQ(m_dir.ReadFile("download/patch.bin/inside.txt").value_or(""), "kept");
}

TEST_P(SpecialFileTest, FifoCanBeRemovedToMakeWayForAFile) {
    // What the worker does with a file it cannot use: remove the entry, then fetch afresh.
    ASSERT_EQ(mkfifo(InDownload("patch.bin").c_str(), 0600), 0);
    Failure failure;
    ASSERT_TRUE(m_folder.RemoveFile(L"patch.bin", &failure)) << Describe(failure);
    const Outcome outcome = Open(L"patch.bin", FileAccess::kWriteFromScratch);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    EXPECT_EQ(TypeOf(InDownload("patch.bin")), fs::file_type::regular);
}

TEST_P(SpecialFileTest, StatNamesEveryKind) {
    ASSERT_TRUE(m_dir.WriteFile("download/file.bin", "12345"));
    fs::create_directory(InDownload("folder"));
    fs::create_symlink("file.bin", InDownload("link"));
    ASSERT_EQ(mkfifo(InDownload("fifo").c_str(), 0600), 0);
    const std::pair<const wchar_t*, EntryKind> cases[] = {
        {L"file.bin", EntryKind::kRegularFile}, {L"folder", EntryKind::kFolder},
        {L"link", EntryKind::kSymbolicLink},    {L"fifo", EntryKind::kOther},
        {L"none", EntryKind::kMissing},
    };
    for (const auto& [name, kind] : cases) {
        EntryStatus status;
        ASSERT_TRUE(m_folder.Stat(name, status)) << WideToUtf8(std::wstring_view(name));
        EXPECT_EQ(status.kind, kind) << WideToUtf8(std::wstring_view(name));
    }
    EntryStatus file;
    ASSERT_TRUE(m_folder.Stat(L"file.bin", file));
    EXPECT_EQ(file.size, 5);
    EXPECT_EQ(file.links, 1u);
}

// --- The accesses on ordinary files, and paths that are refused ------------------------------

class RelativePathTest : public BelowFolderTest {};
INSTANTIATE_TEST_SUITE_P(Walks, RelativePathTest, ::testing::Bool(), WalkName);

TEST_P(RelativePathTest, EachAccessDoesWhatItsNameSays) {
    ASSERT_TRUE(m_dir.WriteFile("download/sub/part.bin", "0123"));

    Outcome outcome = Open(L"sub/part.bin", FileAccess::kRead);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    EXPECT_EQ(outcome.read, "0123");

    outcome = Open(L"sub/part.bin", FileAccess::kAppend);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    EXPECT_EQ(outcome.openSize, 4);  // the resume offset, from the file that was opened
    EXPECT_EQ(m_dir.ReadFile("download/sub/part.bin").value_or(""), "0123" + kPatchBytes);

    outcome = Open(L"sub/part.bin", FileAccess::kWriteFromScratch);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    EXPECT_EQ(m_dir.ReadFile("download/sub/part.bin").value_or(""), kPatchBytes);

    outcome = Open(L"sub/part.bin", FileAccess::kCreateNew);
    EXPECT_FALSE(outcome.opened);
    EXPECT_EQ(outcome.failure.code, EEXIST);
    EXPECT_EQ(m_dir.ReadFile("download/sub/part.bin").value_or(""), kPatchBytes);

    outcome = Open(L"sub/fresh.bin", FileAccess::kCreateNew);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    outcome = Open(L"sub/appended.bin", FileAccess::kAppend);
    ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
    EXPECT_EQ(outcome.openSize, 0);
    EXPECT_EQ(m_dir.ReadFile("download/sub/appended.bin").value_or(""), kPatchBytes);

    outcome = Open(L"sub/missing.bin", FileAccess::kRead);
    EXPECT_FALSE(outcome.opened);
    EXPECT_EQ(outcome.failure.cause, FailureClass::kSystem);
    EXPECT_EQ(outcome.failure.code, ENOENT);
}

TEST_P(RelativePathTest, PathsThatCouldLeaveTheFolderAreRefusedBeforeAnyStep) {
    fs::create_directory(InDownload("a"));
    const std::wstring refused[] = {
        L"",
        L"/etc/passwd",
        L"../outside/user.txt",
        L"a/../../outside/user.txt",
        L"a/..",
        L"..",
        L"a/",
        L"./",
        L"a/./../b",
        std::wstring(L"a\0b", 3),
    };
    for (const std::wstring& relative : refused) {
        SCOPED_TRACE(WideToUtf8(std::wstring_view(relative)));
        for (const FileAccess access : kAllAccesses) {
            const Outcome outcome = Open(relative, access);
            EXPECT_FALSE(outcome.opened);
            EXPECT_EQ(outcome.failure.cause, FailureClass::kUnsafePath)
                << Describe(outcome.failure);
        }
        Failure failure;
        EXPECT_FALSE(m_folder.CreateFoldersFor(relative, &failure));
        EXPECT_EQ(failure.cause, FailureClass::kUnsafePath);
        EXPECT_FALSE(m_folder.RemoveFile(relative));
    }
    ExpectOutsideUntouched();
    EXPECT_EQ(std::distance(fs::directory_iterator(InDownload("a")), fs::directory_iterator()), 0);
}

TEST_P(RelativePathTest, EmptyAndDotStepsAreSkipped) {
    const Outcome outcome = Open(L"./x//y.bin", FileAccess::kWriteFromScratch);
    EXPECT_FALSE(outcome.opened);  // x is missing: an open never makes folders
    ASSERT_TRUE(m_folder.CreateFoldersFor(L"./x//y.bin"));
    ASSERT_TRUE(Open(L"./x//y.bin", FileAccess::kWriteFromScratch).opened);
    EXPECT_EQ(m_dir.ReadFile("download/x/y.bin").value_or(""), kPatchBytes);
}

TEST_P(RelativePathTest, OneCallFormsOpenTheFolderThemselves) {
    const std::wstring folder = Wide(Download());
    ASSERT_TRUE(platform::CreateFoldersBelow(folder, L"d/e.bin"));
    platform::UniqueFile file = platform::OpenFileBelow(folder, L"d/e.bin", FileAccess::kAppend);
    ASSERT_NE(file, nullptr);
    file.reset();
    EntryStatus status;
    ASSERT_TRUE(platform::StatBelow(folder, L"d/e.bin", status));
    EXPECT_EQ(status.kind, EntryKind::kRegularFile);
    ASSERT_TRUE(platform::RemoveFileBelow(folder, L"d/e.bin"));
    ASSERT_TRUE(platform::StatBelow(folder, L"d/e.bin", status));
    EXPECT_EQ(status.kind, EntryKind::kMissing);

    Failure failure;
    EXPECT_EQ(platform::OpenFileBelow(Wide(m_dir.PathOf("no such folder")), L"x",
                                      FileAccess::kWriteFromScratch, &failure),
              nullptr);
    EXPECT_EQ(failure.code, ENOENT);
    EXPECT_FALSE(fs::exists(m_dir.PathOf("no such folder")));
}

TEST_P(RelativePathTest, ClosedFolderFailsSoundly) {
    const platform::TrustedFolder closed;
    Failure failure;
    EXPECT_EQ(closed.OpenFile(L"x", FileAccess::kWriteFromScratch, &failure), nullptr);
    EXPECT_EQ(failure.code, EBADF);
    EXPECT_FALSE(closed.CreateFoldersFor(L"a/x"));
    EXPECT_FALSE(closed.RemoveFile(L"x"));
    EntryStatus status;
    EXPECT_FALSE(closed.Stat(L"x", status));
}

// The folders on the way need the right to pass through, as with any path, not the right to
// list them. Where this process's rights ignore permission bits, a child gives them up.
TEST_P(RelativePathTest, FolderThatCannotBeListedCanStillBeWrittenIn) {
    fs::create_directories(InDownload("hidden/inner"));
    const auto passOnly = fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_write |
                          fs::perms::group_exec | fs::perms::others_write | fs::perms::others_exec;
    fs::permissions(InDownload("hidden"), passOnly);
    fs::permissions(InDownload("hidden/inner"), passOnly);
    const std::wstring folder = Wide(InDownload("hidden"));
    const int status = RunInChild([&] {
        constexpr uid_t kNobody = 65534;
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            return 100;
        platform::TrustedFolder root;
        Failure failure;
        if (!root.Open(folder, &failure))
            return 1;
        return root.OpenFile(L"inner/new.bin", FileAccess::kCreateNew, &failure) == nullptr ? 2 : 0;
    });
    if (status == 100)
        GTEST_SKIP() << "cannot give up rights here";
    EXPECT_EQ(status, 0);
    fs::permissions(InDownload("hidden"), fs::perms::owner_all);
    fs::permissions(InDownload("hidden/inner"), fs::perms::owner_all);
    EXPECT_TRUE(fs::exists(InDownload("hidden/inner/new.bin")));
}

// --- Plain paths: regular files only, never blocking ----------------------------------------

class RegularFileOnlyTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.IsValid()); }
    void TearDown() override {
        if (m_socket >= 0)
            close(m_socket);
    }

    Outcome Read(const fs::path& path) {
        return Bounded(
            [&] {
                Failure failure;
                platform::UniqueFile file =
                    platform::OpenRegularFileForReading(Wide(path), &failure);
                return Use(std::move(file), FileAccess::kRead, failure);
            },
            fs::symlink_status(path).type() == fs::file_type::fifo ? path : fs::path());
    }

    // Not there for reading, for existence and for size, at once.
    void ExpectNotARegularFile(const fs::path& path) {
        SCOPED_TRACE(path.string());
        const Outcome outcome = Read(path);
        EXPECT_FALSE(outcome.opened);
        EXPECT_EQ(outcome.failure.cause, FailureClass::kNotRegularFile)
            << Describe(outcome.failure);
        EXPECT_FALSE(platform::RegularFileExists(Wide(path)));
        std::int64_t size = -1;
        EXPECT_FALSE(platform::GetRegularFileSize(Wide(path), size));
        EXPECT_EQ(size, -1);
    }

    TempDir m_dir;
    int m_socket = -1;
};

TEST_F(RegularFileOnlyTest, RegularFileAndLinkToOneAreRead) {
    ASSERT_TRUE(m_dir.WriteFile("velmora2.exe", "MZ game"));
    // The game folder is the player's own: a link there is theirs to make.
    fs::create_symlink(m_dir.PathOf("velmora2.exe"), m_dir.PathOf("linked.exe"));
    for (const char* name : {"velmora2.exe", "linked.exe"}) {
        SCOPED_TRACE(name);
        const Outcome outcome = Read(m_dir.PathOf(name));
        ASSERT_TRUE(outcome.opened) << Describe(outcome.failure);
        EXPECT_EQ(outcome.read, "MZ game");
        EXPECT_TRUE(platform::RegularFileExists(m_dir.WidePathOf(name)));
        std::int64_t size = 0;
        EXPECT_TRUE(platform::GetRegularFileSize(m_dir.WidePathOf(name), size));
        EXPECT_EQ(size, 7);
    }
}

TEST_F(RegularFileOnlyTest, FifoIsNotThereAtOnce) {
    ASSERT_EQ(mkfifo(m_dir.PathOf("velmora2.exe").c_str(), 0600), 0);
    ExpectNotARegularFile(m_dir.PathOf("velmora2.exe"));
    // A link to the FIFO is the FIFO.
    fs::create_symlink(m_dir.PathOf("velmora2.exe"), m_dir.PathOf("linked.exe"));
    ExpectNotARegularFile(m_dir.PathOf("linked.exe"));
    // The old existence test still means "any kind of entry"; callers that read switch.
    EXPECT_TRUE(platform::FileExists(m_dir.WidePathOf("velmora2.exe")));
}

TEST_F(RegularFileOnlyTest, SocketDeviceAndFolderAreNotThere) {
    m_socket = ListenAt(m_dir.NarrowPathOf("Registry.xml"));
    ASSERT_GE(m_socket, 0);
    ExpectNotARegularFile(m_dir.PathOf("Registry.xml"));

    // Reading is all this does, so the system's own null device is safe to try.
    ExpectNotARegularFile("/dev/null");

    fs::create_directory(m_dir.PathOf("bin"));
    ExpectNotARegularFile(m_dir.PathOf("bin"));
}

TEST_F(RegularFileOnlyTest, MissingFileKeepsItsCause) {
    const Outcome outcome = Read(m_dir.PathOf("none"));
    EXPECT_FALSE(outcome.opened);
    EXPECT_EQ(outcome.failure.cause, FailureClass::kSystem);
    EXPECT_EQ(outcome.failure.code, ENOENT);
    EXPECT_FALSE(platform::RegularFileExists(L""));
    EXPECT_EQ(platform::OpenRegularFileForReading(L""), nullptr);
}

// --- Names that are not UTF-8 ---------------------------------------------------------------

// A Latin-1 folder name, made with its raw bytes, reaches the file system unchanged through
// the wide text.
class Latin1FolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.IsValid());
        m_folderBytes = m_dir.NarrowPath() + "/Jeux \xE9t\xE9";
        ASSERT_EQ(mkdir(m_folderBytes.c_str(), 0755), 0);
        m_folder = Utf8ToWide(std::string_view(m_folderBytes));
    }

    TempDir m_dir;
    std::string m_folderBytes;
    std::wstring m_folder;
};

TEST_F(Latin1FolderTest, BelowFolderCallsReachTheRawBytes) {
    const std::wstring name =
        Utf8ToWide(std::string_view("Gr\xF6\xDF"
                                    "e/caf\xE9.bin"));
    Failure failure;
    ASSERT_TRUE(platform::CreateFoldersBelow(m_folder, name, &failure)) << Describe(failure);
    platform::UniqueFile file =
        platform::OpenFileBelow(m_folder, name, FileAccess::kWriteFromScratch, &failure);
    ASSERT_NE(file, nullptr) << Describe(failure);
    std::fputs("latin", file.get());
    ASSERT_TRUE(platform::CloseFile(file));

    const std::string raw = m_folderBytes +
                            "/Gr\xF6\xDF"
                            "e/caf\xE9.bin";
    struct stat st {};
    ASSERT_EQ(stat(raw.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5);
    file = platform::OpenFileBelow(m_folder, name, FileAccess::kRead, &failure);
    ASSERT_NE(file, nullptr) << Describe(failure);
}

TEST_F(Latin1FolderTest, PlainPathCallsReachTheRawBytes) {
    const std::string raw = m_folderBytes + "/velmora2.exe";
    {
        std::FILE* made = std::fopen(raw.c_str(), "wb");
        ASSERT_NE(made, nullptr);
        std::fputs("MZ", made);
        std::fclose(made);
    }
    const std::wstring path = m_folder + L"/velmora2.exe";
    EXPECT_TRUE(platform::FileExists(path));
    EXPECT_TRUE(platform::IsDirectory(m_folder));
    EXPECT_TRUE(platform::RegularFileExists(path));
    EXPECT_TRUE(platform::IsPeImage(path));
    EXPECT_NE(platform::OpenRegularFileForReading(path), nullptr);
    EXPECT_NE(platform::OpenFile(path, "rb"), nullptr);
    std::int64_t size = 0;
    EXPECT_TRUE(platform::GetFileSize(path, size));
    EXPECT_EQ(size, 2);
    const std::wstring nested = m_folder + Utf8ToWide(std::string_view("/\xC0/\xFF"));
    ASSERT_TRUE(platform::CreateFolders(nested));
    EXPECT_EQ(access((m_folderBytes + "/\xC0/\xFF").c_str(), F_OK), 0);
    // Where a person reads the name, the bytes show as replacement characters.
    EXPECT_EQ(ForDisplay(m_folder).substr(m_folder.size() - 8), L"Jeux \uFFFDt\uFFFD");
}

// --- Finding out at run time that the kernel has no one-call walk -------------------------

// In a child process whose system calls are filtered so that openat2 answers as a kernel or a
// sandbox without it would, the walk falls back by hand and still refuses every link.
class KernelWalkFallbackTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.IsValid()); }

    // Exit status of a child that forbids openat2 with error, then runs body.
    int RunWithoutOpenat2(int error, const std::function<bool()>& body) {
        return RunInChild([&] {
            sock_filter filter[] = {
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
                BPF_STMT(BPF_RET | BPF_K,
                         SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & SECCOMP_RET_DATA)),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            };
            sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
            if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
                return 2;
            platform::AllowKernelBeneathWalk(true);
            return body() ? 0 : 1;
        });
    }

    TempDir m_dir;
};

TEST_F(KernelWalkFallbackTest, MissingOrForbiddenCallFallsBackAndStillRefusesLinks) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the filter is written for x86-64";
#endif
    fs::create_directories(m_dir.PathOf("download/real"));
    fs::create_directory(m_dir.PathOf("outside"));
    fs::create_directory_symlink(m_dir.PathOf("outside"), m_dir.PathOf("download/linked"));
    const std::wstring folder = m_dir.WidePathOf("download");
    const auto body = [&] {
        platform::TrustedFolder root;
        if (!root.Open(folder) || !platform::KernelBeneathWalkInUse())
            return false;
        Failure failure;
        const bool refused =
            root.OpenFile(L"linked/x.bin", FileAccess::kWriteFromScratch, &failure) == nullptr &&
            failure.cause == FailureClass::kUnsafePath;
        const bool written = root.OpenFile(L"real/x.bin", FileAccess::kWriteFromScratch) != nullptr;
        // The filter answered the first walk: the kernel's walk is off from then on.
        return refused && written && !platform::KernelBeneathWalkInUse();
    };
    for (const int error : {ENOSYS, EPERM}) {
        SCOPED_TRACE(error);
        const int status = RunWithoutOpenat2(error, body);
        if (status == 2)
            GTEST_SKIP() << "system calls cannot be filtered here";
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(fs::exists(m_dir.PathOf("download/real/x.bin")));
        EXPECT_FALSE(fs::exists(m_dir.PathOf("outside/x.bin")));
        fs::remove(m_dir.PathOf("download/real/x.bin"));
    }
}

}  // namespace
