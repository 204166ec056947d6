// The download worker against a real HTTP server on loopback and real files in a temporary
// folder: what it keeps, resumes and fetches, what it tells the page, and how it stops.

#include "transfer/download_worker.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "catalogue/patch_info.h"
#include "platform/file_identity.h"
#include "platform/window_messages.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/digest_cache.h"
#include "transfer/md5.h"
#include "transfer/range_fetch.h"
#include "transfer/retry_backoff.h"
#include "transfer/sha256.h"

#if defined(__SANITIZE_THREAD__)
#define VELMORA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMORA_TSAN 1
#endif
#endif

namespace {

using namespace std::chrono_literals;

#ifdef VELMORA_TSAN
constexpr bool kUnderThreadSanitizer = true;
#else
constexpr bool kUnderThreadSanitizer = false;
#endif

using platform::WindowMessage;
using platform::WindowMessageQueue;
using Clock = std::chrono::steady_clock;

const std::wstring kDownloadingPatch = L"Downloading Patch";
const std::wstring kVerifying = L"Verifying download integrity ..";

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::wstring Md5Of(const std::string& bytes) {
    return Utf8ToWide(CMD5Wrapper().hashOfText(bytes));
}

// Bytes this process has read through system calls so far (Linux), or nothing.
std::optional<std::uint64_t> BytesReadByProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return std::nullopt;
}

// Plays the page: drains the queue on its own thread and records every message.
class Receiver {
  public:
    explicit Receiver(std::shared_ptr<WindowMessageQueue> queue) : m_queue(std::move(queue)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~Receiver() { Stop(); }

    // Called on the receiver's thread for each message, after it was recorded.
    void OnMessage(std::function<void(const WindowMessage&)> hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = std::move(hook);
    }
    // Stops draining; what is still queued is taken on the caller's thread.
    void Stop() {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        m_queue->Dispatch([this](const WindowMessage& m) { Record(m); });
    }
    std::vector<WindowMessage> Messages() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    // Blocks until predicate holds for the messages seen so far (or a minute has passed).
    bool WaitFor(const std::function<bool(const std::vector<WindowMessage>&)>& predicate) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::minutes(1),
                                  [&] { return predicate(m_messages); });
    }

  private:
    void Run() {
        while (!m_stop) {
            m_queue->WaitForMessage(10);
            m_queue->Dispatch([this](const WindowMessage& m) { Record(m); });
        }
    }
    void Record(const WindowMessage& message) {
        std::function<void(const WindowMessage&)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(message);
            hook = m_hook;
        }
        m_changed.notify_all();
        if (hook)
            hook(message);
    }

    std::shared_ptr<WindowMessageQueue> m_queue;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<WindowMessage> m_messages;
    std::function<void(const WindowMessage&)> m_hook;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Expected {
    std::uint32_t id;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::wstring text;
};

std::vector<WindowMessage> SentOnly(const std::vector<WindowMessage>& messages) {
    std::vector<WindowMessage> sent;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(sent),
                 [](const WindowMessage& m) { return m.sent; });
    return sent;
}

std::vector<WindowMessage> Posted(const std::vector<WindowMessage>& messages, std::uint32_t id) {
    std::vector<WindowMessage> posted;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(posted),
                 [id](const WindowMessage& m) { return !m.sent && m.id == id; });
    return posted;
}

bool Has(const std::vector<WindowMessage>& messages, std::uint32_t id) {
    return std::any_of(messages.begin(), messages.end(),
                       [id](const WindowMessage& m) { return m.id == id; });
}

void ExpectSequence(const std::vector<WindowMessage>& actual,
                    const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i));
        EXPECT_EQ(actual[i].id, expected[i].id);
        EXPECT_EQ(actual[i].wParam, expected[i].wParam);
        EXPECT_EQ(actual[i].lParam, expected[i].lParam);
        EXPECT_EQ(actual[i].text, expected[i].text);
    }
}

// The sent messages of a worker that ran to its end with the given verdict.
std::vector<Expected> FullRun(int verdict) {
    return {{WM_DL_STARTED, 0, 0, L""},
            {WM_DL_SETTEXT, 0, 1, kDownloadingPatch},
            {WM_DL_SETRANGE, 0, 100, L""},
            {WM_DL_SETPOS, 100, 0, L""},
            {WM_DL_SETTEXT, 0, 1, kVerifying},
            {WM_DL_SETTEXT, 0, 1, L""},
            {WM_DL_FINISHED, static_cast<std::uintptr_t>(verdict), 0, L""}};
}

// The sent messages of a worker whose file ran out of retries: the job ends unverified.
std::vector<Expected> EndedRun() {
    return {{WM_DL_STARTED, 0, 0, L""},
            {WM_DL_SETTEXT, 0, 1, kDownloadingPatch},
            {WM_DL_SETRANGE, 0, 100, L""},
            {WM_DL_SETTEXT, 0, 1, L""},
            {WM_DL_FINISHED, 0, 0, L""}};
}

class DownloadWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.IsRunning());
        ASSERT_TRUE(m_dir.IsValid());
        LanguageIndex = 0;
    }

    DownloadEntry& AddEntry(const std::string& target, const std::string& serverPath,
                            const std::string& content, std::int64_t size = -1) {
        auto entry = std::make_unique<DownloadEntry>();
        entry->target = Utf8ToWide(target);
        entry->url = m_server.WideUrl(serverPath);
        entry->md5 = Md5Of(content);
        entry->size = size < 0 ? static_cast<std::int64_t>(content.size()) : size;
        m_patch.download_list.push_back(std::move(entry));
        return *m_patch.download_list.back();
    }

    // Runs one worker to its end on this thread, with a receiver draining the queue.
    std::vector<WindowMessage> RunWorker(const PatchEntry* patch) {
        return RunWorkerIn(patch, m_dir.WidePath());
    }
    std::vector<WindowMessage> RunWorkerIn(const PatchEntry* patch, const std::wstring& folder) {
        auto queue = std::make_shared<WindowMessageQueue>();
        Receiver receiver(queue);
        if (m_onMessage)
            receiver.OnMessage(m_onMessage);
        const auto data = MakeDownloadThreadData(patch, folder, queue, m_cachePath, m_gameFolder);
        data->backoff = m_backoff;
        data->backoffSeed = kSeed;
        data->localSource = m_localSource;
        data->rangedMinimum = m_rangedMinimum;
        m_data = data;
        EXPECT_EQ(DownloadWorker(data), 0);
        receiver.Stop();
        m_bytesFetched = data->bytesFetched;
        m_failure = data->LastFailure();
        m_fetchReads = data->fetchReads;
        m_verifyReads = data->verifyReads;
        m_deltas = data->Deltas();
        return receiver.Messages();
    }

    // Nothing of the launcher's own work (deltas, records of ranges) is left in the folder.
    void ExpectNoReservedFiles() {
        for (const auto& item : std::filesystem::directory_iterator(m_dir.Path()))
            EXPECT_NE(item.path().filename().string().rfind(".velmora-delta-", 0), 0u)
                << item.path();
    }

    // The cause the last run recorded names the entry it concerns.
    void ExpectFailure(FailureClass cause, int code, const std::wstring& target) {
        EXPECT_EQ(m_failure.cause, cause) << DescribeFailure(m_failure);
        EXPECT_EQ(m_failure.code, code) << DescribeFailure(m_failure);
        EXPECT_EQ(m_failure.subject, target) << DescribeFailure(m_failure);
    }

    LoopbackServer m_server;
    TempDir m_dir;
    PatchEntry m_patch;
    Failure m_failure;
    // The digest cache file the worker is given (empty: none), a hook on the messages the
    // page handles, and the files the last run read for their digests, by phase.
    std::wstring m_cachePath;
    std::wstring m_localSource;
    std::function<void(const WindowMessage&)> m_onMessage;
    std::vector<std::wstring> m_fetchReads;
    std::vector<std::wstring> m_verifyReads;
    // Where the bases of deltas are looked for, and what deltas did in the last run.
    std::wstring m_gameFolder;
    DeltaTally m_deltas;
    // The rest of a file that comes in ranges, the running worker's record (for a hook that
    // stops it) and the bytes the last run's transfers added.
    std::int64_t m_rangedMinimum = kRangedMinimumBytes;
    std::shared_ptr<DownloadThreadData> m_data;
    std::int64_t m_bytesFetched = 0;
    // The worker's pauses before a retry, in milliseconds here rather than seconds, drawn from
    // a fixed seed: file n of a run gets kSeed + n.
    static constexpr std::uint64_t kSeed = 20261209;
    BackoffSettings m_backoff{2ms, 8ms, 40ms, 15ms, 30ms};
    // The retry lines the worker must post for a file with seed kSeed + file after the given
    // failures (the last Retry-After each, -1 for none), by the same schedule; at most count.
    std::vector<std::wstring> ExpectedRetryLines(const std::wstring& target, std::uint64_t file,
                                                 RetryKind kind, long retryAfter,
                                                 std::size_t count = 1000) {
        RetryBackoff backoff(m_backoff, kSeed + file);
        std::vector<std::wstring> lines;
        // Each pause counts down a second at a time: "in 2 s", then "in 1 s".
        for (std::size_t attempt = 1; attempt <= count; ++attempt) {
            const auto pause = backoff.NextPause(kind, retryAfter);
            if (!pause)
                break;
            long long seconds = (pause->count() + 999) / 1000;
            do {
                lines.push_back(L"Retrying " + target + L" in " + std::to_wstring(seconds) +
                                L" s (attempt " + std::to_wstring(attempt) + L").");
            } while (--seconds > 0);
        }
        return lines;
    }
};

// --- Keep, resume, fetch ---------------------------------------------------------------------

TEST_F(DownloadWorkerTest, CompleteFilesAreKeptWithoutAnyRequest) {
    const std::string a = Pattern(3000, 1), b = Pattern(70000, 2);
    AddEntry("a.bin", "/a", a);
    AddEntry("b.bin", "/b", b);
    m_server.ServeBytes("/a", a);
    m_server.ServeBytes("/b", b);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", a));
    ASSERT_TRUE(m_dir.WriteFile("b.bin", b));

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_FALSE(m_failure.IsFailure()) << DescribeFailure(m_failure);
}

// A copy of the server's folder on a stick: what it holds rightly is copied and not read again,
// and only the wrong, missing or linked files are fetched.
TEST_F(DownloadWorkerTest, FilesFromTheLocalFolderAreCopiedAndOnlyTheRestFetched) {
    TempDir stick;
    const std::string good = Pattern(3000, 1), wrong = Pattern(3000, 2), linked = Pattern(90, 3);
    for (const auto& [name, bytes] :
         {std::pair{"a", good}, {"b", wrong}, {"c", good}, {"d", linked}}) {
        AddEntry(std::string(name) + ".bin", std::string("/v2/files/") + name + ".bin", bytes);
        m_server.ServeBytes(std::string("/v2/files/") + name + ".bin", bytes);
    }
    ASSERT_TRUE(stick.WriteFile("files/a.bin", good));
    ASSERT_TRUE(stick.WriteFile("b.bin", Pattern(3000, 4)));
    ASSERT_TRUE(stick.WriteFile("elsewhere.bin", linked));
    std::filesystem::create_symlink(stick.PathOf("elsewhere.bin"), stick.PathOf("d.bin"));
    m_localSource = stick.WidePath() + L"/";

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    // The copy shows its progress like a transfer.
    EXPECT_EQ(Posted(messages, WM_DL_SETTEXT).at(0).wParam, 1u);
    EXPECT_EQ(m_server.Requests().size(), 3u);
    EXPECT_TRUE(m_server.RequestsFor("/v2/files/a.bin").empty());
    EXPECT_TRUE(m_verifyReads.empty());
    EXPECT_EQ(m_dir.ReadFile("a.bin"), good);
    EXPECT_EQ(m_dir.ReadFile("b.bin"), wrong);
}

