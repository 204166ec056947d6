#pragma once
// What tells one state of a file from another without reading it: the same device, inode,
// size, modification time and change time mean nobody wrote to it in between (a write always
// moves the change time, which no program can set back) -- on a file system that keeps a
// change time of its own. Read-only images (squashfs, erofs) report the change time the image
// was built with, so a rebuilt image with a reproducibly built file keeps every field while
// the bytes differ; the identity says so in changeTimeKept.

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
    // False on a file system not known to move the change time on every write: there the
    // fields above can stay put while the content is replaced, and nothing may be concluded
    // from them.
    bool changeTimeKept = true;

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

// Whether a file system of this kind (statfs's f_type) is known to keep a change time of its
// own. Only such file systems are listed; an unknown one counts as not keeping it.
bool KeepsChangeTime(std::uint64_t fileSystemKind);

// Tests play file systems they cannot mount: the rule given decides changeTimeKept for every
// identity read from now on in place of KeepsChangeTime; null puts KeepsChangeTime back.
using FileSystemRule = bool (*)(std::uint64_t fileSystemKind);
void SetFileSystemRule(FileSystemRule rule);

}  // namespace platform
