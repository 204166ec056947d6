#include "platform/module_loader.h"

#include <dlfcn.h>

#include "text/utf8.h"

namespace platform {

bool LoadModule(const std::wstring& path, LoadedModule& module, std::wstring& error) {
    const std::string name = WideToUtf8(path);
    // Bound now rather than at first call, so that a module built against other libraries
    // fails here, where the console can still take over, and not in the middle of a window.
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = Utf8ToWide(std::string_view(reason != nullptr ? reason : "cannot be loaded"));
        return false;
    }
    module.handle = handle;
    error.clear();
    return true;
}

void* FindModuleFunction(const LoadedModule& module, const char* name) {
    if (module.handle == nullptr)
        return nullptr;
    return dlsym(module.handle, name);
}

}  // namespace platform
