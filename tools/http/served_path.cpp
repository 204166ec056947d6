#include "tools/http/served_path.h"

#include <system_error>

namespace fs = std::filesystem;

bool ResolveServedPath(const fs::path& root, const std::string& requestPath, fs::path& out) {
    if (requestPath.empty() || requestPath.front() != '/')
        return false;
    if (requestPath.find('\0') != std::string::npos)
        return false;
    // A backslash is a separator to the launcher's home platform; never guess what it meant.
    if (requestPath.find('\\') != std::string::npos)
        return false;

    fs::path relative;
    std::size_t start = 1;
    while (start <= requestPath.size()) {
        std::size_t end = requestPath.find('/', start);
        if (end == std::string::npos)
            end = requestPath.size();
        const std::string part = requestPath.substr(start, end - start);
        if (part == "." || part == "..")
            return false;
        if (!part.empty())
            relative /= part;
        start = end + 1;
    }
    if (relative.empty())
        return false;

    std::error_code ec;
    const fs::path base = fs::canonical(root, ec);
    if (ec)
        return false;
    const fs::path file = fs::canonical(base / relative, ec);
    if (ec || !fs::is_regular_file(file, ec))
        return false;
    // A symbolic link inside the folder may still point anywhere.
    const fs::path inside = file.lexically_relative(base);
    if (inside.empty() || *inside.begin() == "..")
        return false;
    out = file;
    return true;
}
