#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/x11_probe.h"
#include "platform/program_command.h"
#include "platform/safe_files.h"
#include "text/utf8.h"

extern char** environ;

Failure SystemFailure(int error, std::wstring subject) {
    // strerror's text lives in a static buffer that another thread may overwrite; copy at once.
    char buffer[256] = {};
    const char* words = strerror_r(error, buffer, sizeof buffer);
    return MakeFailure(FailureClass::kSystem, error, words != nullptr ? words : "",
                       std::move(subject));
}

namespace platform {

const wchar_t kPathSeparator = L'/';
// Counted in wide characters, each at least one byte of the native name: a path longer than
// this cannot reach the system; a shorter one that is too long in bytes still fails there,
// with its errno.
const std::size_t kMaxNativePathLength = PATH_MAX - 1;

void FileCloser::operator()(std::FILE* file) const {
    if (file != nullptr)
        std::fclose(file);
}

bool CloseFile(UniqueFile& file, Failure* failure) {
    if (file == nullptr)
        return true;
    const int result = std::fclose(file.release());
    if (result != 0 && failure != nullptr)
        *failure = SystemFailure(errno);
    return result == 0;
}

namespace {

std::string Native(const std::wstring& path) {
    return WideToUtf8(std::wstring_view(path));
}

std::wstring FromEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return {};
    return Utf8ToWide(std::string_view(value));
}

bool IsExecutableFile(const std::wstring& path) {
    const std::string native = Native(path);
    struct stat st {};
    return stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(native.c_str(), X_OK) == 0;
}

// What the command builder needs to know about this process: its runner, search path and
// current directory.
ProgramFacts ProcessFacts() {
    ProgramFacts facts;
    facts.runner = FromEnv(kRunnerVariable);
    if (const char* search = std::getenv("PATH"))
        facts.searchPath = Utf8ToWide(std::string_view(search));
    if (!GetCurrentDirectory(facts.currentDirectory)) {
        facts.currentDirectoryError = errno;
        facts.currentDirectory.clear();
    }
    facts.isExecutableFile = IsExecutableFile;
    return facts;
}

// Starts the command in workingFolder. posix_spawn starts the child without copying this
// process's page tables (the launcher maps a few dozen libraries; a fork would copy and
// write-protect them all only for the child to throw them away at its exec) and reports
// whether the change of folder and the exec succeeded, with the child's errno.
bool SpawnProgram(const ProgramCommand& command, const std::wstring& workingFolder, bool wait,
                  Failure& failure, int* exitStatus) {
    std::vector<std::string> argv;
    for (const std::wstring& word : command.argv)
        argv.push_back(Native(word));
    std::vector<char*> args;
    for (std::string& word : argv)
        args.push_back(word.data());
    args.push_back(nullptr);
    const std::string folder = Native(workingFolder);

    posix_spawn_file_actions_t actions;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0) {
        failure = SystemFailure(error);
        return false;
    }
    if (!folder.empty())
        error = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = -1;
    if (error == 0)
        error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        // The errno does not say which step failed; a folder that cannot be entered is the
        // cause whenever there is one, since the change of folder comes first.
        struct stat st {};
        const bool folderUsable =
            folder.empty() || (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                               access(folder.c_str(), X_OK) == 0);
        failure = SystemFailure(error, folderUsable ? command.argv[0] : workingFolder);
        return false;
    }
    if (wait) {
        int status = 0;
        pid_t waited;
        do {
            waited = waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
        if (waited == pid && exitStatus != nullptr) {
            // A program ended by a signal reports 128 + the signal, as a shell does.
            if (WIFEXITED(status))
                *exitStatus = WEXITSTATUS(status);
            else if (WIFSIGNALED(status))
                *exitStatus = 128 + WTERMSIG(status);
        }
    }
    return true;
}

}  // namespace

bool GetCurrentDirectory(std::wstring& out) {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return false;
        buffer.resize(buffer.size() * 2);
    }
    out = Utf8ToWide(std::string_view(buffer.data()));
    return true;
}

