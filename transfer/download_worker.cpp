#include "transfer/download_worker.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

#include "text/messages.h"
#include "platform/platform.h"
#include "transfer/download_path.h"
#include "transfer/md5.h"
#include "transfer/verify.h"

namespace {

// Nobody is left to tell: the page asked for a stop, or it went away and closed its queue.
bool Stopped(const DownloadThreadData& data) {
    return data.stop.load(std::memory_order_acquire) || data.page_window == nullptr ||
           data.page_window->IsClosed();
}

// A stopped worker says nothing more, so every message goes through here.
bool SendToPage(const DownloadThreadData& data, std::uint32_t id, std::uintptr_t wParam,
                std::intptr_t lParam, std::wstring text = {}) {
    if (Stopped(data))
        return false;
    return data.page_window->Send(id, wParam, lParam, std::move(text)) && !Stopped(data);
}

// printf's "%.<precision>f" without the C locale's say: a GUI toolkit may have switched the
// process to a locale that writes a decimal comma.
void AppendFixed(std::wstring& out, double value, int precision) {
    char digits[128];
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc{}) {
        out += L'?';
        return;
    }
    out.append(digits, result.ptr);
}

// A resumed transfer "succeeds" in libcurl's eyes also when the server refused the range (416,
// nothing written) or found nothing left to send. Only a file that now has its listed size was
// really completed; anything else is started over, so a range the server will never honour
// cannot fail the same way on every retry.
bool ResumeCompleted(const std::wstring& path, std::int64_t expectedSize) {
    std::int64_t size = 0;
    return platform::GetFileSize(path, size) && size == expectedSize;
}

enum class EntryOutcome { kNext, kStop };

// Keeps, resumes or fetches one entry whose path is already built.
EntryOutcome BringEntry(DownloadThreadData& data, const DownloadEntry& entry,
                        const std::wstring& path) {
    bool aborted = false;
    if (platform::FileExists(path)) {
        const std::wstring digest = CMD5Wrapper().FileHashW(path, &data.stop);
        if (Stopped(data))
            return EntryOutcome::kStop;
        if (digest == entry.md5)
            return EntryOutcome::kNext;

        std::int64_t size = 0;
        if (platform::GetFileSize(path, size) && size < entry.size) {
            const bool resumed = DownloadFile(entry.target, aborted, data, entry.url, path, size);
            if (aborted || Stopped(data))
                return EntryOutcome::kStop;
            if (resumed && ResumeCompleted(path, entry.size))
                return EntryOutcome::kNext;
        }
        // A failed removal is left to the "wb" open, which truncates or fails.
        platform::RemoveFile(path);
    }
    // Its result is left to the verification, which catches whatever this did not bring.
    DownloadFile(entry.target, aborted, data, entry.url, path, 0);
    if (aborted || Stopped(data))
        return EntryOutcome::kStop;
    return EntryOutcome::kNext;
}

// The worker's messages and phases; returns early, saying nothing more, once stopped.
void RunWorker(DownloadThreadData& data) {
    if (!SendToPage(data, WM_DL_STARTED, 0, 0))
        return;
    if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, LoadMessage(kMsgDownloadingPatch)))
        return;
    if (!SendToPage(data, WM_DL_SETRANGE, 0, 100))
        return;
    if (data.patch == nullptr) {
        SendToPage(data, WM_DL_FINISHED, 0, 0);
        return;
    }

    // An entry whose target would land outside the folder is never written; the download as
    // a whole then fails, whatever the verification finds.
    bool everyPathSound = true;
    for (const auto& entry : data.patch->download_list) {
        if (Stopped(data))
            return;
        if (entry == nullptr) {
            everyPathSound = false;
            continue;
        }
        std::wstring path;
        if (!BuildDownloadPath(data.folder, entry->target, path)) {
            everyPathSound = false;
            continue;
        }
        // A target in a sub-folder gets its folders made; the path has been checked to stay
        // inside the download folder, so nothing is created anywhere else.
        const size_t lastSeparator = path.rfind(platform::kPathSeparator);
        if (lastSeparator != std::wstring::npos && lastSeparator > data.folder.size())
            platform::CreateFolders(path.substr(0, lastSeparator));
        if (BringEntry(data, *entry, path) == EntryOutcome::kStop)
            return;
    }

    if (!SendToPage(data, WM_DL_SETPOS, 100, 0))
        return;
    if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, LoadMessage(kMsgVerifying)))
        return;
    const bool verified =
        VerifyDownloadList(data.patch.get(), data.folder, &data.stop) && everyPathSound;
    if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, std::wstring()))
        return;
    SendToPage(data, WM_DL_FINISHED, verified ? 1 : 0, 0);
}

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

int DownloadWorker(const std::shared_ptr<DownloadThreadData>& data) {
    if (data == nullptr)
        return 0;
    RunWorker(*data);
    {
        std::lock_guard<std::mutex> lock(data->endLock);
        data->ended = true;
    }
    data->endSignal.notify_all();
    return 0;
}