TEST_F(DownloadWorkerTest, AnEmptyListSendsExactlyThePhaseMessages) {
    const auto messages = RunWorker(&m_patch);
    // Everything is sent (the worker waits for each), nothing is posted.
    EXPECT_EQ(SentOnly(messages).size(), messages.size());
    ExpectSequence(messages, FullRun(1));
}

TEST_F(DownloadWorkerTest, WithoutAPatchTheWorkerFailsRightAfterTheStartMessages) {
    const auto messages = RunWorker(nullptr);
    EXPECT_EQ(SentOnly(messages).size(), messages.size());
    ExpectSequence(messages, {{WM_DL_STARTED, 0, 0, L""},
                              {WM_DL_SETTEXT, 0, 1, kDownloadingPatch},
                              {WM_DL_SETRANGE, 0, 100, L""},
                              {WM_DL_FINISHED, 0, 0, L""}});
}

TEST_F(DownloadWorkerTest, MissingFilesAreFetchedAndTheProgressIsPosted) {
    const std::string a = Pattern(200000, 3);
    AddEntry("a.bin", "/a", a);
    m_server.ServeBytes("/a", a);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), a);
    // Digested while it arrived: neither looked at before nor read for the verification.
    EXPECT_TRUE(m_fetchReads.empty());
    EXPECT_TRUE(m_verifyReads.empty());
    const auto lines = Posted(messages, WM_DL_SETTEXT);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) {
        EXPECT_EQ(line.lParam, 0);
        EXPECT_EQ(line.text.rfind(L"Downloading a.bin ", 0), 0u) << WideToUtf8(line.text);
    }
    const auto positions = Posted(messages, WM_DL_SETPOS);
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back().wParam, 100u);
}

TEST_F(DownloadWorkerTest, AShortFileIsResumedInAppendMode) {
    const std::string full = Pattern(1000, 4);
    AddEntry("a.bin", "/a", full);
    // Slow enough for the transfer to be seen before its end.
    BodyOptions slow;
    slow.bytesPerSecond = 2000;
    m_server.ServeBytes("/a", full, slow);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", full.substr(0, 400)));

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full);
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=400-");
    // The 400 bytes were read once, before the resume; the whole file never.
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_TRUE(m_verifyReads.empty());
    // Counted from the 400 bytes on disk: the first position is 40 or a little more.
    const auto positions = Posted(messages, WM_DL_SETPOS);
    ASSERT_GE(positions.size(), 2u);
    EXPECT_GE(positions.front().wParam, 40u);
    EXPECT_LT(positions.front().wParam, 100u);
    EXPECT_EQ(positions.back().wParam, 100u);
}

TEST_F(DownloadWorkerTest, AResumedFileIsShownAgainstItsWholeSize) {
    const std::string full = Pattern(10 * 1024 * 1024, 5);
    AddEntry("big.bin", "/big", full);
    BodyOptions slow;
    slow.bytesPerSecond = 24 * 1024 * 1024;
    m_server.ServeBytes("/big", full, slow);
    ASSERT_TRUE(m_dir.WriteFile("big.bin", full.substr(0, 4 * 1024 * 1024)));

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    const auto lines = Posted(messages, WM_DL_SETTEXT);
    ASSERT_FALSE(lines.empty());
    const std::wstring& first = lines.front().text;
    EXPECT_NE(first.find(L" MB / 10.00 MB ("), std::wstring::npos) << WideToUtf8(first);
    const double shownDone = std::stod(WideToUtf8(first.substr(first.find(L"big.bin ") + 8)));
    EXPECT_GE(shownDone, 4.0);
    const auto positions = Posted(messages, WM_DL_SETPOS);
    ASSERT_FALSE(positions.empty());
    EXPECT_GE(positions.front().wParam, 40u);
    EXPECT_EQ(m_server.RequestsFor("/big").at(0).range, "bytes=4194304-");
}

TEST_F(DownloadWorkerTest, AFileAtOrOverItsSizeWithAWrongDigestIsFetchedFromZero) {
    const std::string a = Pattern(1000, 6), b = Pattern(1000, 7);
    AddEntry("exact.bin", "/exact", a);
    AddEntry("long.bin", "/long", b);
    m_server.ServeBytes("/exact", a);
    m_server.ServeBytes("/long", b);
    ASSERT_TRUE(m_dir.WriteFile("exact.bin", Pattern(1000, 99)));
    ASSERT_TRUE(m_dir.WriteFile("long.bin", Pattern(1500, 98)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("exact.bin"), a);
    EXPECT_EQ(m_dir.ReadFile("long.bin"), b);
    for (const auto& request : m_server.Requests())
        EXPECT_EQ(request.range, "") << request.path;
    EXPECT_EQ(m_server.Requests().size(), 2u);
}

TEST_F(DownloadWorkerTest, WithoutACatalogueSizeAWrongFileIsStartedOver) {
    const std::string a = Pattern(5000, 8);
    AddEntry("a.bin", "/a", a, 0);
    m_server.ServeBytes("/a", a);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", a.substr(0, 100)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), a);
    EXPECT_EQ(m_server.RequestsFor("/a").at(0).range, "");
}

// --- Resumes that fail ------------------------------------------------------------------------

TEST_F(DownloadWorkerTest, AFailedResumeFallsBackOnceAndAFallbackOutOfRetriesEndsTheJob) {
    const std::string full = Pattern(10000, 9);
    AddEntry("a.bin", "/a", full);
    AddEntry("b.bin", "/b", Pattern(100, 10));
    // No byte ranges, and the connection drops after 3000 bytes, every time.
    m_server.ServeCut("/a", full.substr(0, 3000), full.size());
    m_server.ServeBytes("/b", Pattern(100, 10));
    ASSERT_TRUE(m_dir.WriteFile("a.bin", full.substr(0, 400)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), EndedRun());
    // The fall-back's cause, not the resume's: the connection it lost.
    ExpectFailure(FailureClass::kNetwork, CURLE_PARTIAL_FILE, L"a.bin");
    // The refused resume starts the file over; each lost connection is tried again from what
    // is on disk, which this server refuses in turn, until the budget is spent.
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests.size() % 2, 0u);
    for (std::size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].range, i == 0 ? "bytes=400-" : (i % 2 ? "" : "bytes=3000-")) << i;
    // The next entry is not worth fetching.
    EXPECT_TRUE(m_server.RequestsFor("/b").empty());
    // What is on disk came from the start of the body, never behind the old 400 bytes.
    const auto onDisk = m_dir.ReadFile("a.bin");
    ASSERT_TRUE(onDisk.has_value());
    EXPECT_LE(onDisk->size(), 3000u);
    EXPECT_EQ(*onDisk, full.substr(0, onDisk->size()));

    // The server is mended: the next run resumes what the fallback left and verifies.
    m_server.ServeBytes("/a", full);
    m_server.ClearRequests();
    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full);
    EXPECT_FALSE(m_failure.IsFailure()) << DescribeFailure(m_failure);
}

// The catalogue's address fails in one way or another; behind a dead mirror (500s, retried) the
// last one brings the file, going on from what the failed sources left (from nothing after bad
// bytes).
struct FailoverCase {
    int fault;                // 0: refused, -1: cut after 3000 bytes, 200: wrong bytes, else status
    std::string mirrorRange;  // the Range the last source is asked for
    bool retried;             // the catalogue's address was asked again first
};

class MirrorFailoverTest : public DownloadWorkerTest,
                           public ::testing::WithParamInterface<FailoverCase> {};

