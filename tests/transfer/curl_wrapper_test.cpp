#include "transfer/curl_wrapper.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "tests/support/loopback_server.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_bytes.h"
#include "text/utf8.h"

namespace {

constexpr std::uint32_t kMiB = 1024 * 1024;

// Common ground: a running server, a wrapper of our own (the global instance stays untouched),
// an aborted flag that starts out true and a failure that starts out as a cause no transfer
// gives, so a test sees whether the call wrote them.
class CurlWrapperTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.IsRunning()); }

    // The failure names the class and libcurl's code, with libcurl's own words and the URL.
    void ExpectFailure(FailureClass cause, int code, const std::string& url) {
        EXPECT_EQ(failure.cause, cause) << DescribeFailure(failure);
        EXPECT_EQ(failure.code, code) << DescribeFailure(failure);
        EXPECT_FALSE(failure.detail.empty());
        EXPECT_EQ(failure.subject, Utf8ToWide(std::string_view(url)));
    }

    LoopbackServer server;
    CCurlWrapper wrapper;
    bool aborted = true;
    Failure failure = MakeFailure(FailureClass::kBusy);
};

class MemoryFormTest : public CurlWrapperTest {
  protected:
    void TearDown() override { ReleaseBuffer(buffer); }

    bool Fetch(const std::string& path) {
        return wrapper.DownloadToMemory(server.Url(path), buffer, aborted, &failure);
    }
    std::string Body() const {
        if (buffer.bytes == nullptr || buffer.byteCount == 0) {
            return {};
        }
        return std::string(reinterpret_cast<const char*>(buffer.bytes), buffer.byteCount - 1);
    }
    bool IsEmpty() const { return buffer.bytes == nullptr && buffer.byteCount == 0; }

    MemoryBuffer buffer;
};

