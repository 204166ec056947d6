#include "app/command_line.h"

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

void ParseLauncherCommandLine(std::vector<std::wstring>& args, CLauncherCommandLineInfo& info) {
    std::size_t count = args.size();

    if (!FindOption(args, count, L"--url", info.m_szUrl, kUrlCapacity)) {
        info.m_szUrl = Utf8ToWide(std::string_view(VELMORA_DEFAULT_BASE_URL));
    }
    // One character of the field is kept for the separator appended below.
    // An empty value names the current folder, as no --path does; a separator after it would
    // name the root instead.
    if (FindOption(args, count, L"--path", info.m_szPath, kPathCapacity - 1) &&
        !info.m_szPath.empty()) {
        info.m_szPath += platform::kPathSeparator;
    } else {
        info.m_szPath.clear();
    }

    info.m_bConsole = TakeSwitch(args, count, L"--console");
    info.m_bAssumeYes = TakeSwitch(args, count, L"--yes");
    info.m_bNoCache = TakeSwitch(args, count, L"--no-cache");
    info.m_bShowHelp = TakeSwitch(args, count, L"--help");
    info.m_bShowVersion = TakeSwitch(args, count, L"--version");
    info.m_bVerbose = TakeSwitch(args, count, L"--verbose");
    args.resize(count);
}