TEST_P(MirrorFailoverTest, TheNextSourceBringsTheFile) {
    const std::string full = Pattern(9000, 21);
    const int fault = GetParam().fault;
    DownloadEntry& entry = AddEntry("a.bin", "/main/a", full);
    if (fault == 0)
        entry.url = L"http://127.0.0.1:1/main/a";
    else if (fault < 0)
        m_server.ServeCut("/main/a", full.substr(0, 3000), full.size());
    else if (fault == 200)
        m_server.ServeBytes("/main/a", Pattern(9000, 22));
    else
        m_server.ServeStatus("/main/a", fault, "no");
    entry.mirrors = {m_server.WideUrl("/dead/a"), m_server.WideUrl("/mirror/a")};
    m_server.ServeStatus("/dead/a", 500, "down");
    m_server.ServeBytes("/mirror/a", full);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full);
    const auto mirror = m_server.RequestsFor("/mirror/a");
    ASSERT_EQ(mirror.size(), 1u);
    EXPECT_EQ(mirror[0].range, GetParam().mirrorRange);
    EXPECT_EQ(m_server.RequestsFor("/main/a").size() > 1, GetParam().retried);
    // Every pause is announced: the refused address is left without one, each 500 gets its own.
    const auto lines = Posted(messages, WM_DL_SETTEXT);
    const auto retries = std::count_if(lines.begin(), lines.end(), [](const WindowMessage& m) {
        return m.text.rfind(L"Retrying", 0) == 0;
    });
    if (fault == 0) {
        EXPECT_EQ(retries, static_cast<long>(m_server.RequestsFor("/dead/a").size()) - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, MirrorFailoverTest,
                         ::testing::Values(FailoverCase{0, "", false}, FailoverCase{404, "", false},
                                           FailoverCase{503, "", true},
                                           FailoverCase{-1, "bytes=3000-", true},
                                           FailoverCase{200, "", false}));

// A server that ignores the range (its whole body would land behind the part) or refuses it
// with a 416 (the transfer ends "successfully" with nothing written, and taken at its word the
// file would fail the verification on every retry): the file is started over in the same run.
struct RangeModeCase {
    const char* name;
    RangeMode mode;
    unsigned seed;
};

class WorkerRangeModeTest : public DownloadWorkerTest,
                            public ::testing::WithParamInterface<RangeModeCase> {};

TEST_P(WorkerRangeModeTest, AResumeTheServerDoesNotHonourIsStartedOver) {
    const std::string full = Pattern(20000, GetParam().seed);
    AddEntry("a.bin", "/a", full);
    BodyOptions options;
    options.ranges = GetParam().mode;
    m_server.ServeBytes("/a", full, options);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", full.substr(0, 5000)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full);
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=5000-");
    EXPECT_EQ(requests[1].range, "");
    // The resume that failed was only a step on the way, not a failure of the entry.
    EXPECT_FALSE(m_failure.IsFailure()) << DescribeFailure(m_failure);
}

INSTANTIATE_TEST_SUITE_P(Servers, WorkerRangeModeTest,
                         ::testing::Values(RangeModeCase{"IgnoresRanges", RangeMode::kIgnore, 11},
                                           RangeModeCase{"RefusesRanges", RangeMode::kRefuse, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Several connections ---------------------------------------------------------------------

constexpr std::int64_t kRangedBody = 1024 * 1024;

class RangedFetchTest : public DownloadWorkerTest {
  protected:
    void SetUp() override {
        DownloadWorkerTest::SetUp();
        m_rangedMinimum = 256 * 1024;
    }
    // Every request for path asked for a closed range; their bytes, in all.
    static std::int64_t AskedBytes(const std::vector<LoggedRequest>& requests) {
        std::int64_t bytes = 0;
        for (const LoggedRequest& request : requests) {
            long long first = 0;
            long long last = 0;
            EXPECT_EQ(std::sscanf(request.range.c_str(), "bytes=%lld-%lld", &first, &last), 2)
                << request.range;
            bytes += last - first + 1;
        }
        return bytes;
    }
};

TEST_F(RangedFetchTest, ALargeFileComesOverSeveralConnectionsAndIsNotReadBack) {
    const std::string full = Pattern(kRangedBody, 31);
    AddEntry("big.bin", "/big", full);
    BodyOptions paced;
    paced.bytesPerSecond = 512 * 1024;
    m_server.ServeBytes("/big", full, paced);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("big.bin"), full);
    // A connection the client has left may still be counted by the server a moment longer.
    EXPECT_GE(m_server.PeakBodiesAtOnce(), static_cast<int>(kMaxConnections));
    const auto requests = m_server.RequestsFor("/big");
    EXPECT_GE(requests.size(), kMaxConnections);
    // A range handed on to an idle connection was asked for twice, nothing else.
    EXPECT_GE(AskedBytes(requests), kRangedBody);
    EXPECT_EQ(m_bytesFetched, kRangedBody);
    EXPECT_TRUE(m_fetchReads.empty());
    EXPECT_TRUE(m_verifyReads.empty());
    ExpectNoReservedFiles();
}

// What a crash or a stop leaves: bytes at both ends, a hole of zeros between, the file at its
// listed size. Its record says which bytes count; one for another file, or one that is not a
// record this program wrote (cut, spans out of order, past the file), counts for nothing.
struct RecordCase {
    const char* name;
    int kind;  // 0: fits, 1: another file's, 2: cut, 3: spans overlapping, 4: a span past the end
    std::int64_t fetched;
};

class RangeRecordTest : public RangedFetchTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RangeRecordTest, TheGapsAloneAreFetchedWhenTheRecordFits) {
    const std::string full = Pattern(kRangedBody, 32);
    const DownloadEntry& entry = AddEntry("big.bin", "/big", full);
    m_server.ServeBytes("/big", full);
    const std::int64_t quarter = kRangedBody / 4;
    std::string holed = full;
    std::fill(holed.begin() + quarter, holed.end() - quarter, '\0');
    ASSERT_TRUE(m_dir.WriteFile("big.bin", holed));
    ByteSpans spans;
    spans.Add(0, quarter);
    spans.Add(kRangedBody - quarter, kRangedBody);
    const int kind = GetParam().kind;
    std::string record = FormatRangeRecord(spans, entry.size, kind == 1 ? Md5Of("other") : entry.md5);
    const std::string head = record.substr(0, record.find('\n', record.find('\n') + 1) + 1);
    if (kind == 2)
        record.resize(record.size() - 3);
    if (kind == 3)
        record = head + "0 600000\n500000 " + std::to_string(kRangedBody) + "\n";
    if (kind == 4)
        record = head + "0 " + std::to_string(kRangedBody + 1) + "\n";
    ASSERT_TRUE(m_dir.WriteFile(WideToUtf8(RangeRecordName(L"big.bin")), record));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("big.bin"), full);
    EXPECT_EQ(m_bytesFetched, GetParam().fetched);
    ExpectNoReservedFiles();
}

INSTANTIATE_TEST_SUITE_P(
    Records, RangeRecordTest,
    ::testing::Values(RecordCase{"Fits", 0, kRangedBody / 2},
                      RecordCase{"OfAnotherFile", 1, kRangedBody}, RecordCase{"Cut", 2, kRangedBody},
                      RecordCase{"Overlapping", 3, kRangedBody},
                      RecordCase{"PastTheEnd", 4, kRangedBody}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RangedFetchTest, AStopLeavesARecordTheNextRunTakesUp) {
    const std::string full = Pattern(kRangedBody, 33);
    AddEntry("big.bin", "/big", full);
    BodyOptions paced;
    paced.bytesPerSecond = 512 * 1024;
    m_server.ServeBytes("/big", full, paced);
    m_onMessage = [this](const WindowMessage& m) {
        if (m.id == WM_DL_SETPOS && m.wParam >= 20)
            RequestStop(*m_data);
    };
    RunWorker(&m_patch);
    const std::int64_t first = m_bytesFetched;
    ASSERT_GT(first, 0);
    ASSERT_LT(first, kRangedBody);

    m_onMessage = nullptr;
    m_server.ServeBytes("/big", full);
    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("big.bin"), full);
    EXPECT_EQ(m_bytesFetched, kRangedBody - first);
    ExpectNoReservedFiles();
}

class RangelessServerTest : public RangedFetchTest,
                            public ::testing::WithParamInterface<RangeModeCase> {};

TEST_P(RangelessServerTest, OneConnectionFetchesAndTheServerIsNotAskedForRangesAgain) {
    const std::string a = Pattern(kRangedBody, GetParam().seed);
    const std::string b = Pattern(kRangedBody, GetParam().seed + 1);
    AddEntry("a.bin", "/a", a);
    AddEntry("b.bin", "/b", b);
    BodyOptions options;
    options.ranges = GetParam().mode;
    m_server.ServeBytes("/a", a, options);
    m_server.ServeBytes("/b", b, options);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), a);
    EXPECT_EQ(m_dir.ReadFile("b.bin"), b);
    const auto first = m_server.RequestsFor("/a");
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].range, "bytes=0-" + std::to_string(kRangedBody - 1));
    EXPECT_EQ(first[1].range, "");
    const auto second = m_server.RequestsFor("/b");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].range, "");
    ExpectNoReservedFiles();
}

INSTANTIATE_TEST_SUITE_P(Servers, RangelessServerTest,
                         ::testing::Values(RangeModeCase{"IgnoresRanges", RangeMode::kIgnore, 34},
                                           RangeModeCase{"RefusesRanges", RangeMode::kRefuse, 36}),
                         [](const auto& info) { return std::string(info.param.name); });

// The ranges are spread over the sources: a dead one is left, a slow one hands its work on, and
// when the file fails its digests it comes again from one source, so the bad one is told.
struct SpreadCase {
    const char* name;
    int mirror;  // 0: refuses connections, 1: slow, 2: wrong bytes, 3: ignores ranges
};

class RangesOverSourcesTest : public RangedFetchTest,
                              public ::testing::WithParamInterface<SpreadCase> {};

TEST_P(RangesOverSourcesTest, TheFileIsRightWhateverTheMirrorDoes) {
    const std::string full = Pattern(kRangedBody, 37);
    DownloadEntry& entry = AddEntry("big.bin", "/main/big", full);
    BodyOptions paced;
    paced.bytesPerSecond = 512 * 1024;
    m_server.ServeBytes("/main/big", full, paced);
    entry.mirrors = {GetParam().mirror == 0 ? L"http://127.0.0.1:1/big"
                                            : m_server.WideUrl("/mirror/big")};
    BodyOptions slow;
    slow.bytesPerSecond = 32 * 1024;
    BodyOptions whole = paced;
    whole.ranges = RangeMode::kIgnore;
    if (GetParam().mirror == 1)
        m_server.ServeBytes("/mirror/big", full, slow);
    else if (GetParam().mirror == 3)
        m_server.ServeBytes("/mirror/big", full, whole);
    else
        m_server.ServeBytes("/mirror/big", Pattern(kRangedBody, 38), paced);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("big.bin"), full);
    EXPECT_FALSE(m_failure.IsFailure()) << DescribeFailure(m_failure);
    const auto main = m_server.RequestsFor("/main/big");
    const auto mirror = m_server.RequestsFor("/mirror/big");
    if (GetParam().mirror > 0) {
        EXPECT_GE(mirror.size(), 1u);
    }
    // The slow one keeps a share of a few ranges; after bad bytes the file comes from the
    // catalogue's address alone, every byte of it once more.
    EXPECT_GT(main.size(), mirror.size());
    if (GetParam().mirror == 2) {
        EXPECT_GE(AskedBytes(main), kRangedBody);
    }
    ExpectNoReservedFiles();
}

INSTANTIATE_TEST_SUITE_P(Mirrors, RangesOverSourcesTest,
                         ::testing::Values(SpreadCase{"Dead", 0}, SpreadCase{"Slow", 1},
                                           SpreadCase{"WrongBytes", 2},
                                           SpreadCase{"IgnoresRanges", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadWorkerTest, WhatTheServerGotWrongIsNamedWithTheEntry) {
    // Other bytes than the catalogue lists, of the listed length: only the digest tells.
    AddEntry("data.bin", "/data", "right bytes");
    m_server.ServeBytes("/data", "wrong bytes");
    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kDigestMismatch, 0, L"data.bin");

    // An error page never becomes the file: its status is the cause, and the file that was
    // not fetched is not left behind empty.
    m_server.ServeStatus("/data", 404, "<html>gone</html>");
    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kHttpStatus, 404, L"data.bin");
    EXPECT_EQ(m_failure.detail, "Not Found");
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "data.bin"));
    // Not a passing fault: asked once, never again.
    EXPECT_EQ(m_server.RequestsFor("/data").size(), 2u);
}

TEST_F(DownloadWorkerTest, AConnectionCutMidFileIsResumedByTheNextRun) {
    const std::string full = Pattern(300000, 13);
    AddEntry("a.bin", "/a", full);
    m_server.ServeCut("/a", full.substr(0, 120000), full.size());

    ExpectSequence(SentOnly(RunWorker(&m_patch)), EndedRun());
    const auto partial = m_dir.ReadFile("a.bin");
    ASSERT_TRUE(partial.has_value());
    ASSERT_GT(partial->size(), 0u);
    ASSERT_LT(partial->size(), full.size());

    m_server.ServeBytes("/a", full);
    m_server.ClearRequests();
    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full);
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=" + std::to_string(partial->size()) + "-");
}

TEST_F(DownloadWorkerTest, ATransferWithoutAKnownSizePostsNoLineAndNoPosition) {
    const std::string a = Pattern(50000, 14), b = Pattern(50000, 15);
    AddEntry("chunked.bin", "/chunked", a);
    AddEntry("closed.bin", "/closed", b);
    m_server.ServeWithoutLength("/chunked", a, true);
    m_server.ServeWithoutLength("/closed", b, false);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_TRUE(Posted(messages, WM_DL_SETTEXT).empty());
    EXPECT_TRUE(Posted(messages, WM_DL_SETPOS).empty());
    EXPECT_EQ(m_dir.ReadFile("chunked.bin"), a);
    EXPECT_EQ(m_dir.ReadFile("closed.bin"), b);
}

// --- Targets ----------------------------------------------------------------------------------

