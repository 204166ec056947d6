#pragma once
// The launcher's command line: --url and --path, read into fixed-capacity fields.

#include <cstddef>
#include <string>
#include <vector>

#include "text/limits.h"

class CLauncherCommandLineInfo {
  public:
    std::wstring m_szUrl;       // base URL of the download server, ends in "/"
    std::wstring m_szPath;      // installation folder: empty or ending in a separator
    bool m_bConsole = false;    // --console: the text front end even when a display is present
    bool m_bAssumeYes = false;  // --yes: every question takes its default answer
    bool m_bNoCache = false;    // --no-cache: the game is hashed afresh, the digest cache untouched
    bool m_bShowHelp = false;   // --help
    bool m_bShowVersion = false;  // --version
    bool m_bVerbose = false;      // --verbose: every step to standard error
};

// Scans args[0..count) for option; each match takes the next argument as its value (the last
// match wins), and the pair is removed from args (count drops by two). An option that is the
// last argument ends the scan and gives false. A value that does not fit capacity (terminator
// included) is consumed but treated as absent. True when a value was taken.
bool FindOption(std::vector<std::wstring>& args, std::size_t& count, const std::wstring& option,
                std::wstring& destination, std::size_t capacity);

// Reads --url then --path (and the launcher's own switches) from the argument vector, whose
// index 0 is the program path.
void ParseLauncherCommandLine(std::vector<std::wstring>& args, CLauncherCommandLineInfo& info);
