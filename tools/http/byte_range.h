#pragma once
// The one form of the HTTP Range header that a download client sends to resume a file.

#include <cstdint>
#include <string>

struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
};

enum class RangeRequest {
    kNone,           // no header, or one this server answers with the whole body
    kSatisfiable,    // range holds the bytes to send (206)
    kUnsatisfiable,  // the range starts at or beyond the end (416)
};

// Reads "bytes=first-last", "bytes=first-" or "bytes=-suffix" against a body of length bytes.
// Several ranges, other units or malformed text give kNone: HTTP allows answering them with
// the whole body, and a client that resumes must cope with that anyway.
RangeRequest ParseByteRange(const std::string& header, std::uint64_t length, ByteRange& range);

// The Content-Range value of a 206 answer ("bytes first-last/length") and of a 416 answer
// ("bytes */length").
std::string ContentRange(const ByteRange& range, std::uint64_t length);
std::string UnsatisfiedContentRange(std::uint64_t length);