TEST_F(DownloadWorkerTest, TargetsThatLeaveTheFolderAreNeverWritten) {
    const std::string body = Pattern(100, 16);
    m_server.ServeBytes("/x", body);
    ASSERT_TRUE(m_dir.WriteFile("inner/sub/keep.txt", "x"));
    TempDir elsewhere;
    ASSERT_TRUE(elsewhere.IsValid());
    for (const std::string& target :
         std::vector<std::string>{"../up.bin", "..\\up2.bin", "sub/../../up3.bin",
                                  "sub\\..\\..\\up4.bin", elsewhere.NarrowPathOf("abs.bin")})
        AddEntry(target, "/x", body);
    AddEntry("sub\\good.bin", "/x", body);

    const auto messages = RunWorkerIn(&m_patch, m_dir.WidePathOf("inner"));
    ExpectSequence(SentOnly(messages), FullRun(0));
    ExpectFailure(FailureClass::kUnsafePath, 0, L"../up.bin");
    // Only the sound entry was fetched, into the sub-folder its backslash names.
    EXPECT_EQ(m_server.RequestsFor("/x").size(), 1u);
    EXPECT_EQ(m_dir.ReadFile("inner/sub/good.bin"), body);
    for (const char* name : {"up.bin", "up2.bin", "up3.bin", "up4.bin", "..\\up2.bin"})
        EXPECT_FALSE(m_dir.Exists(name)) << name;
    EXPECT_FALSE(elsewhere.Exists("abs.bin"));
    std::size_t files = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(m_dir.Path()))
        files += item.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2u);  // keep.txt and good.bin
}

TEST_F(DownloadWorkerTest, MissingSubFoldersOfATargetAreMadeInsideTheFolder) {
    const std::string body = Pattern(5000, 17);
    m_server.ServeBytes("/m", body);
    AddEntry("maps\\north\\ashen.pak", "/m", body);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("maps/north/ashen.pak"), body);
}

TEST_F(DownloadWorkerTest, AFolderThatCannotBeMadeIsNamedAndTheRestIsStillFetched) {
    const std::string body = Pattern(500, 19);
    m_server.ServeBytes("/m", body);
    // A file where the entry's folder belongs.
    ASSERT_TRUE(m_dir.WriteFile("maps", "not a folder"));
    AddEntry("maps\\ashen.pak", "/m", body);
    AddEntry("next.pak", "/m", body);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    // The folder's own cause (a file in the way of a sub-folder), not the open's after it.
    EXPECT_EQ(m_failure.cause, FailureClass::kUnsafePath) << DescribeFailure(m_failure);
    EXPECT_EQ(m_failure.subject, L"maps\\ashen.pak");
    EXPECT_EQ(m_dir.ReadFile("maps"), "not a folder");
    EXPECT_EQ(m_dir.ReadFile("next.pak"), body);
}

// --- Fault matrix: what a hostile folder or a misbehaving server meets ------------------------

class FaultMatrixTest : public DownloadWorkerTest {
  protected:
    void SetUp() override {
        DownloadWorkerTest::SetUp();
        ASSERT_TRUE(m_outside.IsValid());
    }
    std::string Link(const std::string& name, const std::filesystem::path& to) {
        std::error_code error;
        std::filesystem::create_symlink(to, m_dir.Path() / name, error);
        return error ? error.message() : std::string();
    }
    // The retry lines the worker posted, in order; each must be a line of its own (lParam 1),
    // so the page shows it at once instead of holding it back like a progress line.
    std::vector<std::wstring> RetryLines(const std::vector<WindowMessage>& messages) {
        std::vector<std::wstring> lines;
        for (const WindowMessage& m : Posted(messages, WM_DL_SETTEXT))
            if (m.text.rfind(L"Retrying ", 0) == 0) {
                EXPECT_EQ(m.lParam, 1) << WideToUtf8(m.text);
                lines.push_back(m.text);
            }
        return lines;
    }

    TempDir m_outside;  // a user's own folder, next to the download folder
};

TEST_F(FaultMatrixTest, ADanglingLinkAtTheTargetIsReplacedAndNothingIsMadeOutside) {
    const std::string body = Pattern(4000, 40);
    m_server.ServeBytes("/a", body);
    AddEntry("a.bin", "/a", body);
    ASSERT_EQ(Link("a.bin", m_outside.Path() / "planted.bin"), "");

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_FALSE(std::filesystem::exists(m_outside.Path() / "planted.bin"));
    EXPECT_FALSE(std::filesystem::is_symlink(m_dir.Path() / "a.bin"));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), body);
}

TEST_F(FaultMatrixTest, ALinkToAUsersFileIsNeitherResumedIntoNorTruncated) {
    const std::string body = Pattern(4000, 41);
    m_server.ServeBytes("/a", body);
    AddEntry("a.bin", "/a", body);
    // Shorter than the listed size, and a prefix of it: a resume would append behind it.
    ASSERT_TRUE(m_outside.WriteFile("notes.txt", body.substr(0, 100)));
    ASSERT_EQ(Link("a.bin", m_outside.Path() / "notes.txt"), "");

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    // The link itself gave way to a fresh file; the user's file kept every byte.
    EXPECT_EQ(m_outside.ReadFile("notes.txt"), body.substr(0, 100));
    EXPECT_FALSE(std::filesystem::is_symlink(m_dir.Path() / "a.bin"));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), body);
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "");
}

TEST_F(FaultMatrixTest, ALinkedSubFolderFailsItsEntryAndReceivesNothing) {
    const std::string body = Pattern(3000, 42);
    m_server.ServeBytes("/m", body);
    ASSERT_EQ(Link("maps", m_outside.Path()), "");
    AddEntry("maps\\north.pak", "/m", body);
    AddEntry("next.pak", "/m", body);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kUnsafePath, m_failure.code, L"maps\\north.pak");
    EXPECT_TRUE(std::filesystem::is_empty(m_outside.Path()));
    EXPECT_EQ(m_dir.ReadFile("next.pak"), body);
    EXPECT_TRUE(m_server.RequestsFor("/m").size() == 1u);
}

TEST_F(FaultMatrixTest, AFifoAtTheTargetFailsAtOnceInsteadOfBlocking) {
    const std::string body = Pattern(100, 43);
    m_server.ServeBytes("/a", body);
    AddEntry("a.bin", "/a", body);
    ASSERT_EQ(mkfifo(m_dir.NarrowPathOf("a.bin").c_str(), 0600), 0);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kNotRegularFile, 0, L"a.bin");
    EXPECT_TRUE(m_server.RequestsFor("/a").empty());
}

TEST_F(FaultMatrixTest, AServerSendingMoreThanListedNeverGrowsTheFilePastItsSize) {
    const std::string listed = Pattern(5000, 44);
    AddEntry("a.bin", "/a", listed);
    AddEntry("b.bin", "/b", listed);
    m_server.ServeBytes("/a", listed + Pattern(5000, 45));
    m_server.ServeWithoutLength("/b", listed + Pattern(50000, 46), true);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kTooLarge, m_failure.code, L"a.bin");
    // An announced length over the size: refused before the first byte, no file left behind.
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "a.bin"));
    // A body without a length: stopped at the block that would pass the size.
    const auto b = m_dir.ReadFile("b.bin");
    if (b.has_value()) {
        EXPECT_LE(b->size(), listed.size());
    }
    // Too large is not a passing fault: one request each.
    EXPECT_EQ(m_server.RequestsFor("/a").size(), 1u);
    EXPECT_EQ(m_server.RequestsFor("/b").size(), 1u);
}

TEST_F(FaultMatrixTest, AnErrorPageToAResumeKeepsTheEarlierBytes) {
    const std::string full = Pattern(9000, 47);
    AddEntry("a.bin", "/a", full);
    m_server.ServeStatus("/a", 403, "<html>forbidden</html>");
    ASSERT_TRUE(m_dir.WriteFile("a.bin", full.substr(0, 2500)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kHttpStatus, 403, L"a.bin");
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full.substr(0, 2500));
    EXPECT_EQ(m_server.RequestsFor("/a").size(), 1u);
    // A failed transfer leaves no digests behind: the verification reads what is there.
    EXPECT_EQ(m_verifyReads, std::vector<std::wstring>{L"a.bin"});
}

TEST_F(FaultMatrixTest, AResumedFileWithTheWrongDigestIsFetchedWholeInTheSameRun) {
    // Re-published under the same address: the old head and the new tail make a file of the
    // right size and the wrong bytes.
    const std::string old = Pattern(8000, 48), fresh = Pattern(8000, 49);
    AddEntry("a.bin", "/a", fresh);
    m_server.ServeBytes("/a", fresh);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", old.substr(0, 3000)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), fresh);
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=3000-");
    EXPECT_EQ(requests[1].range, "");
    // The wrong digest was seen from the part read once and the bytes appended to it.
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_TRUE(m_verifyReads.empty());
}

TEST_F(FaultMatrixTest, ABusyServerIsAskedAgainAndTheRetriesAreAnnounced) {
    const std::string body = Pattern(6000, 50);
    AddEntry("a.bin", "/a", body);
    m_server.ServeFailingFirst("/a", 2, 503, {}, body);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_FALSE(m_failure.IsFailure()) << DescribeFailure(m_failure);
    EXPECT_EQ(m_dir.ReadFile("a.bin"), body);
    EXPECT_EQ(RetryLines(messages), ExpectedRetryLines(L"a.bin", 0, RetryKind::kServerBusy, -1, 2));
}

TEST_F(FaultMatrixTest, RetryAfterReplacesThePauseUpToItsBound) {
    const std::string body = Pattern(600, 51);
    AddEntry("a.bin", "/a", body);
    AddEntry("b.bin", "/b", body);
    m_server.ServeFailingFirst("/a", 1, 429, {{"Retry-After", "0"}}, body);
    m_server.ServeFailingFirst("/b", 1, 503, {{"Retry-After", "3600"}}, body);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    // 0 s as asked, or the jitter's share of a second; an hour is cut to the bound (30 ms here,
    // shown as a whole second).
    std::vector<std::wstring> expected =
        ExpectedRetryLines(L"a.bin", 0, RetryKind::kServerBusy, 0, 1);
    expected.push_back(L"Retrying b.bin in 1 s (attempt 1).");
    EXPECT_EQ(RetryLines(messages), expected);
}

TEST_F(FaultMatrixTest, ACutConnectionIsResumedFromDiskInTheSameRun) {
    const std::string body = Pattern(300000, 52);
    AddEntry("a.bin", "/a", body);
    m_server.ServeCutFirst("/a", 1, 120000, body);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), body);
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range.rfind("bytes=", 0), 0u);
    EXPECT_NE(requests[1].range, "bytes=0-");
    EXPECT_EQ(RetryLines(messages).size(), 1u);
    // What the cut transfer wrote is read back from the disk once, not trusted from its
    // digests; the resumed file then needs no read.
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_TRUE(m_verifyReads.empty());
}

TEST_F(FaultMatrixTest, APermanentFaultLetsTheNextFileComeAndASpentBudgetEndsTheJob) {
    const std::string body = Pattern(700, 53);
    AddEntry("b.bin", "/b", body);
    AddEntry("a.bin", "/a", body);
    AddEntry("c.bin", "/c", body);
    m_server.ServeStatus("/b", 410, "gone");
    m_server.ServeStatus("/a", 502, "bad gateway");
    m_server.ServeBytes("/c", body);

    const auto messages = RunWorker(&m_patch);
    // Nothing is verified after a file that ran out of retries.
    ExpectSequence(SentOnly(messages), EndedRun());
    ExpectFailure(FailureClass::kHttpStatus, 410, L"b.bin");
    EXPECT_EQ(m_server.RequestsFor("/b").size(), 1u);
    // A 502 is no word of a busy server: the shorter budget, file 1 of the run.
    const auto expected = ExpectedRetryLines(L"a.bin", 1, RetryKind::kNetworkGone, -1);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(RetryLines(messages), expected);
    EXPECT_EQ(m_server.RequestsFor("/a").size(), expected.size() + 1);
    EXPECT_TRUE(m_server.RequestsFor("/c").empty());
    // No file came: none is left behind empty.
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "a.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "b.bin"));
}

