#pragma once
// The launcher's command line: --url and --path, read into fixed-capacity fields.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/limits.h"

class CLauncherCommandLineInfo {
  public:
    std::wstring m_szUrl;   // base URL of the download server, ends in "/"
    std::wstring m_szPath;  // installation folder: empty or ending in a separator
    // --path was given (also as an empty value, the current folder): the folder is the
    // command line's, never one the launcher remembered or asked for.
    bool m_bPathGiven = false;
    // The switches, each as kLauncherSwitches describes it.
    bool m_bConsole = false;
    bool m_bAssumeYes = false;
    bool m_bNoCache = false;
    bool m_bDownloadOnly = false;
    bool m_bShowHelp = false;
    bool m_bShowVersion = false;
    bool m_bVerbose = false;
    // The download's bandwidth cap in bytes per second (--limit-rate, else VELMORA_LIMIT_RATE);
    // 0: none.
    std::int64_t m_rateLimit = 0;
};

// The environment variable a desktop entry sets the cap with, read when --limit-rate is absent.
inline constexpr char kRateLimitVariable[] = "VELMORA_LIMIT_RATE";

// A rate as curl's --limit-rate writes it: whole bytes per second, or a number followed by K, M
// or G (either case; 1024s). False for anything else, for 0 and for a rate beyond any link.
bool ParseRateLimit(std::wstring_view text, std::int64_t& bytesPerSecond);

// A switch that takes no value. The parser, --help and the run log all read the one table, so a
// new switch cannot be understood and left out of the help, or the other way round.
struct LauncherSwitch {
    const wchar_t* name;
    bool CLauncherCommandLineInfo::*field;
    const wchar_t* help;
    // Whether the run log records it: the switches that change what the run did.
    bool logged;
};
extern const std::span<const LauncherSwitch> kLauncherSwitches;

// The logged switches that are set, in the table's order, as on a command line.
std::string LoggedSwitches(const CLauncherCommandLineInfo& info);

// What --help prints.
std::wstring LauncherUsageText();

// Scans args[0..count) for option; each match takes the next argument as its value (the last
// match wins), and the pair is removed from args (count drops by two). An option that is the
// last argument ends the scan and gives false. A value that does not fit capacity (terminator
// included) is consumed but treated as absent. True when a value was taken.
bool FindOption(std::vector<std::wstring>& args, std::size_t& count, const std::wstring& option,
                std::wstring& destination, std::size_t capacity);

// Reads --url then --path (and the launcher's own switches) from the argument vector, whose
// index 0 is the program path.
void ParseLauncherCommandLine(std::vector<std::wstring>& args, CLauncherCommandLineInfo& info);
