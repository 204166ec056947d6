#include "app/command_line.h"

#include <algorithm>
#include <cstdlib>

#include "platform/path.h"
#include "text/utf8.h"

bool FindOption(std::vector<std::wstring>& args, std::size_t& count, const std::wstring& option,
                std::wstring& destination, std::size_t capacity) {
    if (count > args.size())
        count = args.size();
    bool found = false;
    std::size_t i = 0;
    while (i < count) {
        if (args[i] != option) {
            ++i;
            continue;
        }
        // An option with nothing after it voids every earlier occurrence: the default stands.
        if (i + 1 >= count)
            return false;
        const std::wstring& value = args[i + 1];
        // A value that does not fit its field is consumed like any other but never cut short.
        if (value.size() + 1 <= capacity) {
            destination = value;
            found = true;
        } else {
            destination.clear();
            found = false;
        }
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(i + 2));
        count -= 2;
    }
    return found;
}

namespace {

// "1024G" and a few more: no rate worth writing is longer.
constexpr std::size_t kRateCapacity = 32;
// A terabyte a second: beyond any link, so beyond anything meant.
constexpr std::int64_t kMaxRateLimit = std::int64_t{1} << 40;

// In the order --help lists them.
constexpr LauncherSwitch kSwitches[] = {
    {L"--console", &CLauncherCommandLineInfo::m_bConsole,
     L"use the text front end even when a display is present", true},
    {L"--yes", &CLauncherCommandLineInfo::m_bAssumeYes,
     L"answer every question with its default (Yes) without asking", true},
    {L"--verbose", &CLauncherCommandLineInfo::m_bVerbose,
     L"write every step to standard error (also VELMORA_DEBUG=1)", true},
    {L"--no-cache", &CLauncherCommandLineInfo::m_bNoCache,
     L"hash the game and fetch the catalogue afresh, without the launcher's cache", false},
    {L"--download-only", &CLauncherCommandLineInfo::m_bDownloadOnly,
     L"fetch and check the patch, start nothing (5: none was due)", true},
    {L"--help", &CLauncherCommandLineInfo::m_bShowHelp, L"show this text and end", false},
    {L"--version", &CLauncherCommandLineInfo::m_bShowVersion,
     L"show the launcher's version and end", false},
};

// Removes every occurrence of a switch that takes no value; true when there was one.
bool TakeSwitch(std::vector<std::wstring>& args, std::size_t& count, const wchar_t* name) {
    bool found = false;
    for (std::size_t i = 1; i < count;) {
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
            --count;
            found = true;
        } else {
            ++i;
        }
    }
    return found;
}

}  // namespace

const std::span<const LauncherSwitch> kLauncherSwitches(kSwitches);

void ParseLauncherCommandLine(std::vector<std::wstring>& args, CLauncherCommandLineInfo& info) {
    std::size_t count = args.size();

    if (!FindOption(args, count, L"--url", info.m_szUrl, kUrlCapacity)) {
        info.m_szUrl = Utf8ToWide(std::string_view(VELMORA_DEFAULT_BASE_URL));
    }
    // One character of the field is kept for the separator appended below.
    // An empty value names the current folder, as no --path does; a separator after it would
    // name the root instead.
    info.m_bPathGiven = FindOption(args, count, L"--path", info.m_szPath, kPathCapacity - 1);
    if (info.m_bPathGiven && !info.m_szPath.empty()) {
        info.m_szPath += platform::kPathSeparator;
    } else {
        info.m_szPath.clear();
    }

    // A value that is no rate is forgiven like any other option: the download runs uncapped.
    std::wstring rate;
    info.m_rateLimit = 0;
    if (FindOption(args, count, L"--limit-rate", rate, kRateCapacity)) {
        ParseRateLimit(rate, info.m_rateLimit);
    } else if (const char* variable = std::getenv(kRateLimitVariable)) {
        ParseRateLimit(Utf8ToWide(std::string_view(variable)), info.m_rateLimit);
    }

    for (const LauncherSwitch& entry : kLauncherSwitches)
        info.*entry.field = TakeSwitch(args, count, entry.name);
    args.resize(count);
}

std::string LoggedSwitches(const CLauncherCommandLineInfo& info) {
    std::string given;
    for (const LauncherSwitch& entry : kLauncherSwitches) {
        if (!entry.logged || !(info.*entry.field))
            continue;
        if (!given.empty())
            given += ' ';
        given += WideToUtf8(std::wstring_view(entry.name));
    }
    return given;
}

std::wstring LauncherUsageText() {
    std::wstring text =
        L"Usage: velmora-launcher [--url <base URL>] [--path <game folder>] [options]\n"
        L"\n"
        L"Fetches the patch catalogue from <base URL>patchinfo.xml, offers a newer patch for\n"
        L"the game installed in <game folder> (bin/velmora2.exe below it), downloads, checks\n"
        L"and installs it, or starts the game.\n"
        L"\n"
        L"  --url <base URL>   download server, ending in \"/\" (default: the maker's server)\n"
        L"  --path <folder>    game installation folder (default: the current directory)\n"
        L"  --limit-rate RATE  keep the download under RATE bytes a second: 500K, 2M\n"
        L"                     (also VELMORA_LIMIT_RATE)\n";
    // The descriptions line up after the longest option, "--url <base URL>".
    constexpr std::size_t kColumn = 19;
    for (const LauncherSwitch& entry : kLauncherSwitches) {
        std::wstring name(entry.name);
        name.resize(std::max(kColumn, name.size() + 1), L' ');
        text += L"  " + name + entry.help + L'\n';
    }
    return text;
}

bool ParseRateLimit(std::wstring_view text, std::int64_t& bytesPerSecond) {
    std::int64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case L'k':
            case L'K':
                unit = std::int64_t{1} << 10;
                break;
            case L'm':
            case L'M':
                unit = std::int64_t{1} << 20;
                break;
            case L'g':
            case L'G':
                unit = std::int64_t{1} << 30;
                break;
            default:
                break;
        }
        if (unit > 1)
            text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 13)
        return false;
    std::int64_t number = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9')
            return false;
        number = number * 10 + (digit - L'0');
    }
    if (number == 0 || number > kMaxRateLimit / unit)
        return false;
    bytesPerSecond = number * unit;
    return true;
}
