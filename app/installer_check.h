#pragma once
// The patch installer is started only when it is one of the patch's own verified files and its
// bytes are still the ones verified.

#include <cstdio>
#include <string>

struct DownloadEntry;
struct PatchEntry;

// The download entry whose target names the same file as installer: both as NativeTarget,
// compared letter for letter (no case folding: Setup.exe and setup.exe are two files
// here). Null when the patch lists none.
const DownloadEntry* FindInstallerEntry(const PatchEntry& patch, const std::wstring& installer);

// Reads the open file from its start and checks it against the entry: its MD5 always, its
// SHA-256 as well when the entry lists one. False on any read error.
bool OpenFileMatchesEntry(std::FILE* file, const DownloadEntry& entry);
