#pragma once
// The catalogue's check: everything the launcher would skip, misread or trip over, found with
// the launcher's own parser and readers so that the two can never disagree.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/publish/finding.h"
#include "tools/publish/url_probe.h"

struct LintOptions {
    // When set, every download is compared with a local file: <folder>/<target> (a download
    // folder) or else the file at the end of its URL's path below the folder (a copy of what
    // the server serves).
    std::filesystem::path filesFolder;
    // Ask the server for every URL (first byte only): size, status, byte ranges.
    bool checkUrls = false;
    // How a URL is asked; ProbeUrl unless a caller puts something else in.
    std::function<UrlProbe(const std::string&)> probe = ProbeUrl;
};

// Checks the bytes of a patchinfo.xml. The findings come in line order.
std::vector<Finding> LintCatalogue(std::string_view text, const LintOptions& options);

// Reads the file and checks it; a file that cannot be read is one error finding.
std::vector<Finding> LintCatalogueFile(const std::filesystem::path& file,
                                       const LintOptions& options);
