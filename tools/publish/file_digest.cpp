#include "tools/publish/file_digest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "text/utf8.h"
#include "transfer/file_digests.h"

bool DigestFile(const std::filesystem::path& path, FileDigest& out, std::string& error) {
    // Opened without blocking and checked before it is read: a FIFO would wait for a writer
    // for ever, and a device would give bytes no server can serve.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        error = path.string() + " is not a regular file (" +
                (S_ISFIFO(status.st_mode)                             ? "a FIFO"
                 : S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ? "a device"
                 : S_ISDIR(status.st_mode)                            ? "a folder"
                                                                      : "not a file") +
                "): a launcher could not download it";
        return false;
    }
    // The launcher's own digests, so that what the catalogue lists is what it will compute.
    const platform::UniqueFile file(::fdopen(descriptor, "rb"));
    if (file == nullptr) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        ::close(descriptor);
        return false;
    }
    RunningDigests digests(true);
    if (FeedFile(file.get(), digests) != nullptr) {
        error = "cannot read " + path.string();
        return false;
    }
    const FileDigestTexts texts = digests.Texts();
    out.size = digests.Bytes();
    out.md5 = WideToUtf8(std::wstring_view(texts.md5));
    out.sha256 = WideToUtf8(std::wstring_view(texts.sha256));
    return true;
}
