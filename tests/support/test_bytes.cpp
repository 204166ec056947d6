#include "tests/support/test_bytes.h"

#include <random>

#include "tests/support/child_process.h"

std::string PseudoRandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& ch : bytes)
        ch = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string SystemDigest(const std::string& tool, const std::string& path, std::size_t length) {
    const ShellRun run = RunShell(ShellWords({tool, path}) + " 2>/dev/null");
    return run.status == 0 ? run.output.substr(0, length) : std::string();
}