TEST_F(MemoryFormTest, ZeroByteBodyLeavesBufferEmpty) {
    server.ServeBytes("/empty", "");
    EXPECT_TRUE(Fetch("/empty"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
}

TEST_F(MemoryFormTest, TwoBlocksAreJoinedAndTerminated) {
    server.ServeBlocks("/blocks", {"ab", "cde"});
    ASSERT_TRUE(Fetch("/blocks"));
    EXPECT_FALSE(aborted);
    ASSERT_EQ(buffer.byteCount, 6u);
    EXPECT_EQ(std::memcmp(buffer.bytes, "abcde", 5), 0);
    EXPECT_EQ(buffer.bytes[5], 0);
}

TEST_F(MemoryFormTest, ManySmallBlocksArriveIntact) {
    const std::string body = PseudoRandomBytes(3 * kMiB + 17, 1);
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < body.size(); at += 4099) {
        blocks.push_back(body.substr(at, 4099));
    }
    server.ServeBlocks("/fine", std::move(blocks), std::chrono::milliseconds(0));
    ASSERT_TRUE(Fetch("/fine"));
    EXPECT_EQ(buffer.byteCount, body.size() + 1);
    EXPECT_TRUE(Body() == body);
    EXPECT_EQ(buffer.bytes[buffer.byteCount - 1], 0);
}

TEST_F(MemoryFormTest, BodyWithNulBytesIsKeptWhole) {
    const std::string body("ab\0cd", 5);
    server.ServeBytes("/nul", body);
    ASSERT_TRUE(Fetch("/nul"));
    EXPECT_EQ(buffer.byteCount, 6u);
    EXPECT_EQ(Body(), body);
}

TEST_F(MemoryFormTest, SecondFetchReplacesTheFirstBody) {
    server.ServeBytes("/long", std::string(5000, 'L'));
    server.ServeBytes("/short", "short");
    ASSERT_TRUE(Fetch("/long"));
    ASSERT_TRUE(Fetch("/short"));
    EXPECT_EQ(buffer.byteCount, 6u);
    EXPECT_EQ(Body(), "short");
}

TEST_F(MemoryFormTest, FailedFetchAfterSuccessLeavesBufferEmpty) {
    server.ServeBytes("/good", "good body");
    server.ServeCut("/cut", "partial", 100);
    ASSERT_TRUE(Fetch("/good"));
    EXPECT_FALSE(failure.IsFailure());
    EXPECT_EQ(wrapper.LastHttpStatus(), 200);
    EXPECT_FALSE(Fetch("/cut"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
    ExpectFailure(FailureClass::kNetwork, CURLE_PARTIAL_FILE, server.Url("/cut"));
}

TEST_F(MemoryFormTest, RedirectIsFollowedToTheFinalBody) {
    server.ServeRedirect("/old", "/new", 301);
    server.ServeBytes("/new", "final answer");
    ASSERT_TRUE(Fetch("/old"));
    EXPECT_EQ(Body(), "final answer");
    EXPECT_EQ(wrapper.LastHttpStatus(), 200);  // the final answer's, not the redirect's
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/old");
    EXPECT_EQ(requests[1].path, "/new");
}

TEST_F(MemoryFormTest, ErrorPageIsDeliveredAsBody) {
    const std::string page = "<html><body>Not here</body></html>";
    server.ServeStatus("/missing", 404, page);
    EXPECT_TRUE(Fetch("/missing"));
    EXPECT_FALSE(aborted);
    EXPECT_EQ(Body(), page);
    // A success to libcurl; the status is the only trace of what the server said.
    EXPECT_FALSE(failure.IsFailure());
    EXPECT_EQ(wrapper.LastHttpStatus(), 404);
}

TEST_F(MemoryFormTest, WideUrlReachesTheSameBody) {
    server.ServeBytes("/wide", "wide");
    ASSERT_TRUE(wrapper.DownloadToMemory(server.WideUrl("/wide"), buffer, aborted));
    EXPECT_EQ(Body(), "wide");
}

TEST_F(MemoryFormTest, ChunkedBodyWithoutLength) {
    const std::string body = PseudoRandomBytes(70000, 2);
    server.ServeWithoutLength("/chunked", body, true);
    ASSERT_TRUE(Fetch("/chunked"));
    EXPECT_TRUE(Body() == body);
}

TEST_F(MemoryFormTest, BodyEndedByClosingTheConnection) {
    const std::string body = PseudoRandomBytes(70000, 3);
    server.ServeWithoutLength("/close", body, false);
    ASSERT_TRUE(Fetch("/close"));
    EXPECT_TRUE(Body() == body);
}

TEST_F(MemoryFormTest, CutConnectionFails) {
    server.ServeCut("/cut", std::string(1000, 'x'), 5000);
    EXPECT_FALSE(Fetch("/cut"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
}

TEST(ReleaseBufferTest, EmptiesAFilledBufferAndIgnoresAnEmptyOne) {
    MemoryBuffer buffer;
    ReleaseBuffer(buffer);
    EXPECT_EQ(buffer.bytes, nullptr);
    buffer.bytes = static_cast<unsigned char*>(std::malloc(4));
    buffer.byteCount = 4;
    ReleaseBuffer(buffer);
    EXPECT_EQ(buffer.bytes, nullptr);
    EXPECT_EQ(buffer.byteCount, 0u);
    ReleaseBuffer(buffer);  // a second release finds nothing to free
    EXPECT_EQ(buffer.bytes, nullptr);
}

// A block has one owner at a time; the leak and double-free checks of the sanitizer runs see
// whether the destructor and the assignment free what they must.
TEST(ReleaseBufferTest, OwnershipMovesWithTheBuffer) {
    static_assert(!std::is_copy_constructible_v<MemoryBuffer>);
    static_assert(!std::is_copy_assignable_v<MemoryBuffer>);
    MemoryBuffer first;
    first.bytes = static_cast<unsigned char*>(std::malloc(3));
    first.byteCount = 3;
    unsigned char* const block = first.bytes;

    MemoryBuffer second(std::move(first));
    EXPECT_EQ(first.bytes, nullptr);
    EXPECT_EQ(first.byteCount, 0u);
    EXPECT_EQ(second.bytes, block);
    EXPECT_EQ(second.byteCount, 3u);

    MemoryBuffer third;
    third.bytes = static_cast<unsigned char*>(std::malloc(5));
    third.byteCount = 5;
    third = std::move(second);  // frees third's own block
    EXPECT_EQ(third.bytes, block);
    EXPECT_EQ(third.byteCount, 3u);
    EXPECT_EQ(second.bytes, nullptr);
    third = std::move(third);
    EXPECT_EQ(third.bytes, block);
}

// The cap counts body bytes only: a body of exactly kMaxMemoryBody fits (with its NUL after it).
class MemoryCapTest : public MemoryFormTest {};

TEST_F(MemoryCapTest, BodyOfExactlyTheCapIsAccepted) {
    const std::string body = PseudoRandomBytes(kMaxMemoryBody, 4);
    server.ServeBytes("/cap", body);
    ASSERT_TRUE(Fetch("/cap"));
    EXPECT_EQ(buffer.byteCount, kMaxMemoryBody + 1);
    EXPECT_TRUE(Body() == body);
}

TEST_F(MemoryCapTest, AnnouncedBodyOverTheCapIsRefused) {
    server.ServeBytes("/over", std::string(kMaxMemoryBody + 1, 'o'));
    EXPECT_FALSE(Fetch("/over"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
    ExpectFailure(FailureClass::kTooLarge, CURLE_FILESIZE_EXCEEDED, server.Url("/over"));
}

TEST_F(MemoryCapTest, UnannouncedBodyOverTheCapIsRefused) {
    server.ServeWithoutLength("/endless", std::string(kMaxMemoryBody + 1, 'e'), true);
    EXPECT_FALSE(Fetch("/endless"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
    ExpectFailure(FailureClass::kTooLarge, CURLE_WRITE_ERROR, server.Url("/endless"));
}

TEST_F(MemoryCapTest, UnannouncedBodyOfExactlyTheCapIsAccepted) {
    server.ServeWithoutLength("/full", std::string(kMaxMemoryBody, 'f'), false);
    ASSERT_TRUE(Fetch("/full"));
    EXPECT_EQ(buffer.byteCount, kMaxMemoryBody + 1);
}

// File form: a real file in a temporary folder, opened and closed by the test as a caller would.
// Keeps every byte the file form says it wrote, in order.
class RecordingTap : public FileWriteTap {
  public:
    void Written(const unsigned char* data, std::size_t length) override {
        bytes.append(reinterpret_cast<const char*>(data), length);
    }
    std::string bytes;
};

class FileFormTest : public CurlWrapperTest {
  protected:
    void SetUp() override {
        CurlWrapperTest::SetUp();
        ASSERT_TRUE(folder.IsValid());
    }
    void TearDown() override { CloseFile(); }

    bool OpenFile(const char* mode) {
        file = std::fopen(folder.NarrowPathOf("download.bin").c_str(), mode);
        return file != nullptr;
    }
    void CloseFile() {
        if (file != nullptr) {
            std::fclose(file);
            file = nullptr;
        }
    }
    bool Fetch(const std::string& path, std::int64_t offset, TransferProgress* progress) {
        return wrapper.DownloadToFile(server.Url(path), file, offset, progress, aborted, &failure,
                                      0, &tap);
    }
    // What the file holds once the caller has closed it.
    std::string Written() {
        CloseFile();
        return folder.ReadFile("download.bin").value_or("<unreadable>");
    }

    TempDir folder;
    std::FILE* file = nullptr;
    RecordingTap tap;
};

// What the notifications looked like, gathered by the notify function through context.
struct NotifyLog {
    int calls = 0;
    bool receivedWentBack = false;
    double lastReceived = 0;
    double lastTotal = 0;
    double lastSpeed = 0;
    // Raises stop itself once this many bytes have arrived (0: never).
    double stopAfter = 0;
    std::atomic<bool> reachedStopPoint{false};
};

void RecordNotification(TransferProgress* progress) {
    auto* log = static_cast<NotifyLog*>(progress->context);
    ++log->calls;
    log->receivedWentBack = log->receivedWentBack || progress->received < log->lastReceived;
    log->lastReceived = progress->received;
    log->lastTotal = progress->receiveTotal;
    log->lastSpeed = progress->receiveSpeed;
    if (log->stopAfter > 0 && progress->received >= log->stopAfter) {
        log->reachedStopPoint = true;
    }
}

TEST_F(FileFormTest, WholeBodyIsWrittenAndProgressReported) {
    ASSERT_EQ(g_pCurlWrapper, nullptr);  // the speed must come from this wrapper's own transfer
    const std::string body = PseudoRandomBytes(200000, 5);
    BodyOptions paced;
    paced.bytesPerSecond = 400000;
    server.ServeBytes("/file", body, paced);
    NotifyLog log;
    TransferProgress progress;
    progress.notify = &RecordNotification;
    progress.context = &log;
    ASSERT_TRUE(OpenFile("wb"));
    ASSERT_TRUE(Fetch("/file", 0, &progress));
    EXPECT_FALSE(aborted);
    EXPECT_FALSE(failure.IsFailure());
    EXPECT_TRUE(Written() == body);
    EXPECT_GT(log.calls, 1);
    EXPECT_TRUE(tap.bytes == body);
    EXPECT_FALSE(log.receivedWentBack);
    EXPECT_EQ(log.lastReceived, static_cast<double>(body.size()));
    EXPECT_EQ(log.lastTotal, static_cast<double>(body.size()));
    EXPECT_GT(log.lastSpeed, 0.0);
}

TEST_F(FileFormTest, NullProgressRecordRunsToTheEnd) {
    const std::string body = PseudoRandomBytes(100000, 6);
    server.ServeBytes("/file", body);
    ASSERT_TRUE(OpenFile("wb"));
    ASSERT_TRUE(Fetch("/file", 0, nullptr));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(Written() == body);
}

TEST_F(FileFormTest, AnErrorPageNeverReachesTheFile) {
    server.ServeStatus("/missing", 404, "<html>gone</html>");
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(Fetch("/missing", 0, nullptr));
    EXPECT_FALSE(aborted);
    EXPECT_EQ(Written(), "");
    EXPECT_EQ(tap.bytes, "");
    ExpectFailure(FailureClass::kHttpStatus, 404, server.Url("/missing"));
    EXPECT_EQ(failure.detail, "Not Found");
    EXPECT_EQ(wrapper.LastHttpStatus(), 404);
}

TEST_F(FileFormTest, AnErrorPageToAResumeKeepsTheEarlierBytes) {
    server.ServeStatus("/busy", 503, "<html>try later</html>", {{"Retry-After", "7"}});
    ASSERT_TRUE(folder.WriteFile("download.bin", "earlier"));
    ASSERT_TRUE(OpenFile("ab"));
    EXPECT_FALSE(Fetch("/busy", 7, nullptr));
    EXPECT_EQ(Written(), "earlier");
    ExpectFailure(FailureClass::kHttpStatus, 503, server.Url("/busy"));
    EXPECT_EQ(failure.detail, "Service Unavailable");
    EXPECT_EQ(wrapper.LastRetryAfterSeconds(), 7);
}

TEST_F(FileFormTest, AnEmptyErrorAnswerFailsAsWell) {
    server.ServeStatus("/empty", 500, "");
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(Fetch("/empty", 0, nullptr));
    ExpectFailure(FailureClass::kHttpStatus, 500, server.Url("/empty"));
    // Neither seconds nor a date: as if the header were absent.
    EXPECT_EQ(wrapper.LastRetryAfterSeconds(), -1);
}

TEST_F(FileFormTest, RetryAfterAsAnHttpDateInThePastMeansNow) {
    server.ServeStatus("/busy", 429, "slow down",
                       {{"Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"}});
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(Fetch("/busy", 0, nullptr));
    ExpectFailure(FailureClass::kHttpStatus, 429, server.Url("/busy"));
    EXPECT_EQ(wrapper.LastRetryAfterSeconds(), 0);
}

// --- The listed size as a cap ------------------------------------------------------------------

TEST_F(FileFormTest, AnAnnouncedLengthOverTheCapFailsBeforeAnyByte) {
    server.ServeBytes("/big", PseudoRandomBytes(5000, 31));
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(
        wrapper.DownloadToFile(server.Url("/big"), file, 0, nullptr, aborted, &failure, 4999));
    EXPECT_EQ(Written(), "");
    EXPECT_EQ(failure.cause, FailureClass::kTooLarge) << DescribeFailure(failure);
}

TEST_F(FileFormTest, AResumeCountsTheBytesOnDiskAgainstTheCap) {
    const std::string body = PseudoRandomBytes(5000, 32);
    server.ServeBytes("/file", body);
    ASSERT_TRUE(folder.WriteFile("download.bin", body.substr(0, 1000)));
    ASSERT_TRUE(OpenFile("ab"));
    // 4000 more bytes are announced; 1000 + 4000 fits 5000 exactly, not 4999.
    EXPECT_FALSE(
        wrapper.DownloadToFile(server.Url("/file"), file, 1000, nullptr, aborted, &failure, 4999));
    EXPECT_EQ(failure.cause, FailureClass::kTooLarge) << DescribeFailure(failure);
    EXPECT_EQ(Written(), body.substr(0, 1000));
    ASSERT_TRUE(OpenFile("ab"));
    EXPECT_TRUE(
        wrapper.DownloadToFile(server.Url("/file"), file, 1000, nullptr, aborted, &failure, 5000));
    EXPECT_TRUE(Written() == body);
}

TEST_F(FileFormTest, ABodyWithoutALengthStopsAtTheCap) {
    const std::string body = PseudoRandomBytes(50000, 33);
    server.ServeWithoutLength("/endless", body, true);
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(
        wrapper.DownloadToFile(server.Url("/endless"), file, 0, nullptr, aborted, &failure, 20000));
    EXPECT_EQ(failure.cause, FailureClass::kTooLarge) << DescribeFailure(failure);
    const std::string written = Written();
    EXPECT_LE(written.size(), 20000u);
    EXPECT_TRUE(written == body.substr(0, written.size()));
}

TEST_F(FileFormTest, AFileAlreadyAtItsCapTakesNoMoreBytes) {
    server.ServeWithoutLength("/more", "x", false);
    ASSERT_TRUE(folder.WriteFile("download.bin", "full"));
    ASSERT_TRUE(OpenFile("ab"));
    EXPECT_FALSE(
        wrapper.DownloadToFile(server.Url("/more"), file, 4, nullptr, aborted, &failure, 4));
    EXPECT_EQ(Written(), "full");
}

TEST_F(FileFormTest, AStreamThatRefusesWritesFailsWithItsErrno) {
    server.ServeBytes("/file", PseudoRandomBytes(5000, 13));
    ASSERT_TRUE(folder.WriteFile("download.bin", "old"));
    ASSERT_TRUE(OpenFile("rb"));
    EXPECT_FALSE(Fetch("/file", 0, nullptr));
    EXPECT_FALSE(aborted);
    EXPECT_EQ(failure.cause, FailureClass::kSystem) << DescribeFailure(failure);
    // A block the stream did not take is not shown as written.
    EXPECT_EQ(tap.bytes, "");
    EXPECT_EQ(failure.code, EBADF);
    EXPECT_EQ(failure.subject, server.WideUrl("/file"));
    EXPECT_EQ(Written(), "old");
}

TEST_F(FileFormTest, StopFromAnotherThreadKeepsTheBytesAlreadyWritten) {
    const std::string head = PseudoRandomBytes(3000, 7);
    server.ServeStall("/stall", head, 100000, std::chrono::seconds(60));
    NotifyLog log;
    log.stopAfter = static_cast<double>(head.size());
    TransferProgress progress;
    progress.notify = &RecordNotification;
    progress.context = &log;
    // The page's side: wait until the head has arrived, then ask the transfer to stop. While
    // the server is silent only the periodic notification can see the request.
    std::thread page([&] {
        for (int i = 0; i < 2000 && !log.reachedStopPoint.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        progress.stop.store(true);
    });
    ASSERT_TRUE(OpenFile("wb"));
    const bool result = Fetch("/stall", 0, &progress);
    page.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(aborted);
    ExpectFailure(FailureClass::kStopped, CURLE_ABORTED_BY_CALLBACK, server.Url("/stall"));
    EXPECT_TRUE(log.reachedStopPoint.load());
    EXPECT_TRUE(Written() == head);
}

TEST_F(FileFormTest, StopRaisedBeforeTheCallEndsItAtOnce) {
    server.ServeStall("/stall", "", 1000, std::chrono::seconds(60));
    TransferProgress progress;
    progress.stop = true;
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(Fetch("/stall", 0, &progress));
    EXPECT_TRUE(aborted);
}

TEST_F(FileFormTest, ResumeAsksForTheRestAndAppends) {
    const std::string body = PseudoRandomBytes(1000, 8);
    server.ServeBytes("/file", body);
    ASSERT_TRUE(folder.WriteFile("download.bin", body.substr(0, 400)));
    NotifyLog log;
    TransferProgress progress;
    progress.notify = &RecordNotification;
    progress.context = &log;
    ASSERT_TRUE(OpenFile("ab"));
    ASSERT_TRUE(Fetch("/file", 400, &progress));
    EXPECT_TRUE(Written() == body);
    EXPECT_TRUE(tap.bytes == body.substr(400));
    const auto requests = server.RequestsFor("/file");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=400-");
    // The record counts only what this transfer brings.
    EXPECT_EQ(log.lastTotal, 600.0);
    EXPECT_EQ(log.lastReceived, 600.0);
}

TEST_F(FileFormTest, ResumeOffsetBeyondFourGibibytesReachesTheServer) {
    server.ServeBytes("/file", "small");
    ASSERT_TRUE(OpenFile("ab"));
    const std::int64_t offset = 5'000'000'000;
    Fetch("/file", offset, nullptr);  // the small body cannot satisfy it; the request matters
    const auto requests = server.RequestsFor("/file");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=5000000000-");
    EXPECT_EQ(Written(), "");
}

// A resume the server does not honour appends nothing: the whole body behind the first 400
// bytes would corrupt the file. A server that ignores the range fails the transfer; a 416 libcurl
// takes as "nothing left to fetch" and reports success, and the download worker's digest check
// is what catches a file that is still wrong.
struct ResumeCase {
    const char* name;
    RangeMode mode;
    unsigned seed;
    bool fetched;
};

class ResumeRangeTest : public FileFormTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeRangeTest, AppendsNothingToThePart) {
    const ResumeCase& row = GetParam();
    const std::string body = PseudoRandomBytes(1000, row.seed);
    BodyOptions options;
    options.ranges = row.mode;
    server.ServeBytes("/file", body, options);
    ASSERT_TRUE(folder.WriteFile("download.bin", body.substr(0, 400)));
    ASSERT_TRUE(OpenFile("ab"));
    EXPECT_EQ(Fetch("/file", 400, nullptr), row.fetched);
    EXPECT_FALSE(aborted);
    if (row.fetched) {
        EXPECT_EQ(wrapper.LastHttpStatus(), 416);
    } else {
        ExpectFailure(FailureClass::kNetwork, CURLE_RANGE_ERROR, server.Url("/file"));
        EXPECT_EQ(tap.bytes, "");
    }
    EXPECT_TRUE(Written() == body.substr(0, 400));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ResumeRangeTest,
    ::testing::Values(ResumeCase{"IgnoringRangesFails", RangeMode::kIgnore, 9, false},
                      ResumeCase{"RefusingWithStatus416", RangeMode::kRefuse, 10, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileFormTest, CutConnectionFailsAndKeepsWhatArrived) {
    const std::string head = PseudoRandomBytes(2000, 11);
    server.ServeCut("/cut", head, 10000);
    ASSERT_TRUE(OpenFile("wb"));
    EXPECT_FALSE(Fetch("/cut", 0, nullptr));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(Written() == head);
    EXPECT_TRUE(tap.bytes == head);
}

TEST_F(FileFormTest, NullFileOrNegativeOffsetStartsNoTransfer) {
    server.ServeBytes("/file", "data");
    EXPECT_FALSE(
        wrapper.DownloadToFile(server.Url("/file"), nullptr, 0, nullptr, aborted, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    ASSERT_TRUE(OpenFile("wb"));
    failure = Failure{};
    EXPECT_FALSE(Fetch("/file", -1, nullptr));
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    EXPECT_TRUE(aborted);  // untouched
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(FileFormTest, WideUrlAndChunkedBody) {
    const std::string body = PseudoRandomBytes(50000, 12);
    server.ServeWithoutLength("/chunked", body, true);
    ASSERT_TRUE(OpenFile("wb"));
    ASSERT_TRUE(wrapper.DownloadToFile(server.WideUrl("/chunked"), file, 0, nullptr, aborted));
    EXPECT_TRUE(Written() == body);
}

// The launcher's own bounds: failures that libcurl's defaults would not produce, or only after
// waiting without end.
class TransferLimitsTest : public MemoryFormTest {};

TEST_F(TransferLimitsTest, EmptyUrlFailsInTheLibrary) {
    EXPECT_FALSE(wrapper.DownloadToMemory(std::string(), buffer, aborted));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
}

TEST_F(TransferLimitsTest, UrlWithEmbeddedNulIsRefusedBeforeAnyTransfer) {
    server.ServeBytes("/a", "a");
    std::string url = server.Url("/a");
    url += std::string("\0/b", 3);
    EXPECT_FALSE(wrapper.DownloadToMemory(url, buffer, aborted, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kNetwork);
    EXPECT_EQ(failure.code, CURLE_URL_MALFORMAT);
    EXPECT_TRUE(aborted);  // untouched: no transfer was made
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(TransferLimitsTest, TwentyRedirectsAreFollowed) {
    server.ServeRedirectChain("/hop", 20, "arrived");
    ASSERT_TRUE(Fetch("/hop/0"));
    EXPECT_EQ(Body(), "arrived");
}

TEST_F(TransferLimitsTest, TwentyFirstRedirectFails) {
    server.ServeRedirectChain("/hop", 21, "arrived");
    EXPECT_FALSE(Fetch("/hop/0"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
    EXPECT_TRUE(server.RequestsFor("/hop/21").empty());
}

TEST_F(TransferLimitsTest, FileSchemeIsRefused) {
    TempDir folder;
    ASSERT_TRUE(folder.WriteFile("secret.txt", "local secret"));
    EXPECT_FALSE(
        wrapper.DownloadToMemory("file://" + folder.NarrowPathOf("secret.txt"), buffer, aborted));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
}

TEST_F(TransferLimitsTest, RedirectToFileSchemeIsRefused) {
    TempDir folder;
    ASSERT_TRUE(folder.WriteFile("secret.txt", "local secret"));
    server.ServeRedirect("/sneaky", "file://" + folder.NarrowPathOf("secret.txt"));
    EXPECT_FALSE(Fetch("/sneaky"));
    EXPECT_TRUE(IsEmpty());
}

TEST_F(TransferLimitsTest, UnreachablePortFails) {
    std::string url;
    {
        LoopbackServer gone;
        ASSERT_TRUE(gone.IsRunning());
        url = gone.Url("/anything");
    }
    EXPECT_FALSE(wrapper.DownloadToMemory(url, buffer, aborted, &failure));
    EXPECT_FALSE(aborted);
    ExpectFailure(FailureClass::kNetwork, CURLE_COULDNT_CONNECT, url);
    EXPECT_EQ(wrapper.LastHttpStatus(), 0);
}

TEST_F(TransferLimitsTest, StalledMemoryTransferTimesOut) {
    wrapper.SetLowSpeedTime(2);
    server.ServeStall("/stall", "", 1000, std::chrono::seconds(60));
    EXPECT_FALSE(Fetch("/stall"));
    EXPECT_FALSE(aborted);
    EXPECT_TRUE(IsEmpty());
    ExpectFailure(FailureClass::kStalled, CURLE_OPERATION_TIMEDOUT, server.Url("/stall"));
}

// The check before the offer is cancelled from the window's thread: the fetch must end on the
// stop, long before the stall rule or the overall limit would end it.
TEST_F(TransferLimitsTest, StopEndsAMemoryTransferThatWaitsForTheServer) {
    wrapper.SetLowSpeedTime(120);
    wrapper.SetMemoryTimeLimit(120);
    server.ServeStall("/stall", "<patch", 1000, std::chrono::seconds(120));
    std::atomic<bool> stop{false};
    std::thread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.store(true);
    });
    const bool fetched =
        wrapper.DownloadToMemory(server.Url("/stall"), buffer, aborted, &failure, &stop);
    canceller.join();
    EXPECT_FALSE(fetched);
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(IsEmpty());
    ExpectFailure(FailureClass::kStopped, CURLE_ABORTED_BY_CALLBACK, server.Url("/stall"));

    // Raised before the call, nothing is asked of the server at all.
    server.ClearRequests();
    aborted = false;
    EXPECT_FALSE(wrapper.DownloadToMemory(server.Url("/stall"), buffer, aborted, &failure, &stop));
    EXPECT_TRUE(aborted);
    EXPECT_EQ(failure.cause, FailureClass::kStopped);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(TransferLimitsTest, StalledFileTransferTimesOutKeepingTheHead) {
    TempDir folder;
    wrapper.SetLowSpeedTime(2);
    // One byte only: libcurl averages the speed over a few seconds, and a larger head would
    // keep that average above the limit for longer than the test needs.
    server.ServeStall("/stall", "h", 1000, std::chrono::seconds(60));
    std::FILE* file = std::fopen(folder.NarrowPathOf("part.bin").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(wrapper.DownloadToFile(server.Url("/stall"), file, 0, nullptr, aborted));
    std::fclose(file);
    EXPECT_FALSE(aborted);
    EXPECT_EQ(folder.ReadFile("part.bin"), "h");
}

TEST_F(TransferLimitsTest, ATricklingCatalogueRunsOutOfItsOverallTime) {
    wrapper.SetMemoryTimeLimit(1);
    // Every block keeps the transfer above the stall rule; only the overall limit ends it.
    server.ServeBlocks("/trickle", std::vector<std::string>(40, "x"),
                       std::chrono::milliseconds(100));
    EXPECT_FALSE(Fetch("/trickle"));
    EXPECT_TRUE(IsEmpty());
    ExpectFailure(FailureClass::kStalled, CURLE_OPERATION_TIMEDOUT, server.Url("/trickle"));
    EXPECT_EQ(CCurlWrapper().MemoryTimeLimit(), kMemoryTimeLimitSeconds);
}

TEST_F(TransferLimitsTest, TheFileFormHasNoOverallTimeLimit) {
    TempDir folder;
    wrapper.SetMemoryTimeLimit(1);
    server.ServeBlocks("/trickle", std::vector<std::string>(15, "x"),
                       std::chrono::milliseconds(100));
    std::FILE* file = std::fopen(folder.NarrowPathOf("part.bin").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(wrapper.DownloadToFile(server.Url("/trickle"), file, 0, nullptr, aborted));
    std::fclose(file);
    EXPECT_EQ(folder.ReadFile("part.bin"), std::string(15, 'x'));
}

// A server that keeps connections open sees the two requests of a run come over one, even from
// two wrappers (the catalogue's and the download worker's).
TEST_F(TransferLimitsTest, EveryRequestNamesTheLauncherAndOnlyTheCatalogueTakesCompression) {
    TempDir folder;
    LoopbackServer keeping(2);
    CCurlWrapper kept;
    CCurlWrapper worker;
    keeping.ServeBytes("/catalogue", "<patchinfo/>");
    keeping.ServeBytes("/file", "bytes");
    ASSERT_TRUE(kept.DownloadToMemory(keeping.Url("/catalogue"), buffer, aborted));
    std::FILE* file = std::fopen(folder.NarrowPathOf("part.bin").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(worker.DownloadToFile(keeping.Url("/file"), file, 0, nullptr, aborted));
    std::fclose(file);
    const auto requests = keeping.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const LoggedRequest& request : requests)
        EXPECT_EQ(request.userAgent, std::string("velmora-launcher/") + VELMORA_VERSION_TEXT);
    EXPECT_NE(requests[0].acceptEncoding.find("gzip"), std::string::npos)
        << requests[0].acceptEncoding;
    EXPECT_EQ(requests[1].acceptEncoding, "");
    EXPECT_EQ(requests[0].clientPort, requests[1].clientPort);
}

// The environment variable is read when a wrapper is made; bad values keep the minute.
class LowSpeedHookTest : public ::testing::Test {
  protected:
    long TimeWith(const char* value) {
        m_time.Set(value);
        return CCurlWrapper().LowSpeedTime();
    }
    long LimitWith(const char* value) {
        m_limit.Set(value);
        return CCurlWrapper().MemoryTimeLimit();
    }

    ScopedEnv m_time{kLowSpeedTimeVariable, std::nullopt};
    ScopedEnv m_limit{kMemoryTimeLimitVariable, std::nullopt};
};

TEST_F(LowSpeedHookTest, ValidValueReplacesTheDefault) {
    EXPECT_EQ(TimeWith("3"), 3);
    EXPECT_EQ(TimeWith("3600"), 3600);
    // The catalogue's overall limit has a hook of its own, read the same way.
    EXPECT_EQ(LimitWith("5"), 5);
    EXPECT_EQ(CCurlWrapper().LowSpeedTime(), 3600);
}

TEST_F(LowSpeedHookTest, InvalidValuesKeepTheDefault) {
    for (const char* value : {"", "0", "-5", "3601", "2s", "abc", "99999999999999999999"}) {
        EXPECT_EQ(TimeWith(value), kLowSpeedTimeSeconds) << value;
    }
    m_time.Set(std::nullopt);
    EXPECT_EQ(CCurlWrapper().LowSpeedTime(), kLowSpeedTimeSeconds);
    for (const char* value : {"", "0", "3601", "1m"}) {
        EXPECT_EQ(LimitWith(value), kMemoryTimeLimitSeconds) << value;
    }
}

}  // namespace
