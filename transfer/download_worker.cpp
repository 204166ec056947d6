#include "transfer/download_worker.h"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <utility>

#include "platform/platform.h"
#include "platform/safe_files.h"
#include "text/messages.h"
#include "text/utf8.h"
#include "transfer/delta_fetch.h"
#include "transfer/download_path.h"
#include "transfer/entry_fetch.h"
#include "transfer/verify.h"

namespace {

// A stopped worker says nothing more, so every message goes through here.
bool SendToPage(const DownloadThreadData& data, std::uint32_t id, std::uintptr_t wParam,
                std::intptr_t lParam, std::wstring text = {}) {
    if (WorkerStopped(data))
        return false;
    return data.page_window->Send(id, wParam, lParam, std::move(text)) && !WorkerStopped(data);
}

enum class RunEnd { kVerdict, kStopped };

// A cache that cannot be written costs the next run a read, nothing more. Saving a cache that
// has not changed since writes nothing.
void SaveDigestCache(DownloadThreadData& data) {
    if (data.digestCache != nullptr)
        data.digestCache->Save();
}

// A target in a sub-folder gets its missing folders made below root, never through a link.
// False, with the cause, when they could not be made.
bool MakeEntryFolders(const platform::TrustedFolder& root, const std::wstring& relative,
                      const std::wstring& target, Failure& failure) {
    if (relative.find(L'/') == std::wstring::npos)
        return true;
    if (root.CreateFoldersFor(relative, &failure))
        return true;
    failure.subject = target;
    return false;
}

// The worker's messages and phases; returns early, saying nothing more, once stopped. Every
// failure it meets is recorded before the verdict is sent.
RunEnd RunWorker(DownloadThreadData& data) {
    if (!SendToPage(data, WM_DL_STARTED, 0, 0))
        return RunEnd::kStopped;
    if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, LoadMessage(kMsgDownloadingPatch)))
        return RunEnd::kStopped;
    if (!SendToPage(data, WM_DL_SETRANGE, 0, 100))
        return RunEnd::kStopped;
    if (data.patch == nullptr) {
        SendToPage(data, WM_DL_FINISHED, 0, 0);
        return RunEnd::kVerdict;
    }

    // Loaded once per run and saved at its end, however it ends.
    if (data.digestCache != nullptr)
        data.digestCache->Load();

    // Every file of the patch is reached from this one open folder, so no link planted below
    // it can lead a write outside.
    platform::TrustedFolder root;
    Failure rootFailure;
    if (!root.Open(data.folder, &rootFailure))
        data.RecordFailure(rootFailure);

    // The bases of deltas are read from the game folder, reached like the download folder.
    platform::TrustedFolder gameRoot;
    for (const auto& entry : data.patch->download_list)
        if (entry != nullptr && !entry->deltas.empty() && !gameRoot.IsOpen())
            gameRoot.Open(data.gameFolder);

    // An entry whose target would land outside the folder is never written; the download as
    // a whole then fails, whatever the verification finds. Neither is one that takes a name
    // the deltas' own files use.
    bool everyPathSound = true;
    for (const auto& entry : data.patch->download_list) {
        if (WorkerStopped(data))
            return RunEnd::kStopped;
        if (entry == nullptr) {
            everyPathSound = false;
            data.RecordFailure(MakeFailure(FailureClass::kUnsafePath, 0, "empty entry"));
            continue;
        }
        ++data.fileNumber;
        // The whole path decides what is refused and what is too long; the folder then reaches
        // the file by the same target, relative to it.
        std::wstring path;
        std::wstring relative;
        if (!BuildDownloadPath(data.folder, entry->target, path) ||
            !BuildDownloadPath(std::wstring(), entry->target, relative) ||
            IsReservedTarget(relative)) {
            everyPathSound = false;
            data.RecordFailure(MakeFailure(FailureClass::kUnsafePath, 0, {}, entry->target));
            continue;
        }
        if (!root.IsOpen())
            continue;
        // The entry is still tried without its folder: the open then fails with its cause.
        Failure failure;
        if (!MakeEntryFolders(root, relative, entry->target, failure))
            data.RecordFailure(failure);
        const std::int64_t fetchedBefore = data.bytesFetched;
        std::string reason;
        const DeltaOutcome delta = FetchByDelta(data, gameRoot, root, *entry, relative, reason);
        if (delta == DeltaOutcome::kStop)
            return RunEnd::kStopped;
        if (delta == DeltaOutcome::kFellBack && data.deltas.fellBack++ == 0)
            data.deltas.firstReason = WideToUtf8(entry->target) + ": " + reason;
        const EntryOutcome outcome = delta == DeltaOutcome::kBuilt
                                         ? EntryOutcome::kNext
                                         : FetchEntry(data, root, *entry, relative, &failure);
        if (delta == DeltaOutcome::kBuilt)
            ++data.deltas.built;
        if (data.bytesFetched > fetchedBefore || delta == DeltaOutcome::kBuilt)
            data.deltas.fileBytes += entry->size;
        data.RecordFailure(failure);
        if (outcome == EntryOutcome::kStop)
            return RunEnd::kStopped;
        if (outcome == EntryOutcome::kEndJob) {
            // Nothing is verified: the patch is known to be incomplete.
            if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, std::wstring()))
                return RunEnd::kStopped;
            SaveDigestCache(data);
            data.PublishDeltas();
            SendToPage(data, WM_DL_FINISHED, 0, 0);
            return RunEnd::kVerdict;
        }
    }

    // Said once every file is in, so the player sees what the deltas saved.
    if (data.deltas.built > 0 && data.page_window != nullptr) {
        DeltaTally tally = data.deltas;
        tally.fetchedBytes = data.bytesFetched;
        data.page_window->Post(WM_DL_SETTEXT, kDeltaSummaryText, 1, DeltaSummaryLine(tally));
    }
    if (!SendToPage(data, WM_DL_SETPOS, 100, 0))
        return RunEnd::kStopped;
    if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, LoadMessage(kMsgVerifying)))
        return RunEnd::kStopped;
    Failure mismatch;
    const KnownDigests known{&data.written, data.digestCache.get(), &data.verifyReads};
    const bool verified =
        VerifyDownloadList(data.patch.get(), data.folder, known, &data.stop, &mismatch) &&
        everyPathSound;
    if (!verified)
        data.RecordFailure(mismatch);
    if (!SendToPage(data, WM_DL_SETTEXT, 0, 1, std::wstring()))
        return RunEnd::kStopped;
    // Saved before the verdict, so that whoever acts on it finds the cache written.
    SaveDigestCache(data);
    data.PublishDeltas();
    SendToPage(data, WM_DL_FINISHED, verified ? 1 : 0, 0);
    return RunEnd::kVerdict;
}

}  // namespace

