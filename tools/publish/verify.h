#pragma once
// `velmora-publish verify`: the launcher's own verdict on a catalogue and its .minisig, under
// each policy, for a publisher who wants to know before the files go out.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

struct VerifyRequest {
    std::filesystem::path catalogueFile;  // its signature is catalogueFile + ".minisig"
    std::string key;                      // the base64 line, or the path of a .pub file
    // A copy of a launcher's state folder (velmora-launcher/ below $XDG_STATE_HOME), whose
    // catalogue-serials the serial is checked against; none checks against no record.
    std::optional<std::filesystem::path> stateFolder;
};

struct VerifyResult {
    int status = 0;      // 0: a launcher under require would use it; 1: it would not; 2: bad key
    std::string report;  // plain text for standard output
};

VerifyResult VerifyCatalogue(const VerifyRequest& request,
                             std::chrono::system_clock::time_point now);
