#pragma once
// Three-way comparison of dotted version texts ("1.0.0.38") as the catalogue and the file
// versions write them.

#include <string_view>

#include "text/limits.h"

// -1 when a is older than b, +1 when newer, 0 when they count as the same release.
//
// Identical texts are equal at once. Otherwise each text (its first kMaxVersionLength
// characters, up to any NUL; the rest is ignored) is split at '.', empty components are dropped,
// and each component counts by its leading number: white space skipped, an optional sign, then
// decimal digits ("10b" is 10, "beta" is 0). Numbers beyond the signed 32-bit range are clamped to
// INT32_MAX / INT32_MIN, the way the C run-time's _wtoi saturates. The components are then
// compared as unsigned 32-bit values, position by position over the shorter list only: "1.0"
// equals "1.0.5", the empty text equals everything, and a negative component ("-1") ranks
// above every non-negative one.
int CompareVersions(std::wstring_view a, std::wstring_view b);
