#pragma once
// Drives the Qt download wizard from a test (or the screenshot program): a catalogue whose
// patch files a loopback server serves, waits that keep the Qt event loop turning, and a way to
// run the modal wizard with a script played inside its loop.

#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/patch_info.h"
#include "tests/support/loopback_server.h"
#include "text/utf8.h"
#include "transfer/md5.h"
#include "ui/qt/download_wizard.h"

namespace qt_test {

struct ServedFile {
    std::string name;
    std::string content;
};

// A catalogue in which the installed game (release 1.0.2.0) is recognised and its latest patch
// (1.0.4.0) is made of the given files, served by server under /patch/<name> with options.
// With a wrong digest for the last file, the download completes but does not verify.
inline std::unique_ptr<PatchInfo> MakeServedCatalogue(LoopbackServer& server,
                                                      const std::vector<ServedFile>& files,
                                                      BodyOptions options = {},
                                                      bool wrongLastDigest = false) {
    auto info = std::make_unique<PatchInfo>();
    auto game = std::make_unique<GameVersion>();
    game->name = L"Velmora II (1.0.2.0)";
    game->latestversion = L"1.0.4.0";
    auto patch = std::make_unique<PatchEntry>();
    patch->version = L"1.0.4.0";
    patch->installer = L"velmora2_patch_1.0.4.exe";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ServedFile& file = files[i];
        server.ServeBytes("/patch/" + file.name, file.content, options);
        auto entry = std::make_unique<DownloadEntry>();
        entry->url = server.WideUrl("/patch/" + file.name);
        entry->target = Utf8ToWide(std::string_view(file.name));
        const bool wrong = wrongLastDigest && i + 1 == files.size();
        entry->md5 = Utf8ToWide(
            std::string_view(md5wrapper().hashOfText(wrong ? file.content + "x" : file.content)));
        entry->size = static_cast<std::int64_t>(file.content.size());
        patch->download_list.push_back(std::move(entry));
    }
    game->latest = patch.get();
    game->patch_list.push_back(std::move(patch));
    info->installed_game = game.get();
    info->game_version_list.push_back(std::move(game));
    info->installed_version = L"1.0.2.0";

    const std::pair<const wchar_t*, const wchar_t*> notes[] = {
        {L"1.0.3.0",
         L"- The harbour of Lorn no longer floods the inventory with empty bottles.\n"
         L"- Night skies are darker; the stars are where the astronomers say.\n"
         L"- Saving while riding no longer loses the horse."},
        {L"1.0.4.0",
         L"- New: the Old Keep questline, four chapters long.\n"
         L"- The mountain road is passable again after the rockslide.\n"
         L"- Faster loading of large save games."},
    };
    for (const auto& [version, text] : notes) {
        auto log = std::make_unique<Changelog>();
        log->version = version;
        auto english = std::make_unique<ChangelogText>();
        english->language = L"English";
        english->text = text;
        log->texts.push_back(std::move(english));
        info->changelog_list.push_back(std::move(log));
    }
    return info;
}

// Turns the event loop until condition holds or timeoutMs passed; whether it holds.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Runs the wizard modally (its real Run, handed request) with script played once its first page is
// up. When the script returns with the wizard still open, or after watchdogMs, the wizard is
// cancelled, so a failing script never leaves the test hanging. Returns Run's result.
inline bool RunScripted(CVelLauncherDownloadWizard& wizard,
                        const std::function<void(CVelLauncherDownloadWizard&)>& script,
                        int watchdogMs = 60000, const DownloadWizardRequest& request = {}) {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &wizard, [&wizard] { wizard.reject(); });
    QTimer::singleShot(0, &wizard, [&wizard, &script, &watchdog, watchdogMs] {
        watchdog.start(watchdogMs);
        WaitFor([&wizard] { return wizard.isVisible() && wizard.currentId() >= 0; }, 5000);
        script(wizard);
        if (wizard.isVisible())
            wizard.reject();
    });
    return wizard.Run(request);
}

}  // namespace qt_test
