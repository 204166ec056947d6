#include <fcntl.h>

#include <cstdio>

#include "platform/read_advice.h"

namespace platform {

void AdviseSequentialRead(std::FILE* file) {
    if (file == nullptr)
        return;
    const int descriptor = fileno(file);
    // Linux doubles the read-ahead window of this open file; the result is of no consequence.
    if (descriptor >= 0)
        posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace platform
