#pragma once
// Three-way comparison of dotted version texts ("1.0.0.38") as the catalogue and the file
// versions write them.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/limits.h"

// -1 when a is older than b, +1 when newer, 0 when they count as the same release.
//
// Identical texts are equal at once. Otherwise each text (its first kMaxVersionLength
// characters, up to any NUL; the rest is ignored) is split into VersionComponents, empty ones
// are dropped, and the values are compared as unsigned 32-bit numbers, position by position over
// the shorter list only: "1.0" equals "1.0.5", the empty text equals everything, and a negative
// component ("-1") ranks above every non-negative one.
int CompareVersions(std::wstring_view a, std::wstring_view b);

struct VersionComponent {
    std::wstring_view text;  // as written between two dots; may be empty
    // What the component counts as: its leading number, white space skipped, an optional sign,
    // then decimal digits ("10b" is 10, "beta" is 0), clamped to INT32_MAX / INT32_MIN beyond
    // the signed 32-bit range, the way the C run-time's _wtoi saturates.
    std::int32_t value = 0;
};

// The whole text split at every '.', in order, empty components included.
std::vector<VersionComponent> VersionComponents(std::wstring_view text);

// The four numbers of text when it is written the way the launcher writes a file version
// ("%d.%d.%d.%d": each 0 to 65535, no leading zeros, as 1.2.0.0); false for any other text.
bool ParseFileVersion(std::wstring_view text, std::array<std::uint16_t, 4>& parts);
