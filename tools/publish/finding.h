#pragma once
// One thing velmora-publish has to say about a catalogue or a description file, and the two
// ways it is shown: a line per finding for a person, a JSON document for a CI job.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class Severity {
    kError,    // the launcher skips, misreads or trips over something: the catalogue is wrong
    kWarning,  // legal, but most likely not what the publisher meant
    kNote,     // worth knowing; nothing is wrong
};

struct Finding {
    Severity severity = Severity::kError;
    std::uint64_t line = 0;  // from 1; 0 when it concerns the file as a whole
    std::string code;        // short and stable ("digest-format"): what a CI job filters on
    std::string message;     // one or two sentences, UTF-8
    std::string file;        // the file meant, when it is not the one being checked
};

struct FindingCounts {
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::size_t notes = 0;
};

// Exit statuses of velmora-publish.
constexpr int kExitClean = 0;
constexpr int kExitFindings = 1;  // errors (or, with --strict, warnings)
constexpr int kExitUsage = 2;     // the command line could not be used

const char* SeverityName(Severity severity);
FindingCounts CountFindings(const std::vector<Finding>& findings);
// Orders by line, keeping the order of discovery among findings of one line; findings about
// other files come after those of the file checked.
void SortFindings(std::vector<Finding>& findings);
// kExitFindings when there is an error, or a warning and strict is set; else kExitClean.
int ExitStatusFor(const std::vector<Finding>& findings, bool strict);

// "file:line: severity: message [code]", the form compilers use, so editors can jump to it.
std::string FormatFinding(const Finding& finding, std::string_view file);
// "3 errors, 1 warning, 2 notes" (or "no findings").
std::string FormatCounts(const FindingCounts& counts);
// {"file": ..., "findings": [{"severity", "line", "code", "message"[, "file"]}...],
//  "summary": {"errors", "warnings", "notes", "status"}}, indented, one finding per object.
// Text that is not valid UTF-8 is carried with U+FFFD in its place.
std::string FindingsToJson(const std::vector<Finding>& findings, std::string_view file,
                           bool strict);
