#pragma once
// Whoever runs the wizard may hold the download folder for the length of the download and of
// the installer that follows, so that no second launcher works in it meanwhile. The download
// page asks for it right before its worker starts.

#include <functional>
#include <string>

// True when the folder is this launcher's to write in (held from now on, or no hold is
// possible there); false when another launcher holds it: nothing may be written.
using DownloadFolderClaim = std::function<bool(const std::wstring& folder)>;
