#include "trust/trusted_comment.h"

#include <cstdio>
#include <limits>

namespace {

constexpr std::string_view kSerialPrefix = "serial:";
constexpr std::string_view kExpiresPrefix = "expires:";
constexpr std::string_view kFilePrefix = "file:";

void SetError(std::string* error, std::string text) {
    if (error != nullptr)
        *error = std::move(text);
}

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// Digits only, no sign, no spaces, no overflow.
bool ParseDecimal(std::string_view text, std::uint64_t& value) {
    if (text.empty())
        return false;
    std::uint64_t result = 0;
    for (char ch : text) {
        if (!IsDigit(ch))
            return false;
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (result > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

// A fixed-width run of digits at text[at, at + width).
bool ReadDigits(std::string_view text, std::size_t at, std::size_t width, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (!IsDigit(text[i]))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool ParseUtcTime(std::string_view text, std::chrono::sys_seconds& time) {
    // 2027-06-30T00:00:00Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) ||
        !ReadDigits(text, 8, 2, day) || !ReadDigits(text, 11, 2, hour) ||
        !ReadDigits(text, 14, 2, minute) || !ReadDigits(text, 17, 2, second))
        return false;
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok())
        return false;
    time = std::chrono::sys_days{date} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
           std::chrono::seconds{second};
    return true;
}

std::string FormatUtcTime(std::chrono::sys_seconds time) {
    const auto days = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss clock{time - days};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

bool ParseTrustedComment(std::string_view comment, TrustedCommentFields& fields,
                         std::string* error) {
    TrustedCommentFields parsed;
    std::size_t at = 0;
    while (at < comment.size()) {
        if (comment[at] == ' ' || comment[at] == '\t') {
            ++at;
            continue;
        }
        std::size_t end = comment.find_first_of(" \t", at);
        if (end == std::string_view::npos)
            end = comment.size();
        const std::string_view word = comment.substr(at, end - at);
        at = end;
        if (word.starts_with(kSerialPrefix)) {
            std::uint64_t serial = 0;
            if (parsed.serial) {
                SetError(error, "the trusted comment gives serial: twice");
                return false;
            }
            if (!ParseDecimal(word.substr(kSerialPrefix.size()), serial)) {
                SetError(error, "serial: is not a decimal number: " + std::string(word));
                return false;
            }
            parsed.serial = serial;
        } else if (word.starts_with(kExpiresPrefix)) {
            std::chrono::sys_seconds expires;
            if (parsed.expires) {
                SetError(error, "the trusted comment gives expires: twice");
                return false;
            }
            if (!ParseUtcTime(word.substr(kExpiresPrefix.size()), expires)) {
                SetError(error, "expires: is not a UTC time like 2027-06-30T00:00:00Z: " +
                                    std::string(word));
                return false;
            }
            parsed.expires = expires;
        } else if (word.starts_with(kFilePrefix)) {
            // Two names would let one signature pass for two files.
            if (parsed.file) {
                SetError(error, "the trusted comment gives file: twice");
                return false;
            }
            parsed.file = std::string(word.substr(kFilePrefix.size()));
        }
    }
    fields = parsed;
    return true;
}
