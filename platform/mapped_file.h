#pragma once
// A file's bytes seen as memory, so that a file of any size can be read or filled without the
// launcher holding a copy of it: the pages belong to the file, not to the process's heap.
//
// A mapped file that someone cuts short meanwhile makes every touch of a page beyond its new
// end a bus error; RunGuardedAgainstBusError turns that into a failed call instead of the end
// of the launcher.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "text/failure.h"

namespace platform {

class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the whole of an open regular file for reading, at the size it has now. An empty
    // file maps to no bytes at all.
    bool MapForReading(std::FILE* file, Failure* failure = nullptr);
    // Makes an open file (opened for reading and writing) exactly size bytes long, its blocks
    // reserved so that a full disk fails here rather than on a write into the map, and maps it
    // for writing.
    bool MapForWriting(std::FILE* file, std::int64_t size, Failure* failure = nullptr);
    void Unmap();

    const unsigned char* Data() const { return m_data; }
    unsigned char* MutableData() const { return m_writable ? m_data : nullptr; }
    std::size_t Size() const { return m_size; }

  private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_writable = false;
};

// Runs work(context) on this thread; a bus error inside it ends work at that point and the
// call returns false. Work must hold nothing that needs undoing (no C++ objects with
// destructors between here and the fault, no locks): it is left, not unwound. A bus error
// outside a guarded call takes the process's own course.
bool RunGuardedAgainstBusError(void (*work)(void* context), void* context);

}  // namespace platform
