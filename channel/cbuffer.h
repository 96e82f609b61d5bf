// A circular byte buffer for exactly one producer thread and one consumer thread.
//
// The storage has capacity + 1 slots and one slot always stays free, so an
// empty buffer (readPos == writePos) and a full one differ.  Reads and writes
// are all or nothing.  Nothing is locked: the producer alone moves writePos,
// the consumer alone moves readPos, and each publishes its position with
// release order only after the bytes it covers have been copied; the other
// side loads it with acquire order.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void* p) const noexcept {
        std::free(p);
    }  // NOLINT(cppcoreguidelines-no-malloc)
};

using ByteBuffer = std::unique_ptr<uint8_t[], FreeDeleter>;

// `size` bytes, or an empty pointer when memory runs out.  Large job buffers
// are allocated this way so that a failure can be reported instead of thrown.
inline ByteBuffer tryAllocateBytes(size_t size) {
    return ByteBuffer(
        static_cast<uint8_t*>(std::malloc(size)));  // NOLINT(cppcoreguidelines-no-malloc)
}

struct cbuffer {
    uint32_t capacity = 0;
    std::atomic<uint32_t> writePos{0};
    std::atomic<uint32_t> readPos{0};
    ByteBuffer storage;
};

// Allocates capacity + 1 bytes.  On failure prints "ERROR: Unable to allocate
// memory: ..." and returns false; the record then has no storage but its
// capacity and positions are set.
bool cbufferCreate(cbuffer* buffer, uint32_t capacity);
void cbufferFree(cbuffer* buffer);

bool cbufferIsEmpty(const cbuffer* buffer);
bool cbufferIsFull(const cbuffer* buffer);
// Free space (producer's view) and bytes held (consumer's view); 0 without storage.
uint32_t cbufferGetAvailableSpace(const cbuffer* buffer);
uint32_t cbufferGetAvailableBytes(const cbuffer* buffer);

// Appends all `count` bytes, or nothing when they do not fit.
bool cbufferWriteBytes(cbuffer* buffer, const uint8_t* source, uint32_t count);
// Removes the oldest `count` bytes into `destination`, or nothing when fewer are held.
bool cbufferReadBytes(cbuffer* buffer, uint8_t* destination, uint32_t count);

// Consumer side without a copy: the oldest held bytes that lie in one piece of
// the storage (*data points at them; the count is returned, 0 when empty).
// They stay in the buffer, so the producer cannot overwrite them, until
// cbufferSkipBytes() removes them.
uint32_t cbufferPeekContiguous(const cbuffer* buffer, const uint8_t** data);
// Removes the oldest `count` bytes unread; false, removing nothing, when fewer are held.
bool cbufferSkipBytes(cbuffer* buffer, uint32_t count);