TEST_F(FaultMatrixTest, AStopEndsThePauseBeforeARetryAtOnce) {
    AddEntry("a.bin", "/a", "never");
    m_server.ServeStatus("/a", 503, "busy");
    auto queue = std::make_shared<WindowMessageQueue>();
    Receiver receiver(queue);
    const auto data = MakeDownloadThreadData(&m_patch, m_dir.WidePath(), queue);
    data->backoff.base = data->backoff.cap = std::chrono::hours(1);
    data->backoff.busyBudget = std::chrono::hours(2);
    receiver.OnMessage([&data](const WindowMessage& m) {
        if (m.text.rfind(L"Retrying ", 0) == 0)
            RequestStop(*data);
    });
    EXPECT_EQ(DownloadWorker(data), 0);
    receiver.Stop();
    EXPECT_FALSE(Has(receiver.Messages(), WM_DL_FINISHED));
    EXPECT_EQ(m_server.RequestsFor("/a").size(), 1u);
}

TEST_F(FaultMatrixTest, TheKeepCheckWantsTheListedSha256Too) {
    // The MD5 of the file on disk and the sha256 of the server's file: only the sha256 tells
    // that the file on disk is not the listed one.
    const std::string onDisk = Pattern(2000, 54), served = Pattern(2000, 55);
    DownloadEntry& entry = AddEntry("a.bin", "/a", onDisk);
    Sha256Digest sha256;
    sha256.Feed(reinterpret_cast<const unsigned char*>(served.data()), served.size());
    entry.sha256 = Utf8ToWide(sha256.FinalHex());
    m_server.ServeBytes("/a", served);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", onDisk));

    RunWorker(&m_patch);
    EXPECT_EQ(m_server.RequestsFor("/a").size(), 1u);
    EXPECT_EQ(m_dir.ReadFile("a.bin"), served);

    // Without a listed sha256 the same file is kept as it always was.
    entry.sha256.clear();
    ASSERT_TRUE(m_dir.WriteFile("a.bin", onDisk));
    m_server.ClearRequests();
    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_TRUE(m_server.RequestsFor("/a").empty());
}

TEST_F(FaultMatrixTest, TheKeepCheckTakesNoSentinelForTheListedDigest) {
    // A catalogue that lists the text a failed read gives: the file whose read failed is not
    // kept, it is fetched, and the verification refuses it as well.
    const std::string bytes = Pattern(2000, 56);
    AddEntry("a.bin", "/a", bytes).md5 = L"read__error";
    m_server.ServeBytes("/a", bytes);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", bytes));
    platform::FileIdentity identity;
    ASSERT_TRUE(platform::ReadFileIdentity(m_dir.WidePathOf("a.bin"), identity));
    auto queue = std::make_shared<WindowMessageQueue>();
    Receiver receiver(queue);
    const auto data = MakeDownloadThreadData(&m_patch, m_dir.WidePath(), queue);
    data->written.Record(L"a.bin", identity, FileDigestTexts{L"read__error", L""});
    EXPECT_EQ(DownloadWorker(data), 0);
    receiver.Stop();
    ExpectSequence(SentOnly(receiver.Messages()), FullRun(0));
    EXPECT_EQ(m_server.RequestsFor("/a").size(), 1u);
}

// --- Digests taken while receiving, and from the digest cache -----------------------------------

std::wstring Sha256Of(const std::string& bytes) {
    return Utf8ToWide(Sha256Digest::OfText(bytes));
}

// --- Deltas: a file built from the installed game's copy, or else fetched whole -----------

// The installed file, the release's file (1 % of it changed in runs of 64 bytes) and the delta
// between them as the zstd program makes it.
struct DeltaFiles {
    std::string base, fresh, delta;
};

DeltaFiles MakeDeltaFiles(const TempDir& scratch, std::size_t size, unsigned seed,
                          std::size_t extra = 0) {
    DeltaFiles files;
    files.base = Pattern(size, seed);
    files.fresh = files.base;
    for (std::size_t at = 97; at + 64 < size; at += 6400)
        files.fresh.replace(at, 64, Pattern(64, seed + static_cast<unsigned>(at)));
    const std::string made = files.fresh + Pattern(extra, seed + 1);
    EXPECT_TRUE(scratch.WriteFile("base", files.base) && scratch.WriteFile("new", made));
    const ShellRun run = RunShell(
        ShellWords({"zstd", "-q", "-f", "-19", "--patch-from=" + scratch.NarrowPathOf("base"),
                    scratch.NarrowPathOf("new"), "-o", scratch.NarrowPathOf("delta")}) +
        " 2>/dev/null");
    EXPECT_EQ(run.status, 0);
    files.delta = scratch.ReadFile("delta").value_or("");
    return files;
}

class DeltaTest : public FaultMatrixTest {
  protected:
    void SetUp() override {
        FaultMatrixTest::SetUp();
        ASSERT_TRUE(m_game.IsValid() && m_scratch.IsValid());
        m_gameFolder = m_game.WidePath();
        m_files = MakeDeltaFiles(m_scratch, 300000, 61);
        ASSERT_FALSE(m_files.delta.empty());
        ASSERT_TRUE(m_game.WriteFile("data/world.pak", m_files.base));
    }
    // The entry for the release's file, offering the delta from the installed copy.
    DownloadEntry& AddDeltaEntry(const std::string& servedDelta) {
        m_server.ServeBytes("/full", m_files.fresh);
        m_server.ServeBytes("/delta", servedDelta);
        DownloadEntry& entry = AddEntry("data\\world.pak", "/full", m_files.fresh);
        DeltaEntry delta;
        delta.url = m_server.WideUrl("/delta");
        delta.size = static_cast<std::int64_t>(servedDelta.size());
        delta.md5 = Md5Of(servedDelta);
        delta.base = L"data\\world.pak";
        delta.base_size = static_cast<std::int64_t>(m_files.base.size());
        delta.base_md5 = Md5Of(m_files.base);
        entry.deltas.push_back(delta);
        return entry;
    }
    // Nothing of the deltas' own files stays in the download folder.
  public:
    // Within reach of the fault rows below.
    using FaultMatrixTest::m_outside;
    TempDir m_game;
    TempDir m_scratch;
    DeltaFiles m_files;
};

TEST_F(DeltaTest, AFileWhoseBaseIsInPlaceComesAsItsDeltaAndTheVerificationReadsNothing) {
    AddDeltaEntry(m_files.delta);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("data/world.pak"), m_files.fresh);
    EXPECT_EQ(m_server.RequestsFor("/delta").size(), 1u);
    EXPECT_TRUE(m_server.RequestsFor("/full").empty());
    EXPECT_TRUE(m_verifyReads.empty());
    ExpectNoReservedFiles();
    EXPECT_EQ(m_deltas.built, 1u);
    EXPECT_EQ(m_deltas.fellBack, 0u);
    EXPECT_EQ(m_deltas.fetchedBytes, static_cast<std::int64_t>(m_files.delta.size()));
    EXPECT_EQ(m_deltas.fileBytes, static_cast<std::int64_t>(m_files.fresh.size()));
    const auto texts = Posted(messages, WM_DL_SETTEXT);
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const WindowMessage& m) {
        return m.lParam == 1 && m.text.rfind(L"data\\world.pak comes as a delta: ", 0) == 0 &&
               m.text.find(L" in place of 293.0 KB.") != std::wstring::npos;
    }));
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const WindowMessage& m) {
        return m.wParam == kDeltaSummaryText && m.lParam == 1 &&
               m.text.rfind(L"Fetched ", 0) == 0 &&
               m.text.find(L" KB in all for 293.0 KB of files (1 as deltas).") !=
                   std::wstring::npos;
    }));
}

// One fault of a delta each: the whole file comes instead, once, and the reason is kept.
struct DeltaFault {
    const char* name;
    std::function<void(DeltaTest&, std::string& served)> arrange;
    const char* reason;  // how the tally's reason begins, after "data\world.pak: "
    std::size_t deltaRequests;
};

class DeltaFaultTest : public DeltaTest, public ::testing::WithParamInterface<DeltaFault> {};

TEST_P(DeltaFaultTest, TheWholeFileComesOnceInsteadWithTheReason) {
    std::string served = m_files.delta;
    GetParam().arrange(*this, served);
    AddDeltaEntry(served);

    const auto messages = RunWorker(&m_patch);
    ExpectSequence(SentOnly(messages), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("data/world.pak"), m_files.fresh);
    EXPECT_EQ(m_server.RequestsFor("/full").size(), 1u);
    EXPECT_EQ(m_server.RequestsFor("/delta").size(), GetParam().deltaRequests);
    // A delta the page was told of, then not used, is taken back on the page.
    const auto said = [&](int id) {
        const std::wstring text = FormatMessageText(LoadMessage(id), {L"data\\world.pak"});
        const auto lines = Posted(messages, WM_DL_SETTEXT);
        return std::any_of(lines.begin(), lines.end(), [&](const WindowMessage& m) {
            return m.text.rfind(text.substr(0, text.find(L':')), 0) == 0;
        });
    };
    EXPECT_EQ(said(kMsgDeltaFile), GetParam().deltaRequests > 0);
    EXPECT_EQ(said(kMsgDeltaFellBack), GetParam().deltaRequests > 0);
    ExpectNoReservedFiles();
    EXPECT_EQ(m_deltas.built, 0u);
    EXPECT_EQ(m_deltas.fellBack, 1u);
    EXPECT_EQ(m_deltas.firstReason.rfind(std::string("data\\world.pak: ") + GetParam().reason, 0),
              0u)
        << m_deltas.firstReason;
    EXPECT_FALSE(m_failure.IsFailure()) << DescribeFailure(m_failure);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DeltaFaultTest,
    ::testing::Values(
        DeltaFault{"NoBase",
                   [](DeltaTest& t, std::string&) {
                       std::filesystem::remove(t.m_game.PathOf("data/world.pak"));
                   },
                   "no base", 0},
        DeltaFault{"WrongBase",
                   [](DeltaTest& t, std::string&) {
                       ASSERT_TRUE(t.m_game.WriteFile("data/world.pak",
                                                      Pattern(t.m_files.base.size(), 62)));
                   },
                   "different base (md5)", 0},
        DeltaFault{"BaseIsALink",
                   [](DeltaTest& t, std::string&) {
                       ASSERT_TRUE(t.m_outside.WriteFile("world.pak", t.m_files.base));
                       std::filesystem::remove(t.m_game.PathOf("data/world.pak"));
                       std::filesystem::create_symlink(t.m_outside.PathOf("world.pak"),
                                                       t.m_game.PathOf("data/world.pak"));
                   },
                   "base not a regular file", 0},
        DeltaFault{"TruncatedDelta",
                   [](DeltaTest&, std::string& served) { served.resize(served.size() / 2); },
                   "bad delta", 1},
        DeltaFault{"CorruptDelta",
                   [](DeltaTest&, std::string& served) { served[served.size() / 2] ^= 0x5a; },
                   "bad delta", 1},
        DeltaFault{"DecodesTooLong",
                   [](DeltaTest& t, std::string& served) {
                       served = MakeDeltaFiles(t.m_scratch, t.m_files.base.size(), 61, 10).delta;
                   },
                   "decodes too long", 1}),
    [](const ::testing::TestParamInfo<DeltaFault>& info) { return std::string(info.param.name); });

