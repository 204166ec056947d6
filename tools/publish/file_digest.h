#pragma once
// What the catalogue says about a file, worked out from the file itself: its size, its MD5
// digest (as the launcher writes digests) and its SHA-256 digest, read in one pass.

#include <cstdint>
#include <filesystem>
#include <string>

struct FileDigest {
    std::int64_t size = 0;
    std::string md5;     // 32 lower-case hexadecimal digits
    std::string sha256;  // 64 lower-case hexadecimal digits
};

// False, with the reason in error, when the file cannot be opened or read to its end.
bool DigestFile(const std::filesystem::path& path, FileDigest& out, std::string& error);
