#pragma once
// Patches from a folder (a USB stick, a LAN share) named by a file: base address. The catalogue
// and its signature are read from there in place of an answer of the server, under the same
// rules; the catalogue's file addresses stay network addresses, and for each the folder is
// looked in first, the network asked only for what is missing or wrong there. Whatever the folder
// holds counts only when it has the listed size and digests.

#include <cstddef>
#include <string>
#include <vector>

#include "text/failure.h"
#include "transfer/memory_buffer.h"

// The path a file: address names: "file:///media/usb/velmora2/patchinfo.xml" (or with the host
// "localhost") gives "/media/usb/velmora2/patchinfo.xml", percent escapes decoded. False for any
// other address: another scheme or host, a relative path, an escape that gives a NUL.
bool LocalPathOf(const std::wstring& url, std::wstring& path);

// The folder a file: base address names, ending in '/' (LocalPathOf); empty for any other.
std::wstring LocalSourceFolder(const std::wstring& baseUrl);

// The file at path, read as a server's 200 answer would leave it in buffer (the bytes, then a
// NUL), opened without following a link in its last part and only when it is a regular file of
// at most maxBytes. failure, when given, receives the cause with the path as subject.
bool ReadLocalDocument(const std::wstring& path, MemoryBuffer& buffer, std::size_t maxBytes,
                       Failure* failure = nullptr);

// The places below a source folder that a network address stands for, as velmora-publish lint
// --files looks files up: the tails of the address's path, longest first
// ("https://cdn.example/v2/files/a.pak" gives "v2/files/a.pak", "files/a.pak" and "a.pak"),
// percent escapes decoded. Empty when the path has a ".." or a NUL, or there is none.
std::vector<std::wstring> LocalCandidates(const std::wstring& url);
