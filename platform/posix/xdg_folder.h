#pragma once
// The base-directory rule the cache and state folders share: the variable when it holds an
// absolute path, else a folder below an absolute $HOME. A relative value is ignored rather than
// resolved against whatever folder the launcher happens to start in.

#include <string>

namespace platform {

bool GetXdgFolder(const char* variable, const wchar_t* belowHome, std::wstring& out);

}  // namespace platform
