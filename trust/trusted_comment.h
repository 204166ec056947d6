#pragma once
// The fields the publisher writes into a signature's trusted comment, which the global
// signature covers: `serial:N` (a decimal integer that grows with every catalogue) and
// `expires:YYYY-MM-DDTHH:MM:SSZ` (UTC), and minisign's own `file:NAME`, which names the file
// that was signed. All are optional; other words (minisign's `timestamp:`) are left alone.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TrustedCommentFields {
    std::optional<std::uint64_t> serial;
    std::optional<std::chrono::sys_seconds> expires;
    std::optional<std::string> file;
};

// Reads the fields from a trusted comment whose words are separated by spaces or tabs. False
// (with a plain reason in error, when given) when a field is present but not well formed or
// appears twice: the publisher meant something, and guessing what would weaken the guard.
bool ParseTrustedComment(std::string_view comment, TrustedCommentFields& fields,
                         std::string* error = nullptr);

// Reads a UTC time written exactly as YYYY-MM-DDTHH:MM:SSZ; false for anything else,
// including dates that do not exist (2027-02-30).
bool ParseUtcTime(std::string_view text, std::chrono::sys_seconds& time);

// The same form back, for the log and --verbose.
std::string FormatUtcTime(std::chrono::sys_seconds time);
