#pragma once
// File versions of Windows executables, read from their PE version resource by our own
// parser, so that it works on any system.

#include <cstddef>
#include <string>

// The file version of the executable at path as "%d.%d.%d.%d" (most significant part first),
// or the empty text when the file cannot be read, is not a PE image, carries no version
// resource, or is damaged in any way (truncated, offsets or sizes out of range).
std::wstring ReadFileVersion(const std::wstring& path);

// The same for an image already in memory; never reads outside [data, data + size).
std::wstring ReadFileVersionFromBytes(const unsigned char* data, std::size_t size);

// The launcher's own file version. Elsewhere than on Windows there is no version resource to
// read, so it is the version compiled in ("1.0.0.38").
std::wstring LauncherFileVersion();