TEST_F(DeltaTest, ADeltaThatIsNotWhatTheCatalogueListsIsDroppedAndATargetMayNotTakeItsName) {
    DownloadEntry& entry = AddDeltaEntry(m_files.delta);
    entry.deltas[0].md5 = Md5Of("other bytes");
    const std::string body = Pattern(100, 63);
    AddEntry(".velmora-delta-x", "/full", body);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kUnsafePath, 0, L".velmora-delta-x");
    EXPECT_EQ(m_dir.ReadFile("data/world.pak"), m_files.fresh);
    EXPECT_EQ(m_deltas.firstReason, "data\\world.pak: delta has the wrong digest");
    ExpectNoReservedFiles();
}

class DigestReuseTest : public DownloadWorkerTest {
  protected:
    void SetUp() override {
        DownloadWorkerTest::SetUp();
        ASSERT_TRUE(m_cacheDir.IsValid());
    }

    platform::FileIdentity Identity(const std::string& name) {
        platform::FileIdentity identity;
        EXPECT_TRUE(platform::ReadFileIdentity(m_dir.WidePathOf(name), identity)) << name;
        return identity;
    }

    // Writes a cache file at m_cachePath whose entry for the file in the download folder is
    // trusted: recorded, by a clock running ahead, well after the file's last change.
    void RememberInCache(const std::string& name, const FileDigestTexts& digests) {
        m_cachePath = m_cacheDir.WidePathOf("velmora-launcher/digests");
        DigestCache cache(m_cachePath, [] { return WallClockNs() + 10'000'000'000; });
        ASSERT_TRUE(cache.Remember(Identity(name), digests, cache.Now()));
        ASSERT_TRUE(cache.Save());
    }

    // Returns once a change made now gets a later change time than the file has: timestamps
    // are coarser than the moment between the worker's last write and the test's.
    void WaitForLaterChangeTime(const std::string& name) {
        const std::int64_t before = Identity(name).changedNs;
        const std::string probe = m_cacheDir.NarrowPathOf("tick");
        std::ofstream(probe) << "tick";
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(chmod(probe.c_str(), (i % 2) ? 0600 : 0644), 0);
            struct stat status {};
            ASSERT_EQ(stat(probe.c_str(), &status), 0);
            const std::int64_t changed =
                std::int64_t{status.st_ctim.tv_sec} * 1'000'000'000 + status.st_ctim.tv_nsec;
            if (changed > before)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        FAIL() << "the change time never moved on";
    }

    TempDir m_cacheDir;
};

TEST_F(DigestReuseTest, AResumeAcrossSeveralBuffersIsVerifiedWithoutReadingTheFileAgain) {
    // Several of the digester's buffers, a part that ends inside one, and a listed sha256.
    const std::string full = Pattern(3 * 1024 * 1024 + 4321, 70);
    DownloadEntry& entry = AddEntry("a.bin", "/a", full);
    entry.sha256 = Sha256Of(full);
    m_server.ServeBytes("/a", full);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", full.substr(0, 777777)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("a.bin"), full);
    ASSERT_EQ(m_server.RequestsFor("/a").size(), 1u);
    EXPECT_EQ(m_server.RequestsFor("/a")[0].range, "bytes=777777-");
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_TRUE(m_verifyReads.empty());
}

TEST_F(DigestReuseTest, AResumedPartWithTheWrongSha256IsFetchedWhole) {
    // The MD5 alone would pass: the old part and the new tail are the listed bytes, but the
    // listed sha256 is of other bytes, so the digests carried over from the part must include
    // the SHA-256 too.
    const std::string full = Pattern(900000, 71);
    DownloadEntry& entry = AddEntry("a.bin", "/a", full);
    entry.sha256 = Sha256Of(Pattern(900000, 72));
    m_server.ServeBytes("/a", full);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", full.substr(0, 300000)));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ExpectFailure(FailureClass::kDigestMismatch, 0, L"a.bin");
    const auto requests = m_server.RequestsFor("/a");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=300000-");
    EXPECT_EQ(requests[1].range, "");
}

TEST_F(DigestReuseTest, AFileChangedAfterTheWorkerWroteItIsReadAgainAndFails) {
    const std::string body = Pattern(600000, 73);
    AddEntry("a.bin", "/a", body);
    m_server.ServeBytes("/a", body);
    // While the page shows the verification text (the worker waits for it), someone rewrites
    // the file in place with other bytes and puts its size and modification time back.
    bool changed = false;
    m_onMessage = [&](const WindowMessage& m) {
        if (m.id != WM_DL_SETTEXT || m.text != kVerifying)
            return;
        const platform::FileIdentity written = Identity("a.bin");
        WaitForLaterChangeTime("a.bin");
        std::fstream file(m_dir.NarrowPathOf("a.bin"),
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(1000);
        file.write("changed", 7);
        file.close();
        const timespec times[2] = {
            {0, UTIME_OMIT},
            {written.modifiedNs / 1'000'000'000, written.modifiedNs % 1'000'000'000}};
        ASSERT_EQ(utimensat(AT_FDCWD, m_dir.NarrowPathOf("a.bin").c_str(), times, 0), 0);
        const platform::FileIdentity now = Identity("a.bin");
        EXPECT_EQ(now.inode, written.inode);
        EXPECT_EQ(now.size, written.size);
        EXPECT_EQ(now.modifiedNs, written.modifiedNs);
        EXPECT_NE(now.changedNs, written.changedNs);
        changed = true;
    };

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    ASSERT_TRUE(changed);
    ExpectFailure(FailureClass::kDigestMismatch, 0, L"a.bin");
    EXPECT_EQ(m_verifyReads, std::vector<std::wstring>{L"a.bin"});
}

TEST_F(DigestReuseTest, AKeptFileWithATrustedCacheEntryIsNotRead) {
    const std::string a = Pattern(50000, 74), b = Pattern(60000, 75);
    DownloadEntry& first = AddEntry("a.bin", "/a", a);
    first.sha256 = Sha256Of(a);
    AddEntry("b.bin", "/b", b);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", a));
    ASSERT_TRUE(m_dir.WriteFile("b.bin", b));
    // Only a.bin is known to the cache; b.bin is read in both phases.
    RememberInCache("a.bin", FileDigests(m_dir.WidePathOf("a.bin"), true));

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"b.bin"});
    EXPECT_EQ(m_verifyReads, std::vector<std::wstring>{L"b.bin"});
}

TEST_F(DigestReuseTest, ACacheEntryWithoutTheListedSha256MeansARead) {
    const std::string a = Pattern(50000, 76);
    DownloadEntry& entry = AddEntry("a.bin", "/a", a);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", a));
    RememberInCache("a.bin", FileDigests(m_dir.WidePathOf("a.bin"), false));
    entry.sha256 = Sha256Of(a);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
}

TEST_F(DigestReuseTest, WithoutTheCacheEveryKeptFileIsReadAndTheCacheFileIsLeftAlone) {
    const std::string a = Pattern(50000, 77);
    AddEntry("a.bin", "/a", a);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", a));
    RememberInCache("a.bin", FileDigests(m_dir.WidePathOf("a.bin"), false));
    const auto before = m_cacheDir.ReadFile("velmora-launcher/digests");
    ASSERT_TRUE(before.has_value());
    m_cachePath.clear();  // --no-cache

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_EQ(m_verifyReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_EQ(m_cacheDir.ReadFile("velmora-launcher/digests"), before);
}

TEST_F(DigestReuseTest, AnUnusableCacheChangesNothingButSpeed) {
    const std::string a = Pattern(50000, 78), b = Pattern(70000, 79);
    AddEntry("a.bin", "/a", a);
    AddEntry("b.bin", "/b", b);
    m_server.ServeBytes("/b", b);
    ASSERT_TRUE(m_dir.WriteFile("a.bin", a));
    // A file where the cache folder belongs: nothing can be kept there, not even by root.
    ASSERT_TRUE(m_cacheDir.WriteFile("velmora-launcher", "in the way"));
    m_cachePath = m_cacheDir.WidePathOf("velmora-launcher/digests");

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("b.bin"), b);
    EXPECT_EQ(m_fetchReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_EQ(m_verifyReads, std::vector<std::wstring>{L"a.bin"});
    EXPECT_EQ(m_cacheDir.ReadFile("velmora-launcher"), "in the way");
}

// A full disk needs a real one: a small tmpfs, mounted in a private mount namespace so no one
// else sees it. The test runs itself again inside that namespace; the inner run does the work.
constexpr const char* kFullDiskFolderVariable = "VELMORA_TEST_FULL_DISK_FOLDER";
constexpr const char* kFullDiskMarkerVariable = "VELMORA_TEST_FULL_DISK_MARKER";

class FullDiskTest : public DownloadWorkerTest {};

TEST_F(FullDiskTest, AFullDiskEndsTheFileWithItsCauseAndKeepsItsBytes) {
    const char* inside = std::getenv(kFullDiskFolderVariable);
    if (inside == nullptr) {
        if (geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        if (RunShell("unshare -m true >/dev/null 2>&1").status != 0)
            GTEST_SKIP() << "unshare -m is refused here";
        char self[4096] = {};
        const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        ASSERT_GT(length, 0);
        TempDir mountPoint;
        ASSERT_TRUE(mountPoint.IsValid());
        const std::string marker = m_dir.NarrowPathOf("inner-run-done");
        const std::string command = ShellWords(
            {"env", std::string(kFullDiskFolderVariable) + "=" + mountPoint.NarrowPath(),
             std::string(kFullDiskMarkerVariable) + "=" + marker, "unshare", "-m", "sh", "-c",
             "mount -t tmpfs -o size=256k tmpfs \"$0\" || exit 77; exec \"$1\" "
             "--gtest_filter=FullDiskTest.*",
             mountPoint.NarrowPath(), std::string(self, length)});
        const ShellRun inner = RunShell(command);
        if (inner.status == 77)
            GTEST_SKIP() << "a tmpfs cannot be mounted here";
        EXPECT_EQ(inner.status, 0) << command << "\n" << inner.output;
        EXPECT_TRUE(m_dir.ReadFile("inner-run-done").has_value()) << "the inner run did not run";
        return;
    }

    const std::string body = Pattern(1024 * 1024, 60);
    m_server.ServeBytes("/big", body);
    AddEntry("big.bin", "/big", body);
    ExpectSequence(SentOnly(RunWorkerIn(&m_patch, Utf8ToWide(inside))), FullRun(0));
    ExpectFailure(FailureClass::kSystem, ENOSPC, L"big.bin");
    // No retry for a full disk, and what did fit stays for a resume.
    EXPECT_EQ(m_server.RequestsFor("/big").size(), 1u);
    const std::string kept = FileContents(std::string(inside) + "/big.bin");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), body.size());
    EXPECT_TRUE(kept == body.substr(0, kept.size()));
    // A write that failed leaves no digests to trust: the verification read the file.
    EXPECT_EQ(m_verifyReads, std::vector<std::wstring>{L"big.bin"});
    std::ofstream(std::getenv(kFullDiskMarkerVariable)) << "ran";
}

// --- Files of more than 2 GiB (sparse, nothing big is downloaded) ------------------------------

class LargeFileTest : public DownloadWorkerTest {
  protected:
    static constexpr std::int64_t kTwoGiB = std::int64_t{1} << 31;

