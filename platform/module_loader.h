#pragma once
// Shared modules opened while the program runs, so that a part needing heavy libraries (the
// window toolkit) costs nothing on the roads that never use it.

#include <string>

namespace platform {

// An opened module. It stays loaded for the rest of the process: code that registered itself
// with its libraries (a toolkit's globals, its plugins) must never be unmapped under them.
struct LoadedModule {
    void* handle = nullptr;
};

// Opens the module at path (a name without a folder is searched like a library); false with
// the loader's reason in error when it cannot be loaded.
bool LoadModule(const std::wstring& path, LoadedModule& module, std::wstring& error);
// The address of the function exported under name, or null when the module has none.
void* FindModuleFunction(const LoadedModule& module, const char* name);

// Which kinds of display server answer at their socket now (HasDisplay is either of them).
bool WaylandDisplayPresent();
bool X11DisplayPresent();

}  // namespace platform
