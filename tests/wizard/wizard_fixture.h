#pragma once
// Shared by the wizard's tests: a catalogue whose latest patch is served by a loopback server
// into a temporary folder, and a download-page view that records every call in order.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/patch_info.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"
#include "transfer/md5.h"
#include "wizard/download_page_logic.h"
#include "wizard/download_page_view.h"

// A catalogue with one installed release (1.0.0.0) whose latest patch (1.1.0.0) lists the files
// added with AddFile.
struct ServedPatch {
    ServedPatch() {
        auto game = std::make_unique<GameVersion>();
        game->name = L"Velmora II 1.0";
        auto latest = std::make_unique<PatchEntry>();
        latest->version = L"1.1.0.0";
        latest->installer = L"setup.exe";
        patch = latest.get();
        game->latest = patch;
        game->patch_list.push_back(std::move(latest));
        info.installed_game = game.get();
        info.game_version_list.push_back(std::move(game));
        info.installed_version = L"1.0.0.0";
        auto log = std::make_unique<Changelog>();
        log->version = L"1.1.0.0";
        auto text = std::make_unique<ChangelogText>();
        text->language = L"English";
        text->text = L"Fixed the bridge.\n  Faster loading.";
        log->texts.push_back(std::move(text));
        info.changelog_list.push_back(std::move(log));
    }

    // Serves bytes at /name and lists them under target name; listedBytes gives the digest
    // and size the catalogue claims (the served bytes when empty).
    void AddFile(const std::string& name, const std::string& bytes,
                 const std::string& listedBytes = {}, BodyOptions options = {}) {
        const std::string& listed = listedBytes.empty() ? bytes : listedBytes;
        server.ServeBytes("/" + name, bytes, options);
        auto entry = std::make_unique<DownloadEntry>();
        entry->url = server.WideUrl("/" + name);
        entry->target = Utf8ToWide(std::string_view(name));
        entry->md5 = Utf8ToWide(std::string_view(md5wrapper().hashOfText(listed)));
        entry->size = static_cast<std::int64_t>(listed.size());
        patch->download_list.push_back(std::move(entry));
    }

    LoopbackServer server;
    TempDir folder;
    PatchInfo info;
    PatchEntry* patch = nullptr;
};

// Every call of the page on its view, as a line: "range 0 100", "pos 15", "text! <forced>",
// "text <posted>", "stage <n> <buttons>", "finish <text>", "error <text> | <caption>",
// "patch <whole patch's line>".
class RecordingView : public DownloadPageView {
  public:
    void SetChangelogText(const std::wstring& text) override { Record(L"notes " + text); }
    void SetProgressRange(int low, int high) override {
        Record(L"range " + std::to_wstring(low) + L" " + std::to_wstring(high));
    }
    void SetProgressPos(int position) override { Record(L"pos " + std::to_wstring(position)); }
    void SetProgressText(const std::wstring& text, bool forced) override {
        Record((forced ? L"text! " : L"text ") + text);
        if (onText)
            onText(text, forced);
    }
    void SetStage(WizardStage stage, unsigned buttons) override {
        Record(L"stage " + std::to_wstring(static_cast<int>(stage)) + L" " +
               std::to_wstring(buttons));
    }
    void SetFinishText(const std::wstring& text) override { Record(L"finish " + text); }
    void SetPatchProgressText(const std::wstring& text) override { Record(L"patch " + text); }
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override {
        Record(L"error " + text + L" | " + caption);
        if (onError)
            onError();
    }

    // Lines that start with prefix, in order.
    std::vector<std::wstring> With(const std::wstring& prefix) const {
        std::vector<std::wstring> found;
        for (const auto& line : lines)
            if (line.compare(0, prefix.size(), prefix) == 0)
                found.push_back(line);
        return found;
    }
    // Index of the first line equal to line, or -1.
    int IndexOf(const std::wstring& line) const {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == line)
                return static_cast<int>(i);
        return -1;
    }

    std::vector<std::wstring> lines;
    std::function<void(const std::wstring&, bool)> onText;
    // Called while the error box would be showing.
    std::function<void()> onError;

  private:
    void Record(std::wstring line) { lines.push_back(std::move(line)); }
};

// Lets the page handle the worker's messages until the download stage ends; a generous bound
// keeps a broken worker from hanging the test run.
inline bool DriveUntilSettled(DownloadPageLogic& logic,
                              std::chrono::seconds bound = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (logic.Stage() == WizardStage::kDownloading) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        logic.WaitAndDispatch(50);
    }
    return true;
}