    void SetUp() override {
        DownloadWorkerTest::SetUp();
        // Hashing 2 GiB twice takes many minutes under the thread sanitizer, and these cases
        // are about 64-bit sizes, not threads.
        if (kUnderThreadSanitizer)
            GTEST_SKIP() << "too slow under the thread sanitizer";
        // Over one connection, whose offsets these cases follow.
        m_rangedMinimum = std::numeric_limits<std::int64_t>::max();
    }

    void MakeSparse(const std::string& name, std::int64_t size) {
        ASSERT_TRUE(m_dir.WriteFile(name, ""));
        std::error_code error;
        std::filesystem::resize_file(m_dir.PathOf(name), static_cast<std::uintmax_t>(size), error);
        ASSERT_FALSE(error) << error.message();
    }
};

TEST_F(LargeFileTest, AFileOverItsSizeIsFetchedFromZero) {
    const std::string body = Pattern(3000, 17);
    DownloadEntry& entry = AddEntry("over.bin", "/over", body);
    entry.size = kTwoGiB + 16;
    m_server.ServeBytes("/over", body);
    MakeSparse("over.bin", kTwoGiB + 4096);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(1));
    EXPECT_EQ(m_dir.ReadFile("over.bin"), body);
    EXPECT_EQ(m_server.RequestsFor("/over").at(0).range, "");
}

TEST_F(LargeFileTest, AShortFileIsResumedAtItsFull64BitSize) {
    const std::string body = Pattern(3000, 18);
    // A missing file placed first fails the verification before it would hash 2 GiB again.
    AddEntry("missing.bin", "/missing", body);
    DownloadEntry& entry = AddEntry("short.bin", "/short", body);
    entry.size = kTwoGiB + 4096;
    // A refused range: the file must then be started over, never resumed again.
    BodyOptions refuse;
    refuse.ranges = RangeMode::kRefuse;
    m_server.ServeBytes("/short", body, refuse);
    m_server.ServeStatus("/missing", 404, "gone");
    MakeSparse("short.bin", kTwoGiB + 16);

    ExpectSequence(SentOnly(RunWorker(&m_patch)), FullRun(0));
    const auto requests = m_server.RequestsFor("/short");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=" + std::to_string(kTwoGiB + 16) + "-");
    EXPECT_EQ(requests[1].range, "");
    EXPECT_EQ(m_dir.ReadFile("short.bin"), body);
}

// --- The pauses before a retry -----------------------------------------------------------------

struct BackoffCase {
    RetryKind kind;
    long retryAfter;  // seconds; -1: none
    long long budgetMs;
};

// The files' own settings: base 2 s, cap 60 s, Retry-After up to 2 minutes.
class RetryBackoffTest : public ::testing::TestWithParam<BackoffCase> {
  protected:
    static std::vector<long long> Schedule(std::uint64_t seed, const BackoffCase& c) {
        RetryBackoff backoff(FileBackoff(), seed);
        std::vector<long long> pauses;
        while (const auto pause = backoff.NextPause(c.kind, c.retryAfter))
            pauses.push_back(pause->count());
        return pauses;
    }
};

TEST_P(RetryBackoffTest, PausesAreJitteredBelowTheirBoundAndEndWithTheBudget) {
    const BackoffCase& c = GetParam();
    const std::vector<long long> pauses = Schedule(7, c);
    ASSERT_GE(pauses.size(), 2u);
    long long spent = 0;
    for (std::size_t n = 0; n < pauses.size(); ++n) {
        SCOPED_TRACE("retry " + std::to_string(n + 1));
        if (c.retryAfter >= 0) {
            const long long asked = std::min(c.retryAfter * 1000, 120000L);
            EXPECT_GE(pauses[n], asked);
            EXPECT_LE(pauses[n], asked + 2000);
        } else {
            EXPECT_LE(pauses[n], std::min(60000LL, 2000LL << std::min<std::size_t>(n, 20)));
        }
        spent += pauses[n];
    }
    EXPECT_LE(spent, c.budgetMs);
    // Replayed exactly from its seed, and another seed draws other pauses.
    EXPECT_EQ(Schedule(7, c), pauses);
    EXPECT_NE(Schedule(8, c), pauses);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RetryBackoffTest,
                         ::testing::Values(BackoffCase{RetryKind::kServerBusy, -1, 300000},
                                           BackoffCase{RetryKind::kServerBusy, 10, 300000},
                                           BackoffCase{RetryKind::kServerBusy, 3600, 300000},
                                           BackoffCase{RetryKind::kNetworkGone, -1, 90000}));

// --- Progress line and position ---------------------------------------------------------------

class ProgressReportTest : public ::testing::Test {
  protected:
    void SetUp() override { LanguageIndex = 0; }

    // One notification through a fresh context; returns what reached the page.
    std::vector<WindowMessage> Report(double received, double total, double speed,
                                      float baseBytes = 0, std::wstring name = L"data.bin") {
        TransferProgress record;
        ProgressContext context;
        context.displayName = std::move(name);
        context.windowCell = &m_queue;
        context.baseBytes = baseBytes;
        record.receiveTotal = total;
        record.received = received;
        record.receiveSpeed = speed;
        record.context = &context;
        ReportTransferProgress(&record);
        std::vector<WindowMessage> seen;
        m_queue.Dispatch([&](const WindowMessage& m) { seen.push_back(m); });
        return seen;
    }

    // A transfer of total bytes to a.bin, whose notifications a test makes one by one.
    TransferProgress& Transfer(double total) {
        m_context.displayName = L"a.bin";
        m_context.windowCell = &m_queue;
        m_record.context = &m_context;
        m_record.receiveTotal = total;
        return m_record;
    }
    // What reached the page with message id.
    std::vector<WindowMessage> Drain(std::uint32_t id) {
        std::vector<WindowMessage> seen;
        m_queue.Dispatch([&](const WindowMessage& m) {
            if (m.id == id)
                seen.push_back(m);
        });
        return seen;
    }

    WindowMessageQueue m_queue;
    ProgressContext m_context;
    TransferProgress m_record;
};

TEST_F(ProgressReportTest, LineAndPositionOfAPlainTransfer) {
    const auto seen = Report(1572864, 10485760, 262144);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].id, WM_DL_SETTEXT);
    EXPECT_FALSE(seen[0].sent);
    EXPECT_EQ(seen[0].lParam, 0);
    EXPECT_EQ(seen[0].text, L"Downloading data.bin 1.50 MB / 10.00 MB (256.0 KB/s)");
    EXPECT_EQ(seen[1].id, WM_DL_SETPOS);
    EXPECT_FALSE(seen[1].sent);
    EXPECT_EQ(seen[1].wParam, 15u);

    // The same line and position, formatted without posting.
    TransferProgress record;
    record.receiveTotal = 10485760;
    record.received = 1572864;
    record.receiveSpeed = 262144;
    std::wstring line;
    int percent = -1;
    ASSERT_TRUE(FormatProgressLine(record, L"data.bin", 0, line, percent));
    EXPECT_EQ(line, seen[0].text);
    EXPECT_EQ(percent, 15);
    record.receiveTotal = 0;
    EXPECT_FALSE(FormatProgressLine(record, L"data.bin", 0, line, percent));
    EXPECT_EQ(line, seen[0].text);  // untouched
}

TEST_F(ProgressReportTest, SpeedUnitChangesAtOneMebibytePerSecond) {
    EXPECT_EQ(Report(1572864, 10485760, 2097152).at(0).text,
              L"Downloading data.bin 1.50 MB / 10.00 MB (2.0 MB/s)");
    EXPECT_EQ(Report(1572864, 10485760, 1048576).at(0).text,
              L"Downloading data.bin 1.50 MB / 10.00 MB (1.0 MB/s)");
    EXPECT_EQ(Report(1572864, 10485760, 1048575).at(0).text,
              L"Downloading data.bin 1.50 MB / 10.00 MB (1024.0 KB/s)");
}

TEST_F(ProgressReportTest, AResumedTransferCountsTheBytesOnDisk) {
    // 4 MiB on disk, 6 MiB to come, 1 MiB of it received.
    const auto seen = Report(1048576, 6291456, 0, 4194304.0f);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, L"Downloading data.bin 5.00 MB / 10.00 MB (0.0 KB/s)");
    EXPECT_EQ(seen[1].wParam, 50u);
}

TEST_F(ProgressReportTest, NothingIsPostedWhileTheSizeIsUnknown) {
    EXPECT_TRUE(Report(5000, 0, 1000).empty());
    // Resumed, before the answer's length arrived: not "100 percent" of the bytes on disk.
    EXPECT_TRUE(Report(0, 0, 0, 400.0f).empty());
}

TEST_F(ProgressReportTest, ALongLineIsCutToItsRoom) {
    const std::wstring name(400, L'n');
    const auto seen = Report(1572864, 10485760, 262144, 0, name);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].text, (L"Downloading " + name).substr(0, kProgressTextCapacity - 1));
}

TEST_F(ProgressReportTest, TheLineKeepsItsDecimalPointInAnyLocale) {
    // A toolkit may switch the process to a locale with a decimal comma.
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const auto local = Report(1572864, 10485760, 262144);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(local.at(0).text, L"Downloading data.bin 1.50 MB / 10.00 MB (256.0 KB/s)");
}

TEST_F(ProgressReportTest, APositionIsPostedOnlyWhenItChanges) {
    TransferProgress& record = Transfer(1000000);
    for (int step = 0; step <= 4000; ++step) {
        record.received = step * 250.0;
        ReportTransferProgress(&record);
    }
    const auto positions = Drain(WM_DL_SETPOS);
    ASSERT_EQ(positions.size(), 101u);
    for (std::size_t i = 0; i < positions.size(); ++i)
        EXPECT_EQ(positions[i].wParam, i);
}

TEST_F(ProgressReportTest, NotificationsWithoutNewBytesPostNoLineSoThePageSeesTheStall) {
    TransferProgress& record = Transfer(1048576);
    for (const double received : {524288.0, 524288.0, 524288.0, 786432.0}) {
        record.received = received;
        // Past the line interval, so only the byte count can hold a line back.
        std::this_thread::sleep_for(std::chrono::milliseconds(kProgressTextIntervalMs + 5));
        ReportTransferProgress(&record);
    }
    std::vector<std::wstring> seen;
    for (const WindowMessage& m : Drain(WM_DL_SETTEXT))
        seen.push_back(m.text);
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"Downloading a.bin 0.50 MB / 1.00 MB (0.0 KB/s)",
                                               L"Downloading a.bin 0.75 MB / 1.00 MB (0.0 KB/s)"}));
}

TEST_F(ProgressReportTest, AClosedPageStopsTheTransfer) {
    TransferProgress& record = Transfer(100);
    m_queue.Close();
    ReportTransferProgress(&record);
    EXPECT_TRUE(record.stop.load());
}

// --- Stopping ---------------------------------------------------------------------------------

class StopTest : public DownloadWorkerTest {
  protected:
    std::shared_ptr<WindowMessageQueue> m_queue = std::make_shared<WindowMessageQueue>();
};