bool DownloadFile(const std::wstring& target, bool& aborted, DownloadThreadData& data,
                  const std::wstring& url, const std::wstring& path, std::int64_t resumeOffset) {
    // Append mode writes at the end whatever the position, which is where the resume starts.
    platform::UniqueFile file = platform::OpenFile(path, resumeOffset != 0 ? "ab" : "wb");
    if (file == nullptr)
        return false;

    TransferProgress record;
    ProgressContext context;
    context.displayName = target;
    context.windowCell = data.page_window.get();
    context.baseBytes = static_cast<float>(resumeOffset);
    record.notify = &ReportTransferProgress;
    record.context = &context;
    {
        std::lock_guard<std::mutex> lock(data.transferLock);
        // A stop that came before the record was published must still reach this transfer.
        if (data.stop.load(std::memory_order_acquire))
            record.stop.store(true, std::memory_order_release);
        data.transfer = &record;
    }
    bool succeeded = data.curl.DownloadToFile(url, file.get(), resumeOffset, &record, aborted);
    {
        std::lock_guard<std::mutex> lock(data.transferLock);
        data.transfer = nullptr;
    }
    // Bytes still buffered in the stream that cannot reach the disk make the file incomplete.
    if (!platform::CloseFile(file))
        succeeded = false;
    return succeeded;
}

namespace {

// What one notification shows, in single precision throughout.
struct ProgressFigures {
    float done = 0;   // MB
    float total = 0;  // MB
    float speed = 0;
    const wchar_t* unit = L"KB/s";
    int percent = 0;
};

bool ComputeFigures(const TransferProgress& record, float baseBytes, ProgressFigures& figures) {
    // Until the answer's length is known, a resumed file would read as complete (its bytes on
    // disk against a total of just those bytes): say nothing rather than a wrong 100 percent.
    if (!(record.receiveTotal > 0))
        return false;
    const float kPerKilo = 1.0f / 1024.0f;
    figures.done = (static_cast<float>(record.received) + baseBytes) * kPerKilo * kPerKilo;
    figures.total = (static_cast<float>(record.receiveTotal) + baseBytes) * kPerKilo * kPerKilo;
    figures.speed = static_cast<float>(record.receiveSpeed) * kPerKilo;
    figures.unit = L"KB/s";
    if (figures.speed >= 1024.0f) {
        figures.speed *= kPerKilo;
        figures.unit = L"MB/s";
    }
    if (figures.total == 0.0f)
        return false;
    const float share = std::floor(figures.done / figures.total * 100.0f);
    figures.percent = static_cast<int>(std::clamp(share, 0.0f, 100.0f));
    return true;
}

std::wstring ProgressLine(const ProgressFigures& figures, const std::wstring& displayName) {
    std::wstring line = LoadMessage(kMsgDownloading);
    line += L' ';
    line += displayName;
    line += L' ';
    AppendFixed(line, figures.done, 2);
    line += L" MB / ";
    AppendFixed(line, figures.total, 2);
    line += L" MB (";
    AppendFixed(line, figures.speed, 1);
    line += L' ';
    line += figures.unit;
    line += L')';
    if (line.size() > kProgressTextCapacity - 1)
        line.resize(kProgressTextCapacity - 1);
    return line;
}

}  // namespace

bool FormatProgressLine(const TransferProgress& record, const std::wstring& displayName,
                        float baseBytes, std::wstring& text, int& percent) {
    ProgressFigures figures;
    if (!ComputeFigures(record, baseBytes, figures))
        return false;
    text = ProgressLine(figures, displayName);
    percent = figures.percent;
    return true;
}

void ReportTransferProgress(TransferProgress* record) {
    if (record == nullptr || record->context == nullptr)
        return;
    auto& context = *static_cast<ProgressContext*>(record->context);
    ProgressFigures figures;
    if (!ComputeFigures(*record, context.baseBytes, figures) || context.windowCell == nullptr)
        return;

    // The line is only built when it is due: the notifications of a fast transfer come far
    // more often than anyone can read.
    bool delivered = true;
    const std::uint32_t now = platform::TickCountMs();
    if (!context.textPosted || now - context.lastTextTick >= kProgressTextIntervalMs) {
        delivered = context.windowCell->Post(WM_DL_SETTEXT, 0, 0,
                                             ProgressLine(figures, context.displayName));
        context.textPosted = true;
        context.lastTextTick = now;
    }
    if (figures.percent != context.lastPercent) {
        delivered = context.windowCell->Post(WM_DL_SETPOS,
                                             static_cast<std::uintptr_t>(figures.percent), 0) &&
                    delivered;
        context.lastPercent = figures.percent;
    }
    // The page has gone away: nobody will see the rest of this file arrive.
    if (!delivered)
        record->stop.store(true, std::memory_order_release);
}

DownloadJob::~DownloadJob() {
    if (!m_thread.joinable())
        return;
    if (IsRunning()) {
        RequestStop(*m_data);
        // The worker holds its own share of everything it reads and ends on its own.
        m_thread.detach();
    } else {
        m_thread.join();
    }
}

bool DownloadJob::Start(const PatchEntry* patch, const std::wstring& folder,
                        std::shared_ptr<platform::WindowMessageQueue> queue) {
    if (IsRunning())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    auto data = MakeDownloadThreadData(patch, folder, std::move(queue));
    try {
        m_thread = std::thread([data] { DownloadWorker(data); });
    } catch (const std::system_error&) {
        return false;
    }
    m_data = std::move(data);
    return true;
}

bool DownloadJob::Cancel() {
    if (m_data == nullptr)
        return true;
    RequestStop(*m_data);
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(m_data->endLock);
        ended = m_data->endSignal.wait_for(lock, std::chrono::milliseconds(kCancelWaitMs),
                                           [&] { return m_data->ended; });
    }
    if (ended && m_thread.joinable())
        m_thread.join();
    return ended;
}

bool DownloadJob::IsRunning() const {
    if (m_data == nullptr)
        return false;
    std::lock_guard<std::mutex> lock(m_data->endLock);
    return !m_data->ended;
}
