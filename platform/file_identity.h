#pragma once
// What tells one state of a file from another without reading it: the same device, inode,
// size, modification time and change time mean nobody wrote to it in between (a write always
// moves the change time, which no program can set back).

#include <cstdint>
#include <cstdio>
#include <string>

#include "text/failure.h"

namespace platform {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;  // last write of the content, ns since 1970 (UTC)
    std::int64_t changedNs = 0;   // last change of the content or the inode's status, likewise

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the regular file at path. A link in the last component is not followed:
// like a folder, a device or a FIFO it is refused (kNotRegularFile); a missing or unreachable
// entry gives kSystem with errno.
bool ReadFileIdentity(const std::wstring& path, FileIdentity& identity, Failure* failure = nullptr);

// The identity of a file already open (opened below a folder without following links, say):
// the very file the stream reads or writes, whatever has become of its name since. Bytes still
// buffered in a writing stream are not counted; flush it first. Anything but a regular file is
// refused (kNotRegularFile); a null stream gives kSystem with EBADF.
bool ReadOpenFileIdentity(std::FILE* file, FileIdentity& identity, Failure* failure = nullptr);

}  // namespace platform
