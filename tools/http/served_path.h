#pragma once
// Maps a request path of a local file server onto a file below the folder it serves, refusing
// everything that would reach outside that folder.

#include <filesystem>
#include <string>

// requestPath is the decoded path of an HTTP request ("/patches/1.2.0.0/a.pak"). Refused
// (false): a path that does not start with '/', holds a NUL or a backslash, or has a component
// "." or ".."; a result that is not a regular file; and a file that, once symbolic links are
// followed, lies outside root. On success out is the file's path.
bool ResolveServedPath(const std::filesystem::path& root, const std::string& requestPath,
                       std::filesystem::path& out);
