#pragma once
// Writes small but valid Windows executables (PE32 for x86, PE32+ for x64) whose only code is
// "return 0", with a version resource of the given file and product version, or none.
// Plain C++ with no test framework, so that tools (the demo server) can build it in too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using PeVersion = std::array<std::uint16_t, 4>;

struct PeOptions {
    bool is64Bit = false;
    // Without it the image has no VS_VERSIONINFO at all.
    bool withVersion = true;
    // An application manifest (RT_MANIFEST) beside, or instead of, the version; with neither,
    // the image has no resource section.
    bool withManifest = false;
    PeVersion fileVersion{1, 0, 0, 0};
    PeVersion productVersion{1, 0, 0, 0};
    std::wstring productName = L"Velmora II";
    std::wstring fileDescription = L"Velmora II";
    // Bytes after the last section (an overlay): changes the digest but not the version.
    std::vector<unsigned char> overlay;
};

// Where the writer put things, for tests that damage an image on purpose. Offsets are file
// offsets; zero when the part is absent.
struct PeLayout {
    std::size_t peHeader = 0;  // the "PE\0\0" signature
    std::size_t optionalHeader = 0;
    std::size_t sectionTable = 0;
    std::uint16_t sectionCount = 0;
    std::size_t resourceSection = 0;  // the root of the resource tree
    std::uint32_t resourceRva = 0;
    std::size_t versionData = 0;  // VS_VERSIONINFO
    std::size_t versionSize = 0;
    std::size_t imageEnd = 0;  // end of the last section, where an overlay begins
};

std::vector<unsigned char> BuildPeImage(const PeOptions& options, PeLayout* layout = nullptr);

// Writes BuildPeImage(options) to path (created or replaced); false on any I/O failure.
bool WritePeFile(const std::string& path, const PeOptions& options);
