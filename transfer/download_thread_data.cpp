#include "transfer/download_thread_data.h"

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
    std::shared_ptr<platform::WindowMessageQueue> queue) {
    auto data = std::make_shared<DownloadThreadData>();
    if (patch != nullptr)
        data->patch = CopyPatch(*patch);
    data->folder = folder;
    data->page_window = std::move(queue);
    return data;
}

void RequestStop(DownloadThreadData& data) {
    std::lock_guard<std::mutex> lock(data.transferLock);
    data.stop.store(true, std::memory_order_release);
    if (data.transfer != nullptr)
        data.transfer->stop.store(true, std::memory_order_release);
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