bool GetModulePath(std::wstring& out) {
    std::vector<char> buffer(4096);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size() - 1)
        return false;
    out = Utf8ToWide(std::string_view(buffer.data(), static_cast<size_t>(n)));
    return true;
}

bool GetRuntimeFolder(std::wstring& out) {
    std::wstring runtime = FromEnv("XDG_RUNTIME_DIR");
    if (!runtime.empty() && IsDirectory(runtime)) {
        out = runtime;
        return true;
    }
    // Without a session runtime folder, use a private one per user below the temp folder.
    std::wstring tmp = FromEnv("TMPDIR");
    if (tmp.empty())
        tmp = L"/tmp";
    std::wstring folder;
    if (!JoinPath(tmp, L"velmora-" + std::to_wstring(getuid()), folder, kMaxNativePathLength))
        return false;
    std::string native = Native(folder);
    if (mkdir(native.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (lstat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    out = folder;
    return true;
}

bool FileExists(const std::wstring& path) {
    return !path.empty() && access(Native(path).c_str(), F_OK) == 0;
}

bool IsDirectory(const std::wstring& path) {
    struct stat st {};
    return !path.empty() && stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool GetFileSize(const std::wstring& path, std::int64_t& size) {
    struct stat st {};
    if (path.empty() || stat(Native(path).c_str(), &st) != 0)
        return false;
    size = static_cast<std::int64_t>(st.st_size);
    return true;
}

UniqueFile OpenFile(const std::wstring& path, const char* mode) {
    if (path.empty())
        return nullptr;
    return UniqueFile(std::fopen(Native(path).c_str(), mode));
}

UniqueFile CreateNewFile(const std::wstring& path, const char* mode) {
    if (path.empty())
        return nullptr;
    int fd = open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr)
        close(fd);
    return UniqueFile(file);
}

bool RemoveFile(const std::wstring& path) {
    return !path.empty() && unlink(Native(path).c_str()) == 0;
}

bool ReplaceFile(const std::wstring& from, const std::wstring& to, Failure* failure) {
    if (from.empty() || to.empty()) {
        if (failure != nullptr)
            *failure = SystemFailure(ENOENT, from.empty() ? from : to);
        return false;
    }
    // rename(2) swaps the directory entry atomically and replaces a link at to, not its target.
    if (std::rename(Native(from).c_str(), Native(to).c_str()) != 0) {
        if (failure != nullptr)
            *failure = SystemFailure(errno, to);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::wstring& path, std::string_view content, Failure* failure) {
    const auto fail = [failure](Failure cause) {
        if (failure != nullptr)
            *failure = std::move(cause);
        return false;
    };
    const std::size_t separator = path.rfind(kPathSeparator);
    const std::wstring folder = separator == std::wstring::npos ? L"" : path.substr(0, separator);
    if (path.empty() || separator + 1 == path.size())
        return fail(SystemFailure(ENOENT, path));
    if (!folder.empty() && !CreateFolders(folder))
        return fail(SystemFailure(errno, folder));
    // A name of its own per writer (O_EXCL): two launchers saving at once never write into one
    // temporary file, and a link planted at the name is refused rather than followed.
    std::random_device random;
    wchar_t suffix[32];
    std::swprintf(suffix, std::size(suffix), L".%08x%08x.tmp", random(), random());
    const std::wstring temporary = path + suffix;
    UniqueFile file = CreateNewFile(temporary, "wb");
    if (!file)
        return fail(SystemFailure(errno, temporary));
    const bool written =
        std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
    Failure closeFailure;
    const bool closed = CloseFile(file, &closeFailure);
    Failure replaceFailure;
    if (!written || !closed || !ReplaceFile(temporary, path, &replaceFailure)) {
        RemoveFile(temporary);
        return fail(!closed    ? closeFailure
                    : !written ? SystemFailure(EIO, temporary)
                               : replaceFailure);
    }
    return true;
}

bool CreateFolders(const std::wstring& path) {
    const std::string native = Native(path);
    for (size_t slash = native.find('/', 1); slash != std::string::npos;
         slash = native.find('/', slash + 1)) {
        const std::string step = native.substr(0, slash);
        if (mkdir(step.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    if (!native.empty() && mkdir(native.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    return IsDirectory(path);
}

bool IsPeImage(const std::wstring& path) {
    // Never a FIFO or device: opening one to look for "MZ" could wait for ever.
    const UniqueFile file = OpenRegularFileForReading(path);
    if (file == nullptr)
        return false;
    char magic[2] = {0, 0};
    return std::fread(magic, 1, 2, file.get()) == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

LockResult TryNamedLock(const std::wstring& name) {
    std::wstring folder;
    if (!GetRuntimeFolder(folder))
        return LockResult::kUnavailable;
    std::wstring lock;
    if (!JoinPath(folder, name + L".lock", lock, kMaxNativePathLength))
        return LockResult::kUnavailable;
    const std::string path = Native(lock);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return LockResult::kUnavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Held for the rest of the process's life: the descriptor is deliberately never closed.
        return LockResult::kTaken;
    }
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? LockResult::kHeldElsewhere : LockResult::kUnavailable;
}

bool StartProgram(const std::wstring& path, const std::wstring& workingFolder, bool wait,
                  Failure* failure, int* exitStatus) {
    Failure cause;
    ProgramFacts facts = ProcessFacts();
    facts.isPeImage = IsPeImage(path);
    ProgramCommand command;
    const bool started = BuildProgramCommand(path, facts, command, &cause) &&
                         SpawnProgram(command, workingFolder, wait, cause, exitStatus);
    if (!started && failure != nullptr)
        *failure = std::move(cause);
    return started;
}

bool OpenWebPage(const std::wstring& url) {
    // xdg-open takes no "--": an address that begins like an option is never handed over.
    std::wstring found;
    if (url.empty() || url[0] == L'-' || !FindOnSearchPath(L"xdg-open", ProcessFacts(), found))
        return false;
    std::string opener = Native(found);
    std::string address = Native(url);
    char* args[] = {opener.data(), address.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, opener.c_str(), nullptr, nullptr, args, environ) != 0)
        return false;
    // xdg-open hands the page to the browser and returns quickly; its status says whether a
    // browser took it.
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::uint32_t TickCountMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepMs(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

namespace {

// Whether a local stream socket accepts a connection: the display server is really there.
bool SocketAnswers(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answered =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return answered;
}

bool WaylandDisplayAnswers(const std::string& display) {
    if (display[0] == '/')
        return SocketAnswers(display);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0')
        return false;
    std::string path(runtime);
    path.push_back('/');
    path.append(display);
    return SocketAnswers(path);
}

}  // namespace

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (stream == nullptr || ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool WaylandDisplayPresent(std::wstring* reason) {
    const char* w = std::getenv("WAYLAND_DISPLAY");
    if (w == nullptr || *w == '\0') {
        if (reason != nullptr)
            *reason = L"WAYLAND_DISPLAY is not set";
        return false;
    }
    if (WaylandDisplayAnswers(w))
        return true;
    if (reason != nullptr)
        *reason = L"the Wayland display " + Utf8ToWide(std::string_view(w)) + L" does not answer";
    return false;
}

bool X11DisplayPresent(std::wstring* reason) {
    const char* x = std::getenv("DISPLAY");
    std::wstring why;
    if (x == nullptr || *x == '\0')
        why = L"DISPLAY is not set";
    else if (X11ServerAccepts(x, why))
        return true;
    if (reason != nullptr)
        *reason = why;
    return false;
}

bool HasDisplay(std::wstring* reason) {
    // A display variable left over from a closed session, or a server that refuses this
    // player, must not take the launcher to a GUI that cannot open: the toolkit would end the
    // process at the first window.
    std::wstring wayland, x11;
    if (WaylandDisplayPresent(&wayland) || X11DisplayPresent(&x11))
        return true;
    if (reason != nullptr)
        *reason = wayland + L"; " + x11;
    return false;
}

}  // namespace platform
