#pragma once
// Files the launcher opens where someone else may have planted something.
//
// Below a folder (the download folder): every step from the folder down is opened without
// following a link, so a link planted at a file's name or at any sub-folder on its way can
// never make the launcher create, write, truncate or read anything outside that folder. Only
// regular files are opened, and never in a way that can block: a FIFO, socket or device in the
// place of a file is refused at once.
//
// Plain paths (the game executable, the game profile): links are followed there, since those
// files live in the player's own folders, but the regular-file rule and the never-block rule
// hold all the same.
//
// Relative paths below a folder use '/' between folders (turn a catalogue's '\' into '/'
// first). Refused before anything is touched (FailureClass::kUnsafePath): an empty path, an
// absolute one, a ".." component, a NUL, a path ending in '/'. Empty and "." components are
// skipped.

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "text/failure.h"

namespace platform {

// What a file below the folder is opened for.
enum class FileAccess {
    kRead,              // an existing regular file, read from its start ("rb")
    kWriteFromScratch,  // created, or emptied when it exists ("wb")
    kAppend,            // created when missing, written at its end ("ab"): a resume
    kCreateNew,         // created; fails (kSystem, EEXIST) when any entry has the name
    kCreateNewReadWrite,  // the same, open for reading too ("w+b"): a file to be mapped
    kUpdate,  // created when missing, else kept as it is; read and written anywhere ("r+b")
};
// The writing accesses replace, rather than open, a symbolic link at the file's own name (the
// link is removed, never what it points to) and a file that has a second hard link (its other
// name may be outside the folder). The fresh file is empty: after kAppend, take the resume
// offset from the open file (GetOpenFileSize), never from an earlier look at the name.
// A folder, FIFO, socket or device at the name is refused (kNotRegularFile) and left as it is.
// A link or anything but a folder on a sub-folder's place fails the call (kUnsafePath).

enum class EntryKind { kMissing, kRegularFile, kFolder, kSymbolicLink, kOther };

struct EntryStatus {
    EntryKind kind = EntryKind::kMissing;
    std::int64_t size = 0;    // bytes; meaningful for a regular file
    std::uint64_t links = 0;  // hard links to the entry
};

// A folder held open, the root of every path below it. Moving keeps the folder; it closes when
// the owner goes away.
class TrustedFolder {
  public:
    TrustedFolder() = default;
    ~TrustedFolder();
    TrustedFolder(TrustedFolder&& other) noexcept;
    TrustedFolder& operator=(TrustedFolder&& other) noexcept;
    TrustedFolder(const TrustedFolder&) = delete;
    TrustedFolder& operator=(const TrustedFolder&) = delete;

    // Opens the folder itself; an empty text is the current folder. Links on the way to the
    // folder are followed: the folder is the person's own choice.
    bool Open(const std::wstring& folder, Failure* failure = nullptr);
    bool IsOpen() const { return m_fd >= 0; }

    // Null on failure, with the cause in failure.
    UniqueFile OpenFile(const std::wstring& relative, FileAccess access,
                        Failure* failure = nullptr) const;
    // Makes the missing sub-folders on the way to relative (not relative itself).
    bool CreateFoldersFor(const std::wstring& relative, Failure* failure = nullptr) const;
    // Removes the entry at relative when it is not a folder (a file, a link itself, a FIFO
    // ...). A folder there fails with kNotRegularFile.
    bool RemoveFile(const std::wstring& relative, Failure* failure = nullptr) const;
    // Puts the file at from in the place of to in one step (a link at to is replaced, never
    // followed). A folder at to fails with kNotRegularFile.
    bool MoveFile(const std::wstring& from, const std::wstring& to,
                  Failure* failure = nullptr) const;
    // What stands at relative, without following a link there. True when that could be found
    // out, also when nothing is there (kMissing, including a missing sub-folder); false when
    // the way there is unsafe (kUnsafePath) or cannot be searched.
    bool Stat(const std::wstring& relative, EntryStatus& status, Failure* failure = nullptr) const;

  private:
    int m_fd = -1;
};

// The same, one call each, for a caller that holds no folder open.
UniqueFile OpenFileBelow(const std::wstring& folder, const std::wstring& relative,
                         FileAccess access, Failure* failure = nullptr);
bool CreateFoldersBelow(const std::wstring& folder, const std::wstring& relative,
                        Failure* failure = nullptr);
bool RemoveFileBelow(const std::wstring& folder, const std::wstring& relative,
                     Failure* failure = nullptr);
bool StatBelow(const std::wstring& folder, const std::wstring& relative, EntryStatus& status,
               Failure* failure = nullptr);
// The whole of a small file of the launcher's own (a record, the settings, a kept catalogue)
// at path, opened below its folder as OpenFileBelow does; false when it is missing, no regular
// file, larger than maxBytes or cannot be read, and text is then empty.
bool ReadSmallFile(const std::wstring& path, std::size_t maxBytes, std::string& text);

// The kernel's one-call walk below a folder (openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS) is used where the kernel offers it; where it is missing or forbidden the
// walk goes component by component, with the same outcome. Turning it off is for tests and
// for finding out whether a kernel misbehaves.
void AllowKernelBeneathWalk(bool allowed);
// False once turned off, or once the kernel was found not to offer it.
bool KernelBeneathWalkInUse();

// --- Plain paths, regular files only -----------------------------------------------------

// Opens an existing regular file for reading ("rb"), following links. Anything else (missing,
// folder, FIFO, socket, device) fails at once: kNotRegularFile, or kSystem with errno.
UniqueFile OpenRegularFileForReading(const std::wstring& path, Failure* failure = nullptr);
// Whether a regular file is there (links followed). Unlike FileExists, a folder, FIFO or
// device does not count.
bool RegularFileExists(const std::wstring& path);
// The size of a regular file (links followed); false for anything else.
bool GetRegularFileSize(const std::wstring& path, std::int64_t& size, Failure* failure = nullptr);
// The size of an open file as the system sees it (bytes still buffered in the stream are not
// counted).
bool GetOpenFileSize(std::FILE* file, std::int64_t& size, Failure* failure = nullptr);

// Direct access to an open file at a place of its own, past the stream's buffer (use one or the
// other on a file, not both). WriteAt writes all of data at offset; false with errno in error
// (ENOSPC for a write that took nothing). ReadAt reads up to length bytes at offset: the count,
// 0 at the end, -1 on an error. TruncateOpenFile cuts (or extends) the file to size.
bool WriteAt(std::FILE* file, std::int64_t offset, const void* data, std::size_t length,
             int& error);
std::int64_t ReadAt(std::FILE* file, std::int64_t offset, void* data, std::size_t length);
bool TruncateOpenFile(std::FILE* file, std::int64_t size);

}  // namespace platform
