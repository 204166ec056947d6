#pragma once
// What support can ask a player for: --verbose (or VELMORA_DEBUG=1) sends every step to
// standard error, and every run leaves one line in launcher.log below the state folder
// ($XDG_STATE_HOME/velmora-launcher/, else ~/.local/state/velmora-launcher/). The file is kept
// below kRunLogLimit by moving it to launcher.log.1 (the one before that is dropped).
//
// Nothing here ever changes what the launcher does: a log that cannot be written is skipped.

#include <cstdint>
#include <string>

#include "text/failure.h"

inline constexpr std::int64_t kRunLogLimit = 1024 * 1024;

// Whether the step-by-step lines are asked for: verbose, or VELMORA_DEBUG=1.
bool VerboseRequested(bool verbose);
// Sends the log lines (text/log.h) to standard error, each with the time since the call; or,
// when enabled is false, drops them again.
void StartVerboseLog(bool enabled);

struct RunRecord {
    std::string version;   // the launcher's own
    std::wstring url;      // base URL
    std::wstring path;     // installation folder as given
    std::string switches;  // the switches given, as on the command line
    std::string outcome;   // RunOutcomeName
    int exitStatus = 0;
    int installerStatus = -1;  // -1: no installer ran
    Failure failure;           // why something did not start, when it did not
    std::string deltas;        // what deltas did in the download, when any was offered
};

// One line: "<UTC time> velmora-launcher <version> exit=<n> outcome=<word> ..." with every
// field's text made printable (control characters as '?', undecodable bytes as U+FFFD), so a
// record always stays one line. time is seconds since 1970.
std::string FormatRunRecord(const RunRecord& record, std::int64_t time);

// Appends line (and a line feed) to launcher.log in folder, creating the folder; when the file
// has reached limit first, it becomes launcher.log.1 and a fresh file is begun. The file is
// opened without following a link and only as a regular file. False when nothing was written.
bool AppendRunLog(const std::wstring& folder, const std::string& line,
                  std::int64_t limit = kRunLogLimit);
// The folder of launcher.log: <state folder>/velmora-launcher. False when there is none.
bool RunLogFolder(std::wstring& out);
