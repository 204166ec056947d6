#include "transfer/download_thread_data.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

std::unique_ptr<PatchEntry> CopyPatch(const PatchEntry& patch) {
    auto copy = std::make_unique<PatchEntry>();
    copy->version = patch.version;
    copy->installer = patch.installer;
    copy->download_list.reserve(patch.download_list.size());
    for (const auto& entry : patch.download_list)
        copy->download_list.push_back(entry ? std::make_unique<DownloadEntry>(*entry) : nullptr);
    return copy;
}

}  // namespace

std::shared_ptr<DownloadThreadData> MakeDownloadThreadData(
    const PatchEntry* patch, const std::wstring& folder,
    std::shared_ptr<platform::WindowMessageQueue> queue, std::wstring digestCachePath,
    std::wstring gameFolder, std::int64_t rateLimit) {
    auto data = std::make_shared<DownloadThreadData>();
    if (patch != nullptr)
        data->patch = CopyPatch(*patch);
    data->folder = folder;
    data->gameFolder = std::move(gameFolder);
    data->page_window = std::move(queue);
    data->digestCache = std::make_unique<DigestCache>(std::move(digestCachePath));
    data->curl.SetReceiveRateLimit(rateLimit);
    if (const char* text = std::getenv(kConnectionsVariable)) {
        const std::string_view value(text);
        std::size_t connections = 0;
        const auto [last, error] =
            std::from_chars(value.data(), value.data() + value.size(), connections);
        if (error == std::errc{} && last == value.data() + value.size() && connections >= 1 &&
            connections <= kMaxConnections)
            data->connections = connections;
    }
    return data;
}

PageTransfer::PageTransfer(DownloadThreadData& data, const std::wstring& displayName,
                           std::int64_t baseBytes)
    : m_data(data) {
    m_context.displayName = displayName;
    m_context.windowCell = data.page_window.get();
    m_context.fileNumber = data.fileNumber;
    m_context.baseBytes = static_cast<float>(baseBytes);
    m_record.notify = &ReportTransferProgress;
    m_record.context = &m_context;
    std::lock_guard<std::mutex> lock(data.transferLock);
    if (data.stop.load(std::memory_order_acquire))
        m_record.stop.store(true, std::memory_order_release);
    data.transfer = &m_record;
    m_published = true;
}

void PageTransfer::Withdraw() {
    if (!m_published)
        return;
    std::lock_guard<std::mutex> lock(m_data.transferLock);
    m_data.transfer = nullptr;
    m_published = false;
}

void RequestStop(DownloadThreadData& data) {
    std::lock_guard<std::mutex> lock(data.transferLock);
    data.stop.store(true, std::memory_order_release);
    if (data.transfer != nullptr)
        data.transfer->stop.store(true, std::memory_order_release);
    data.curl.Wake();
    data.stopSignal.notify_all();
}

bool WaitBeforeRetry(DownloadThreadData& data, std::chrono::milliseconds pause) {
    // The page closing its queue signals nothing here; a short step notices it all the same.
    constexpr auto kStep = std::chrono::milliseconds(50);
    const auto until = std::chrono::steady_clock::now() + pause;
    std::unique_lock<std::mutex> lock(data.transferLock);
    while (!WorkerStopped(data)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        data.stopSignal.wait_for(lock,
                                 std::min<std::chrono::steady_clock::duration>(kStep, until - now));
    }
    return false;
}

bool WorkerStopped(const DownloadThreadData& data) {
    return data.stop.load(std::memory_order_acquire) || data.page_window == nullptr ||
           data.page_window->IsClosed();
}

void DownloadThreadData::RecordFailure(const Failure& failure) {
    std::lock_guard<std::mutex> lock(m_failureLock);
    if (failure.IsFailure() && !m_failure.IsFailure())
        m_failure = failure;
}

Failure DownloadThreadData::LastFailure() const {
    std::lock_guard<std::mutex> lock(m_failureLock);
    return m_failure;
}

void DownloadThreadData::PublishDeltas() {
    std::lock_guard<std::mutex> lock(m_failureLock);
    m_published = deltas;
    m_published.fetchedBytes = bytesFetched;
}

DeltaTally DownloadThreadData::Deltas() const {
    std::lock_guard<std::mutex> lock(m_failureLock);
    return m_published;
}
