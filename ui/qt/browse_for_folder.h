#pragma once
// The folder chooser of the version and path page.

#include <string>

class QWidget;

// Lets the user pick an existing folder, starting in initial when it names one. True with the
// chosen folder in out; false with out empty when the user cancelled.
bool BrowseForFolder(const std::wstring& initial, std::wstring& out, QWidget* owner = nullptr);
