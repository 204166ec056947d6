#pragma once
// A body received into memory, owned by whoever holds the buffer.

#include <cstdint>

// The bytes followed by one NUL, byteCount = body length + 1; empty is { nullptr, 0 }. The block
// comes from malloc and belongs to the buffer: it is freed when the buffer goes, so a caller that
// returns early leaks nothing. Move-only, so a block never has two owners.
struct MemoryBuffer {
    unsigned char* bytes = nullptr;
    std::uint32_t byteCount = 0;

    MemoryBuffer() = default;
    MemoryBuffer(const MemoryBuffer&) = delete;
    MemoryBuffer& operator=(const MemoryBuffer&) = delete;
    // The moved-from buffer is left empty.
    MemoryBuffer(MemoryBuffer&& other) noexcept;
    MemoryBuffer& operator=(MemoryBuffer&& other) noexcept;
    ~MemoryBuffer();
};

// Frees the body now and leaves the buffer empty; an empty buffer, or a block with a zero count
// (which the buffer never made), is left alone. Safe to call any number of times.
void ReleaseBuffer(MemoryBuffer& buffer);
