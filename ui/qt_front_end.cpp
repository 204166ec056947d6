#include "ui/qt_front_end.h"

#include <cstdlib>

#include "platform/module_loader.h"
#include "platform/platform.h"
#include "text/utf8.h"

#ifndef VELMORA_QT_MODULE_NAME
#define VELMORA_QT_MODULE_NAME "velmora-ui-qt.so"
#endif

namespace {

// Owns the module's front end and gives it back to the module that made it, whose allocator
// and destructor it must meet.
class ModuleUserInterface : public UserInterface {
  public:
    ModuleUserInterface(UserInterface* inner, DestroyQtUserInterfaceFunction destroy)
        : m_inner(inner), m_destroy(destroy) {}
    ~ModuleUserInterface() override { m_destroy(m_inner); }
    ModuleUserInterface(const ModuleUserInterface&) = delete;
    ModuleUserInterface& operator=(const ModuleUserInterface&) = delete;

    int MessageBox(const std::wstring& text, const std::wstring& caption, unsigned style) override {
        return m_inner->MessageBox(text, caption, style);
    }
    bool RunDownloadWizard(PatchInfo& info, const DownloadWizardRequest& request) override {
        return m_inner->RunDownloadWizard(info, request);
    }
    bool ShowChecking(CheckingRun& run) override { return m_inner->ShowChecking(run); }
    bool AskGameFolder(const std::wstring& explanation, const std::wstring& initial,
                       std::wstring& folder) override {
        return m_inner->AskGameFolder(explanation, initial, folder);
    }
    void ShowNotice(const std::wstring& text) override { m_inner->ShowNotice(text); }

  private:
    UserInterface* m_inner;
    DestroyQtUserInterfaceFunction m_destroy;
};

}  // namespace

std::vector<std::wstring> QtModuleCandidates() {
    const wchar_t* const name = L"" VELMORA_QT_MODULE_NAME;
    if (const char* chosen = std::getenv("VELMORA_QT_MODULE"); chosen != nullptr && *chosen)
        return {Utf8ToWide(std::string_view(chosen))};
    std::vector<std::wstring> candidates;
    std::wstring self;
    if (platform::GetModulePath(self)) {
        const size_t slash = self.rfind(L'/');
        if (slash != std::wstring::npos)
            candidates.push_back(self.substr(0, slash + 1) + name);
    }
#ifdef VELMORA_QT_MODULE_DIR
    candidates.push_back(std::wstring(L"" VELMORA_QT_MODULE_DIR) + L"/" + name);
#endif
    return candidates;
}

std::unique_ptr<UserInterface> LoadQtUserInterface(bool assumeYes, std::wstring& error) {
    error.clear();
    for (const std::wstring& path : QtModuleCandidates()) {
        // A file that is not there is no reason worth reporting when another place has it.
        if (!platform::FileExists(path))
            continue;
        platform::LoadedModule module;
        std::wstring reason;
        if (!platform::LoadModule(path, module, reason)) {
            error += path + L": " + reason + L"\n";
            continue;
        }
        auto version = reinterpret_cast<QtModuleInterfaceVersionFunction>(
            platform::FindModuleFunction(module, kQtModuleInterfaceVersionName));
        if (version == nullptr) {
            error += path + L": not the launcher's Qt module (it tells no interface version)\n";
            continue;
        }
        // A module of another release would be called with the wrong layouts: refused
        // before any of its other functions runs.
        if (const int theirs = version(); theirs != kQtModuleInterfaceVersion) {
            error += path + L": a Qt module of another release (interface version " +
                     std::to_wstring(theirs) + L", this launcher needs " +
                     std::to_wstring(kQtModuleInterfaceVersion) + L")\n";
            continue;
        }
        auto create = reinterpret_cast<CreateQtUserInterfaceFunction>(
            platform::FindModuleFunction(module, kCreateQtUserInterfaceName));
        auto destroy = reinterpret_cast<DestroyQtUserInterfaceFunction>(
            platform::FindModuleFunction(module, kDestroyQtUserInterfaceName));
        if (create == nullptr || destroy == nullptr) {
            error += path + L": not the launcher's Qt module\n";
            continue;
        }
        UserInterface* inner = create(assumeYes);
        if (inner == nullptr) {
            error += path + L": no Qt platform can open a window here\n";
            return nullptr;
        }
        return std::make_unique<ModuleUserInterface>(inner, destroy);
    }
    if (error.empty())
        error = L"the Qt front end is not installed\n";
    return nullptr;
}
