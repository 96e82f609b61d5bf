// The raster block: the unit the page loop hands to the image thread.
//
// A block is a 24-byte head of six 32-bit numbers (in the machine's own byte
// order: it never leaves the process), 8 lines of pixel data and a tag plane
// of one byte per pixel.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

inline constexpr uint32_t kBlockHeadBytes = 24;
inline constexpr uint32_t kBlockLines = 8;
// The object tag the filter sends for every pixel.
inline constexpr uint8_t kPixelTag = 3;

struct RasterBlockHead {
    uint32_t firstLine;      // page line of the block's first line
    uint32_t bytesPerPixel;  // 3 colour, 1 gray
    uint32_t lineBytes;      // pixWid * bytesPerPixel
    uint32_t imageBytes;     // 8 * lineBytes
    uint32_t tagBytes;       // 8 * pixWid
    uint32_t pageHeight;     // pixHt
};
static_assert(sizeof(RasterBlockHead) == kBlockHeadBytes);

inline RasterBlockHead readBlockHead(const uint8_t* block) {
    RasterBlockHead head;
    std::memcpy(&head, block, sizeof head);
    return head;
}

inline void writeBlockHead(uint8_t* block, const RasterBlockHead& head) {
    std::memcpy(block, &head, sizeof head);
}

inline uint32_t blockImageBytes(const uint8_t* block) {
    return readBlockHead(block).imageBytes;
}

// True when every byte of `data` is 0xFF.
inline bool isAllWhite(const uint8_t* data, size_t length) {
    // Compare in words; a printed page is mostly white, so this is the common case.
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (word != ~uint64_t{0}) return false;
    }
    for (; i < length; ++i) {
        if (data[i] != 0xFF) return false;
    }
    return true;
}

// Resets a block's pixels to white and its tags to kPixelTag, keeping the head.
inline void clearBlock(uint8_t* block) {
    RasterBlockHead head = readBlockHead(block);
    std::memset(block + kBlockHeadBytes, 0xFF, head.imageBytes);
    std::memset(block + kBlockHeadBytes + head.imageBytes, kPixelTag, head.tagBytes);
}

// A white block of `blockBytes` bytes with the given head, in `out`.
inline void makeWhiteBlock(const uint8_t* head, uint32_t blockBytes, std::vector<uint8_t>* out) {
    out->resize(blockBytes);
    std::memcpy(out->data(), head, kBlockHeadBytes);
    clearBlock(out->data());
}
