// The raster the page loop reads, behind a small interface so the loop does
// not care whether the pages come from libcups or from a test.
#pragma once

#include <cups/raster.h>

#include <cstdint>

class RasterReader {
  public:
    virtual ~RasterReader() = default;
    // Reads the next page header; false at the end of the stream or on error.
    virtual bool readHeader(cups_page_header2_t* header) = 0;
    // Reads `length` bytes of pixel data; returns the count read, 0 on failure.
    virtual uint32_t readPixels(uint8_t* data, uint32_t length) = 0;
};

// Reads CUPS raster from a file descriptor with libcupsimage.
class CupsRasterReader final : public RasterReader {
  public:
    explicit CupsRasterReader(int fd) : raster_(cupsRasterOpen(fd, CUPS_RASTER_READ)) {}
    ~CupsRasterReader() override { close(); }
    CupsRasterReader(const CupsRasterReader&) = delete;
    CupsRasterReader& operator=(const CupsRasterReader&) = delete;

    bool isOpen() const { return raster_ != nullptr; }
    void close() {
        if (raster_ != nullptr) cupsRasterClose(raster_);
        raster_ = nullptr;
    }
    bool readHeader(cups_page_header2_t* header) override {
        return raster_ != nullptr && cupsRasterReadHeader2(raster_, header) != 0;
    }
    uint32_t readPixels(uint8_t* data, uint32_t length) override {
        return raster_ != nullptr ? cupsRasterReadPixels(raster_, data, length) : 0;
    }

  private:
    cups_raster_t* raster_;
};
