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

// Opens the module at path (a file name, never searched for). Before anything is mapped the
// file is checked: opened without blocking (a FIFO in its place cannot hang the start), a
// regular file, a shared object of this machine whose every loaded segment lies inside the
// file (a copy cut short would bring down the process with SIGBUS at the first page past its
// end). The descriptor checked is the one mapped, whatever has become of the name meanwhile.
// False with the reason in error when the file is refused or cannot be loaded.
bool LoadModule(const std::wstring& path, LoadedModule& module, std::wstring& error);
// The address of the function exported under name, or null when the module has none.
void* FindModuleFunction(const LoadedModule& module, const char* name);

}  // namespace platform
