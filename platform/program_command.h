#pragma once
// What starting a program amounts to, decided apart from the start itself: which file is
// executed, with which arguments, and whether a runner stands in front of a Windows program.
// Nothing here touches the system; StartProgram gathers the facts, the tests state them.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "text/failure.h"

namespace platform {

// The environment variable that names the runner for Windows programs.
extern const char kRunnerVariable[];

struct ProgramFacts {
    bool isPeImage = false;  // the file begins with the "MZ" of a Windows executable
    std::wstring runner;     // the runner variable's value; empty when unset or empty
    std::optional<std::wstring> searchPath;  // PATH; nullopt when unset
    std::wstring currentDirectory;  // where relative names are resolved; empty when unknown
    int currentDirectoryError = 0;  // errno of reading it, when it could not be read
    // Whether an absolute path names a regular file this process may execute.
    std::function<bool(const std::wstring&)> isExecutableFile;
};

struct ProgramCommand {
    // argv[0] is the file executed (the runner, or the program itself), always absolute, since
    // the program starts in a working folder of its own; the program's path comes last.
    std::vector<std::wstring> argv;
    bool throughRunner = false;
};

// A Windows program goes through the runner. The runner value, when it is a path (it holds a
// '/') that names an executable file as a whole, is that program, so "/opt/Proton 8.0/proton"
// needs no quotes; otherwise its words are split as a shell splits them (quotes and
// backslashes honoured, nothing expanded). Without a value the runner is "wine". A runner word
// without a '/' is looked for on the search path; one with a '/' is taken relative to the
// current directory. Any other file is executed itself.
//
// False, with the cause, when the runner is missing (kRunnerMissing, detail: the runner looked
// for), when a relative name cannot be resolved (kSystem with the current directory's errno),
// or when a resolved path does not fit the system's limit (kUnsafePath).
bool BuildProgramCommand(const std::wstring& path, const ProgramFacts& facts, ProgramCommand& out,
                         Failure* failure = nullptr);

// The first executable file called name in the folders of the search path, made absolute; an
// empty entry of the search path is the current directory, as for the shell.
bool FindOnSearchPath(const std::wstring& name, const ProgramFacts& facts, std::wstring& out);

// The words of value as a shell splits a command line: blanks separate words; single quotes
// keep everything literally; inside double quotes a backslash escapes only $ ` " \ and a line
// break; elsewhere it escapes any character. Nothing is expanded. False when a quote is left
// open or a backslash ends the value.
bool SplitShellWords(const std::wstring& value, std::vector<std::wstring>& words);

}  // namespace platform
