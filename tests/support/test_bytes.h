#pragma once
// Bytes and digests the digest tests share.

#include <cstddef>
#include <string>

// Deterministic bytes of every value, so that a slip in the byte order or the padding shows.
std::string PseudoRandomBytes(std::size_t size, unsigned seed);

// The digest a system tool ("md5sum", "sha256sum") gives for the file at path: its first
// `length` characters, or empty when the tool cannot be run.
std::string SystemDigest(const std::string& tool, const std::string& path, std::size_t length);
