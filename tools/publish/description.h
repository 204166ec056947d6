#pragma once
// The release engineer's description of a catalogue: one small TOML file that names what only a
// person knows (release names, latest versions, installers, where the files are served) and
// points at the files that hold the rest. README.md in this folder documents it with an example.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/publish/finding.h"

struct DescribedExecutable {
    std::filesystem::path path;  // absolute
    std::string exeId;           // empty: made from the executable's file version
    std::uint64_t line = 0;
};

// A file of the patch that players of earlier releases may build from a file they have.
struct DescribedDelta {
    std::string file;                         // below the patch folder, '/'-separated
    std::string base;                         // the installed game's file, below the game folder
    std::vector<std::filesystem::path> from;  // absolute: earlier releases' game folders
    std::uint64_t line = 0;
};

struct DescribedPatch {
    std::string version;
    std::string installer;
    std::filesystem::path folder;    // absolute; inside the served folder
    std::vector<std::string> files;  // below folder, '/'-separated; empty: every file of it
    std::vector<DescribedDelta> deltas;
    std::uint64_t line = 0;
};

struct DescribedRelease {
    std::string name;
    std::string latestversion;
    std::vector<DescribedExecutable> executables;
    std::vector<DescribedPatch> patches;
    std::uint64_t line = 0;
};

struct Description {
    std::filesystem::path file;  // the description itself
    std::string baseUrl;         // ends in '/'
    // Other places serving the same folder, each ending in '/': a mirror per file for each.
    std::vector<std::string> mirrorUrls;
    std::filesystem::path servedFolder;  // absolute; what baseUrl serves
    std::filesystem::path notesFolder;   // absolute; empty when there are no release notes
    std::string patcherversion;
    std::string patcherurl;
    std::vector<DescribedRelease> releases;
};

// The name of the description file velmora-publish suggests; any name is accepted.
inline constexpr const char* kDescriptionFileName = "velmora-publish.toml";

// Reads a description from text (TOML) said to come from file; relative paths are taken from
// file's folder. Every problem
// becomes a finding with its line (file left empty: the description itself); false when any of
// them is an error.
bool ParseDescription(std::string_view text, const std::filesystem::path& file, Description& out,
                      std::vector<Finding>& findings);
// The same for a file on disk.
bool ReadDescription(const std::filesystem::path& file, Description& out,
                     std::vector<Finding>& findings);
