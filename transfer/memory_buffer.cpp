#include "transfer/memory_buffer.h"

#include <cstdlib>
#include <utility>

MemoryBuffer::MemoryBuffer(MemoryBuffer&& other) noexcept
    : bytes(std::exchange(other.bytes, nullptr)), byteCount(std::exchange(other.byteCount, 0)) {}

MemoryBuffer& MemoryBuffer::operator=(MemoryBuffer&& other) noexcept {
    if (this != &other) {
        ReleaseBuffer(*this);
        bytes = std::exchange(other.bytes, nullptr);
        byteCount = std::exchange(other.byteCount, 0);
    }
    return *this;
}

MemoryBuffer::~MemoryBuffer() {
    ReleaseBuffer(*this);
}

void ReleaseBuffer(MemoryBuffer& buffer) {
    if (buffer.bytes != nullptr && buffer.byteCount != 0) {
        std::free(buffer.bytes);
        buffer.bytes = nullptr;
        buffer.byteCount = 0;
    }
}
