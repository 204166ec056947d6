#include "tools/http/byte_range.h"

#include <limits>

namespace {

// Digits only, no sign, no overflow; false for an empty text.
bool ParseNumber(const std::string& text, std::uint64_t& value) {
    if (text.empty())
        return false;
    value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

RangeRequest ParseByteRange(const std::string& header, std::uint64_t length, ByteRange& range) {
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0)
        return RangeRequest::kNone;
    const std::string ranges = header.substr(prefix.size());
    const std::size_t dash = ranges.find('-');
    if (dash == std::string::npos || ranges.find(',') != std::string::npos)
        return RangeRequest::kNone;
    const std::string first = ranges.substr(0, dash);
    const std::string last = ranges.substr(dash + 1);

    if (first.empty()) {
        std::uint64_t suffix = 0;
        if (!ParseNumber(last, suffix))
            return RangeRequest::kNone;
        if (suffix == 0 || length == 0)
            return RangeRequest::kUnsatisfiable;
        range.count = suffix < length ? suffix : length;
        range.offset = length - range.count;
        return RangeRequest::kSatisfiable;
    }
    std::uint64_t from = 0;
    if (!ParseNumber(first, from))
        return RangeRequest::kNone;
    std::uint64_t to = length == 0 ? 0 : length - 1;
    if (!last.empty()) {
        if (!ParseNumber(last, to) || to < from)
            return RangeRequest::kNone;
        if (length > 0 && to > length - 1)
            to = length - 1;
    }
    if (from >= length)
        return RangeRequest::kUnsatisfiable;
    range.offset = from;
    range.count = to - from + 1;
    return RangeRequest::kSatisfiable;
}

std::string ContentRange(const ByteRange& range, std::uint64_t length) {
    return "bytes " + std::to_string(range.offset) + "-" +
           std::to_string(range.offset + range.count - 1) + "/" + std::to_string(length);
}

std::string UnsatisfiedContentRange(std::uint64_t length) {
    return "bytes */" + std::to_string(length);
}
