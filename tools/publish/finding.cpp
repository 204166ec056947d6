#include "tools/publish/finding.h"

#include <algorithm>
#include <nlohmann/json.hpp>

const char* SeverityName(Severity severity) {
    switch (severity) {
        case Severity::kError:
            return "error";
        case Severity::kWarning:
            return "warning";
        case Severity::kNote:
            return "note";
    }
    return "error";
}

FindingCounts CountFindings(const std::vector<Finding>& findings) {
    FindingCounts counts;
    for (const Finding& finding : findings) {
        switch (finding.severity) {
            case Severity::kError:
                ++counts.errors;
                break;
            case Severity::kWarning:
                ++counts.warnings;
                break;
            case Severity::kNote:
                ++counts.notes;
                break;
        }
    }
    return counts;
}

void SortFindings(std::vector<Finding>& findings) {
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        if (a.file.empty() != b.file.empty())
            return a.file.empty();
        if (a.file != b.file)
            return a.file < b.file;
        return a.line < b.line;
    });
}

int ExitStatusFor(const std::vector<Finding>& findings, bool strict) {
    const FindingCounts counts = CountFindings(findings);
    if (counts.errors > 0 || (strict && counts.warnings > 0))
        return kExitFindings;
    return kExitClean;
}

std::string FormatFinding(const Finding& finding, std::string_view file) {
    std::string text = finding.file.empty() ? std::string(file) : finding.file;
    if (finding.line > 0)
        text += ":" + std::to_string(finding.line);
    text += ": ";
    text += SeverityName(finding.severity);
    text += ": " + finding.message + " [" + finding.code + "]";
    return text;
}

namespace {

std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string FormatCounts(const FindingCounts& counts) {
    if (counts.errors + counts.warnings + counts.notes == 0)
        return "no findings";
    return Counted(counts.errors, "error", "errors") + ", " +
           Counted(counts.warnings, "warning", "warnings") + ", " +
           Counted(counts.notes, "note", "notes");
}

std::string FindingsToJson(const std::vector<Finding>& findings, std::string_view file,
                           bool strict) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Finding& finding : findings) {
        nlohmann::ordered_json item = {{"severity", SeverityName(finding.severity)},
                                       {"line", finding.line},
                                       {"code", finding.code},
                                       {"message", finding.message}};
        if (!finding.file.empty())
            item["file"] = finding.file;
        list.push_back(std::move(item));
    }
    const FindingCounts counts = CountFindings(findings);
    const bool failed = ExitStatusFor(findings, strict) != kExitClean;
    nlohmann::ordered_json document = {{"file", std::string(file)},
                                       {"findings", std::move(list)},
                                       {"summary",
                                        {{"errors", counts.errors},
                                         {"warnings", counts.warnings},
                                         {"notes", counts.notes},
                                         {"status", failed ? "fail" : "pass"}}}};
    // Catalogue text reaches the messages as it stands, and may not be UTF-8: replace rather
    // than throw.
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