int DownloadWorker(const std::shared_ptr<DownloadThreadData>& data) {
    if (data == nullptr)
        return 0;
    // A run that ended without its verdict was stopped; that is its cause unless it met another
    // failure first.
    if (RunWorker(*data) == RunEnd::kStopped)
        data->RecordFailure(MakeFailure(FailureClass::kStopped));
    SaveDigestCache(*data);
    {
        std::lock_guard<std::mutex> lock(data->endLock);
        data->ended = true;
    }
    data->endSignal.notify_all();
    return 0;
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
                        std::shared_ptr<platform::WindowMessageQueue> queue,
                        std::wstring digestCachePath, std::wstring localSource,
                        std::wstring gameFolder, std::int64_t rateLimit) {
    if (IsRunning())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    auto data = MakeDownloadThreadData(patch, folder, std::move(queue), std::move(digestCachePath),
                                       std::move(gameFolder), rateLimit);
    data->localSource = std::move(localSource);
    try {
        m_thread = std::thread([data] { DownloadWorker(data); });
    } catch (const std::system_error& error) {
        m_data.reset();
        m_startFailure = SystemFailure(error.code().value());
        return false;
    }
    m_data = std::move(data);
    m_startFailure = Failure{};
    return true;
}

DeltaTally DownloadJob::Deltas() const {
    return m_data != nullptr ? m_data->Deltas() : DeltaTally{};
}

Failure DownloadJob::LastFailure() const {
    return m_data != nullptr ? m_data->LastFailure() : m_startFailure;
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
