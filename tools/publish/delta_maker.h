#pragma once
// Makes a delta the launcher can apply: the new file as a zstd frame with the base as its
// referenced prefix, exactly what "zstd -19 --patch-from=BASE NEW" writes (with a long window
// for large files), so either may make the deltas a catalogue lists.

#include <cstdint>
#include <filesystem>
#include <string>

// The share of the full file above which a delta is not worth offering.
inline constexpr double kDeltaWorthShare = 0.6;

// Writes the delta from base to fresh into out (its folders made). False, with the reason in
// error, when a file cannot be read or written or libzstd refuses. The same files give the
// same bytes.
bool MakeDelta(const std::filesystem::path& base, const std::filesystem::path& fresh,
               const std::filesystem::path& out, std::string& error);

// Applies the delta file to the base file into a temporary file and gives the result's size,
// MD5 and SHA-256 (the launcher's own decoder, ApplyDelta). False, with the reason, when it
// cannot be applied or decodes to other than expectedSize bytes.
bool DigestAppliedDelta(const std::filesystem::path& base, const std::filesystem::path& delta,
                        std::int64_t expectedSize, std::string& md5, std::string& sha256,
                        std::string& error);
