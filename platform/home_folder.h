#pragma once
// The person's home folder, as the shell's "~" names it.

#include <string>

namespace platform {

// $HOME when it is an absolute path, else the home folder the user database lists; false when
// neither is known.
bool GetHomeFolder(std::wstring& out);

}  // namespace platform
