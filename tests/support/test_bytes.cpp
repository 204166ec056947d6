#include "tests/support/test_bytes.h"

#include <cstdio>
#include <random>

std::string PseudoRandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& ch : bytes)
        ch = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string SystemDigest(const std::string& tool, const std::string& path, std::size_t length) {
    const std::string command = tool + " '" + path + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    if (!got)
        return {};
    return std::string(line).substr(0, length);
}
