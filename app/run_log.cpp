#include "app/run_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/path.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "text/log.h"
#include "text/utf8.h"

namespace {

constexpr wchar_t kRunLogName[] = L"launcher.log";
constexpr wchar_t kOldRunLogName[] = L"launcher.log.1";

std::chrono::steady_clock::time_point g_verboseStart;

void WriteToStandardError(std::string_view line) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - g_verboseStart).count();
    char prefix[48];
    const int length = std::snprintf(prefix, sizeof prefix, "[velmora %8.3f] ", seconds);
    std::string whole(prefix, length > 0 ? static_cast<std::size_t>(length) : 0);
    whole.append(line);
    whole += '\n';
    // One write per line, so lines from two threads never interleave.
    std::fwrite(whole.data(), 1, whole.size(), stderr);
    std::fflush(stderr);
}

// A field as one printable piece of a line.
std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += (byte < 0x20 || byte == 0x7f) ? '?' : c;
    }
    return out;
}

std::string Quoted(std::wstring_view text) {
    std::string inner = Printable(LogText(text));
    std::string out = "\"";
    for (const char c : inner) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool VerboseRequested(bool verbose) {
    const char* debug = std::getenv("VELMORA_DEBUG");
    return verbose || (debug != nullptr && std::strcmp(debug, "1") == 0);
}

void StartVerboseLog(bool enabled) {
    if (!enabled) {
        SetLogSink(nullptr);
        return;
    }
    g_verboseStart = std::chrono::steady_clock::now();
    SetLogSink(WriteToStandardError);
}

std::string FormatRunRecord(const RunRecord& record, std::int64_t time) {
    char stamp[32] = "?";
    const std::time_t when = static_cast<std::time_t>(time);
    std::tm parts{};
    if (const std::tm* utc = std::gmtime(&when)) {
        parts = *utc;
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
    }
    std::string line = std::string(stamp) + " velmora-launcher " + Printable(record.version) +
                       " exit=" + std::to_string(record.exitStatus) +
                       " outcome=" + Printable(record.outcome);
    if (record.installerStatus >= 0)
        line += " installer=" + std::to_string(record.installerStatus);
    line += " url=" + Quoted(record.url) + " path=" + Quoted(record.path);
    if (!record.switches.empty())
        line += " switches=\"" + Printable(record.switches) + "\"";
    if (record.failure.IsFailure())
        line += " cause=" + Quoted(Utf8ToWide(std::string_view(DescribeFailure(record.failure))));
    return line;
}

bool RunLogFolder(std::wstring& out) {
    return platform::GetLauncherFolder(platform::kStateFolder, out);
}

bool AppendRunLog(const std::wstring& folder, const std::string& line, std::int64_t limit) {
    if (folder.empty() || !platform::CreateFolders(folder))
        return false;
    platform::TrustedFolder place;
    if (!place.Open(folder))
        return false;
    platform::UniqueFile file = place.OpenFile(kRunLogName, platform::FileAccess::kAppend);
    if (file == nullptr)
        return false;
    std::int64_t size = 0;
    if (platform::GetOpenFileSize(file.get(), size) && size >= limit) {
        file.reset();
        std::wstring current;
        std::wstring old;
        // The rename moves the entry itself, so a link someone put there is moved, never
        // followed; the fresh file is again opened below the folder.
        if (platform::JoinPath(folder, kRunLogName, current) &&
            platform::JoinPath(folder, kOldRunLogName, old))
            platform::ReplaceFile(current, old);
        file = place.OpenFile(kRunLogName, platform::FileAccess::kAppend);
        if (file == nullptr)
            return false;
    }
    const std::string whole = line + "\n";
    const bool written = std::fwrite(whole.data(), 1, whole.size(), file.get()) == whole.size();
    return platform::CloseFile(file) && written;
}
