#include "channel/cbuffer.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/messages.h"

namespace {

// Asks for huge pages behind the 2 MiB-aligned inside of a large ring: a job
// writes the ring through once before it wraps, and faulting it in 2 MiB at
// a time costs far less than 4 KiB at a time.  Only a hint.
void adviseHugePages(uint8_t* data, size_t size) {
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHuge - 1);
    if (to > from) (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

// Bytes held between the two positions of a ring with `slots` storage slots.
uint32_t heldBetween(uint32_t writePos, uint32_t readPos, uint32_t slots) {
    return writePos >= readPos ? writePos - readPos : slots - readPos + writePos;
}

}  // namespace

bool cbufferCreate(cbuffer* buffer, uint32_t capacity) {
    buffer->capacity = capacity;
    buffer->writePos.store(0, std::memory_order_relaxed);
    buffer->readPos.store(0, std::memory_order_relaxed);
    buffer->storage.reset();
    // capacity + 1 slots must still be countable in 32 bits.
    ByteBuffer p = capacity < UINT32_MAX ? tryAllocateBytes(size_t{capacity} + 1) : ByteBuffer();
    if (!p) {
        if (capacity == UINT32_MAX) errno = ENOMEM;
        msgPerror("ERROR: Unable to allocate memory");
        return false;
    }
    adviseHugePages(p.get(), size_t{capacity} + 1);
    buffer->storage = std::move(p);
    return true;
}

void cbufferFree(cbuffer* buffer) {
    buffer->storage.reset();
    buffer->capacity = 0;
    buffer->writePos.store(0, std::memory_order_relaxed);
    buffer->readPos.store(0, std::memory_order_relaxed);
}

bool cbufferIsEmpty(const cbuffer* buffer) {
    return buffer->readPos.load(std::memory_order_acquire) ==
           buffer->writePos.load(std::memory_order_acquire);
}

bool cbufferIsFull(const cbuffer* buffer) {
    uint64_t slots = uint64_t{buffer->capacity} + 1;
    return (buffer->writePos.load(std::memory_order_acquire) + 1) % slots ==
           buffer->readPos.load(std::memory_order_acquire);
}

uint32_t cbufferGetAvailableSpace(const cbuffer* buffer) {
    if (!buffer->storage) return 0;
    uint32_t w = buffer->writePos.load(std::memory_order_relaxed);
    uint32_t r = buffer->readPos.load(std::memory_order_acquire);
    return buffer->capacity - heldBetween(w, r, buffer->capacity + 1);
}

uint32_t cbufferGetAvailableBytes(const cbuffer* buffer) {
    if (!buffer->storage) return 0;
    uint32_t w = buffer->writePos.load(std::memory_order_acquire);
    uint32_t r = buffer->readPos.load(std::memory_order_relaxed);
    return heldBetween(w, r, buffer->capacity + 1);
}

bool cbufferWriteBytes(cbuffer* buffer, const uint8_t* source, uint32_t count) {
    if (count == 0) return true;
    if (source == nullptr || count > cbufferGetAvailableSpace(buffer)) return false;
    uint32_t slots = buffer->capacity + 1;
    uint32_t w = buffer->writePos.load(std::memory_order_relaxed);
    uint32_t room = slots - w;  // slots from writePos to the end of the storage
    if (count > room) {
        std::memcpy(buffer->storage.get() + w, source, room);
        source += room;
        count -= room;
        w = 0;
    }
    std::memcpy(buffer->storage.get() + w, source, count);
    buffer->writePos.store((w + count) % slots, std::memory_order_release);
    return true;
}

bool cbufferReadBytes(cbuffer* buffer, uint8_t* destination, uint32_t count) {
    if (count == 0) return true;
    if (destination == nullptr || count > cbufferGetAvailableBytes(buffer)) return false;
    uint32_t slots = buffer->capacity + 1;
    uint32_t r = buffer->readPos.load(std::memory_order_relaxed);
    uint32_t room = slots - r;
    if (count > room) {
        std::memcpy(destination, buffer->storage.get() + r, room);
        destination += room;
        count -= room;
        r = 0;
    }
    std::memcpy(destination, buffer->storage.get() + r, count);
    buffer->readPos.store((r + count) % slots, std::memory_order_release);
    return true;
}

uint32_t cbufferPeekContiguous(const cbuffer* buffer, const uint8_t** data) {
    const uint32_t held = cbufferGetAvailableBytes(buffer);  // acquires the producer's bytes
    if (held == 0) return 0;
    const uint32_t r = buffer->readPos.load(std::memory_order_relaxed);
    const uint32_t toEnd = buffer->capacity + 1 - r;
    *data = buffer->storage.get() + r;
    return held < toEnd ? held : toEnd;
}

bool cbufferSkipBytes(cbuffer* buffer, uint32_t count) {
    if (count == 0) return true;
    if (count > cbufferGetAvailableBytes(buffer)) return false;
    const uint32_t slots = buffer->capacity + 1;
    const uint32_t r = buffer->readPos.load(std::memory_order_relaxed);
    // Release: the consumer is done with the bytes before the producer may reuse them.
    buffer->readPos.store(static_cast<uint32_t>((uint64_t{r} + count) % slots),
                          std::memory_order_release);
    return true;
}