TEST_F(StopTest, AStopDuringTheThirdOfFiveFilesEndsTheWorkerSilently) {
    std::vector<std::string> bodies;
    for (int i = 1; i <= 5; ++i) {
        bodies.push_back(Pattern(i == 3 ? 4000000 : 20000, 20 + i));
        const std::string name = "f" + std::to_string(i);
        AddEntry(name + ".bin", "/" + name, bodies.back());
        BodyOptions options;
        if (i == 3)
            options.bytesPerSecond = 400000;
        m_server.ServeBytes("/" + name, bodies.back(), options);
    }
    // The fourth is already partly there; it must stay as it is.
    ASSERT_TRUE(m_dir.WriteFile("f4.bin", bodies[3].substr(0, 1000)));

    Receiver receiver(m_queue);
    DownloadJob job;
    ASSERT_TRUE(job.Start(&m_patch, m_dir.WidePath(), m_queue));
    // A stop wakes the transfer at once: it comes once bytes of the third file are on disk.
    ASSERT_TRUE(receiver.WaitFor([this](const std::vector<WindowMessage>& seen) {
        return std::any_of(seen.begin(), seen.end(),
                           [](const WindowMessage& m) {
                               return !m.sent && m.id == WM_DL_SETTEXT &&
                                      m.text.find(L"f3.bin") != std::wstring::npos;
                           }) &&
               !m_dir.ReadFile("f3.bin").value_or("").empty();
    }));
    EXPECT_TRUE(job.Cancel());
    EXPECT_FALSE(job.IsRunning());
    receiver.Stop();
    EXPECT_EQ(job.LastFailure().cause, FailureClass::kStopped);
    EXPECT_EQ(job.LastFailure().subject, L"f3.bin");

    const auto messages = receiver.Messages();
    EXPECT_FALSE(Has(messages, WM_DL_FINISHED));
    const auto sent = SentOnly(messages);
    EXPECT_EQ(sent.size(), 3u);  // the start messages only
    EXPECT_EQ(m_dir.ReadFile("f1.bin"), bodies[0]);
    EXPECT_EQ(m_dir.ReadFile("f2.bin"), bodies[1]);
    const auto third = m_dir.ReadFile("f3.bin");
    ASSERT_TRUE(third.has_value());
    EXPECT_LT(third->size(), bodies[2].size());
    EXPECT_EQ(*third, bodies[2].substr(0, third->size()));
    EXPECT_EQ(m_dir.ReadFile("f4.bin"), bodies[3].substr(0, 1000));
    EXPECT_FALSE(m_dir.Exists("f5.bin"));
    EXPECT_TRUE(m_server.RequestsFor("/f4").empty());
    EXPECT_TRUE(m_server.RequestsFor("/f5").empty());
    // Every progress line carries the number of its file: "Downloading f3.bin ..." is file 3.
    for (const WindowMessage& m : Posted(messages, WM_DL_SETTEXT)) {
        if (m.lParam == 0) {
            EXPECT_EQ(m.text.substr(0, 14), L"Downloading f" + std::to_wstring(m.wParam))
                << WideToUtf8(m.text);
        }
    }
}

TEST_F(StopTest, AStalledTransferEndsWithinTheCancelWait) {
    AddEntry("a.bin", "/stall", Pattern(100000, 30));
    m_server.ServeStall("/stall", Pattern(1000, 30), 100000, std::chrono::minutes(5));
    Receiver receiver(m_queue);
    DownloadJob job;
    ASSERT_TRUE(job.Start(&m_patch, m_dir.WidePath(), m_queue));
    ASSERT_TRUE(receiver.WaitFor([](const std::vector<WindowMessage>& seen) {
        return std::any_of(seen.begin(), seen.end(),
                           [](const WindowMessage& m) { return !m.sent; });
    }));
    EXPECT_TRUE(job.Cancel());
    receiver.Stop();
    EXPECT_FALSE(Has(receiver.Messages(), WM_DL_FINISHED));
}

TEST_F(StopTest, CancelGivesUpAfterItsWaitWhenTheWorkerIsBlockedInASentMessage) {
    // Nobody drains the queue, so the worker waits in its first sent message.
    DownloadJob job;
    ASSERT_TRUE(job.Start(&m_patch, m_dir.WidePath(), m_queue));
    while (m_queue->PendingCount() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(job.Cancel());
    EXPECT_TRUE(job.IsRunning());
    // The page goes away: the worker is released, sees the stop and ends.
    m_queue->Close();
    EXPECT_TRUE(job.Cancel());
    EXPECT_FALSE(job.IsRunning());
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(StopTest, AJobRunsOneWorkerAtATime) {
    DownloadJob job;
    ASSERT_TRUE(job.Start(&m_patch, m_dir.WidePath(), m_queue));
    while (m_queue->PendingCount() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(job.Start(&m_patch, m_dir.WidePath(), m_queue));
    m_queue->Close();
    EXPECT_TRUE(job.Cancel());

    auto second = std::make_shared<WindowMessageQueue>();
    Receiver receiver(second);
    ASSERT_TRUE(job.Start(&m_patch, m_dir.WidePath(), second));
    ASSERT_TRUE(receiver.WaitFor(
        [](const std::vector<WindowMessage>& seen) { return Has(seen, WM_DL_FINISHED); }));
    EXPECT_TRUE(job.Cancel());
}

TEST_F(StopTest, TheWorkerOutlivesThePageAndTheCatalogueOnItsOwnCopy) {
    auto patch = std::make_unique<PatchEntry>();
    const std::string body = Pattern(2000000, 31);
    BodyOptions slow;
    slow.bytesPerSecond = 200000;
    m_server.ServeBytes("/slow", body, slow);
    auto entry = std::make_unique<DownloadEntry>();
    entry->target = L"slow.bin";
    entry->url = m_server.WideUrl("/slow");
    entry->md5 = Md5Of(body);
    entry->size = static_cast<std::int64_t>(body.size());
    patch->download_list.push_back(std::move(entry));

    std::weak_ptr<WindowMessageQueue> watch = m_queue;
    {
        Receiver receiver(m_queue);
        auto job = std::make_unique<DownloadJob>();
        ASSERT_TRUE(job->Start(patch.get(), m_dir.WidePath(), m_queue));
        ASSERT_TRUE(receiver.WaitFor([this](const std::vector<WindowMessage>& seen) {
            return std::any_of(seen.begin(), seen.end(),
                               [](const WindowMessage& m) { return !m.sent; }) &&
                   !m_dir.ReadFile("slow.bin").value_or("").empty();
        }));
        receiver.Stop();
        // The page, the catalogue and the job go away while the transfer runs.
        m_queue->Close();
        m_queue.reset();
        patch.reset();
        job.reset();
    }
    // The worker drops its last share of the queue when it has ended.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!watch.expired() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(watch.expired());
    const auto partial = m_dir.ReadFile("slow.bin");
    ASSERT_TRUE(partial.has_value());
    EXPECT_LT(partial->size(), body.size());
}

TEST_F(StopTest, AClosedQueueMeansNoMessageAndNoTransfer) {
    AddEntry("a.bin", "/a", "abc");
    m_server.ServeBytes("/a", "abc");
    m_queue->Close();
    EXPECT_EQ(DownloadWorker(MakeDownloadThreadData(&m_patch, m_dir.WidePath(), m_queue)), 0);
    EXPECT_EQ(m_queue->PendingCount(), 0u);
    EXPECT_TRUE(m_server.Requests().empty());
}

// Stops that come while no transfer runs: the worker reads a big sparse file and must give up
// within a few mebibytes rather than reading it to its end.
class StopWhileReadingTest : public StopTest {
  protected:
    static constexpr std::int64_t kBigFile = std::int64_t{128} << 20;
    // The digest of 128 MiB of zero bytes (head -c 134217728 /dev/zero | md5sum).
    static constexpr const wchar_t* kZeroDigest = L"fde9e0818281836e4fc0edfede2b8762";

    void SetUp() override {
        StopTest::SetUp();
        if (!BytesReadByProcess())
            GTEST_SKIP() << "needs /proc/self/io";
        ASSERT_TRUE(m_dir.WriteFile("big.bin", ""));
        std::filesystem::resize_file(m_dir.PathOf("big.bin"), kBigFile);
    }

    // Waits until `phase` was handled, then until the worker has read 16 MiB more, then
    // cancels; returns how much was read from the phase to the worker's end.
    std::uint64_t CancelWhileReading(Receiver& receiver, DownloadJob& job,
                                     std::function<bool(const WindowMessage&)> phase) {
        // The hook is in place before the worker starts, so the phase cannot slip past it; a
        // sent phase message holds the worker until the hook has counted.
        struct PhaseStart {
            std::promise<std::uint64_t> bytesRead;
            bool seen = false;
        };
        auto state = std::make_shared<PhaseStart>();
        receiver.OnMessage([state, phase](const WindowMessage& m) {
            if (state->seen || !phase(m))
                return;
            state->seen = true;
            state->bytesRead.set_value(*BytesReadByProcess());
        });
        auto counted = state->bytesRead.get_future();
        EXPECT_TRUE(job.Start(&m_patch, m_dir.WidePath(), m_queue));
        if (counted.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
            ADD_FAILURE() << "the phase never came";
            job.Cancel();
            return 0;
        }
        const std::uint64_t from = counted.get();
        while (*BytesReadByProcess() < from + (16u << 20) && job.IsRunning())
            std::this_thread::yield();
        EXPECT_TRUE(job.Cancel());
        return *BytesReadByProcess() - from;
    }
};

TEST_F(StopWhileReadingTest, AStopWhileHashingBeforeTheDecisionEndsTheWorker) {
    DownloadEntry& entry = AddEntry("big.bin", "/big", "not these bytes");
    entry.size = kBigFile;
    m_server.ServeBytes("/big", "not these bytes");
    Receiver receiver(m_queue);
    DownloadJob job;
    const std::uint64_t read = CancelWhileReading(
        receiver, job, [](const WindowMessage& m) { return m.id == WM_DL_SETRANGE; });
    receiver.Stop();
    EXPECT_LT(read, static_cast<std::uint64_t>(kBigFile) / 2);
    // Neither deleted nor fetched, and nothing said after the start messages.
    EXPECT_EQ(std::filesystem::file_size(m_dir.PathOf("big.bin")), kBigFile);
    EXPECT_TRUE(m_server.Requests().empty());
    EXPECT_EQ(SentOnly(receiver.Messages()).size(), 3u);
}

TEST_F(StopWhileReadingTest, AStopDuringTheVerificationEndsTheWorkerWithoutAVerdict) {
    DownloadEntry& entry = AddEntry("big.bin", "/big", "");
    entry.md5 = kZeroDigest;
    entry.size = kBigFile;
    Receiver receiver(m_queue);
    DownloadJob job;
    const std::uint64_t read = CancelWhileReading(receiver, job, [](const WindowMessage& m) {
        return m.id == WM_DL_SETTEXT && m.text == kVerifying;
    });
    receiver.Stop();
    EXPECT_LT(read, static_cast<std::uint64_t>(kBigFile) / 2);
    const auto messages = receiver.Messages();
    EXPECT_FALSE(Has(messages, WM_DL_FINISHED));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, kVerifying);  // no clearing text after the stop
    EXPECT_TRUE(m_server.Requests().empty());
}

}  // namespace
