#pragma once
// The operating system, behind one header. Everything above this layer speaks wide text and
// never includes an OS header; the POSIX implementation lives in platform/posix/.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/path.h"
#include "text/failure.h"

// A failed system call, from its errno (detail: the system's description of it). Beside
// MakeFailure at global scope; the system's words are the operating system's to give.
Failure SystemFailure(int error, std::wstring subject = {});

namespace platform {

// --- Files and folders -------------------------------------------------------------------

// The process's working directory; false when it cannot be read.
bool GetCurrentDirectory(std::wstring& out);
// The path of the running executable; false when it cannot be found.
bool GetModulePath(std::wstring& out);
// The user's runtime folder ($XDG_RUNTIME_DIR, else a private folder below the temp folder).
bool GetRuntimeFolder(std::wstring& out);

// Existence test only (any kind of entry), like access(path, F_OK).
bool FileExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
// Size of a file in bytes; false when its status cannot be read.
bool GetFileSize(const std::wstring& path, std::int64_t& size);
// The one owner of an open stream: closes it when it goes out of scope. Where a failed close
// matters (buffered bytes that never reached the disk), call CloseFile instead.
struct FileCloser {
    void operator()(std::FILE* file) const;
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;
// Closes the stream now; false, with the cause, when buffered bytes could not be written.
bool CloseFile(UniqueFile& file, Failure* failure = nullptr);

// fopen with a wide path; mode is the C library's ("rb", "wb", "ab", ...). Null on failure.
UniqueFile OpenFile(const std::wstring& path, const char* mode);
// Creates a new file, failing when any entry of that name already exists (O_EXCL).
UniqueFile CreateNewFile(const std::wstring& path, const char* mode);
bool RemoveFile(const std::wstring& path);
// Puts the file from in the place of the file to in one step: a reader of to sees either the
// old or the new content, never a mix. Both must be on the same file system.
bool ReplaceFile(const std::wstring& from, const std::wstring& to, Failure* failure = nullptr);
// Writes content to a fresh file beside path and puts it in path's place with ReplaceFile,
// creating the missing folders first; nothing is left beside path when it fails.
bool WriteFileAtomically(const std::wstring& path, std::string_view content,
                         Failure* failure = nullptr);
// Creates a folder and any missing folders above it; true when it exists afterwards.
bool CreateFolders(const std::wstring& path);
// Whether the file begins with the "MZ" of a Windows executable.
bool IsPeImage(const std::wstring& path);

// --- Single instance ----------------------------------------------------------------------

enum class LockResult { kTaken, kHeldElsewhere, kUnavailable };
// One attempt at the process-wide named lock. When taken it is held until the process ends;
// the kernel releases it even when the process is killed.
LockResult TryNamedLock(const std::wstring& name);

// --- Processes ----------------------------------------------------------------------------

// Starts a program with no arguments in workingFolder (empty: the launcher's own current
// directory). Windows executables are started through the runner: $VELMORA_RUNNER when set,
// else `wine` from PATH (BuildProgramCommand has the rules); with no runner the start fails.
// When wait is set, returns only after the program has ended, and exitStatus (when given)
// receives its exit status (128 + the signal for a program a signal ended). False when the
// process could not be created; failure then holds why: the child's errno (kSystem, subject
// the file or working folder concerned), or kRunnerMissing with the runner looked for.
bool StartProgram(const std::wstring& path, const std::wstring& workingFolder, bool wait,
                  Failure* failure = nullptr, int* exitStatus = nullptr);
// Opens an address in the user's web browser (xdg-open). False when no browser could be
// asked: xdg-open missing, not started, or ending with a failure; an address beginning with
// '-' is never handed over (it would read as an option).
bool OpenWebPage(const std::wstring& url);

// --- Time ---------------------------------------------------------------------------------

// A monotonic millisecond counter that wraps at 32 bits, like the multimedia timer.
std::uint32_t TickCountMs();
void SleepMs(unsigned milliseconds);

// Whether standard output/error is a terminal, and whether a display server is reachable.
bool IsTerminal(std::FILE* stream);
// The width of the terminal behind stream in columns; 0 when it is not a terminal or unknown.
int TerminalColumns(std::FILE* stream);
// A display counts when its server takes this program as a client (for X11 the connection
// setup with the player's cookie succeeds); when none does, reason says why, in English.
bool HasDisplay(std::wstring* reason = nullptr);
// Which kinds of display server take this program as a client now (HasDisplay is either of
// them); when not, reason says why.
bool WaylandDisplayPresent(std::wstring* reason = nullptr);
bool X11DisplayPresent(std::wstring* reason = nullptr);

}  // namespace platform
