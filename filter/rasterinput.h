// The raster the page loop reads, behind a small interface so the loop does
// not care whether the pages come from libcups or from a test.
#pragma once

#include <cups/raster.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class RasterReader {
  public:
    virtual ~RasterReader() = default;
    // Reads the next page header; false at the end of the stream or on error.
    virtual bool readHeader(cups_page_header2_t* header) = 0;
    // Reads `length` bytes of pixel data; returns the count read, 0 on failure.
    virtual uint32_t readPixels(uint8_t* data, uint32_t length) = 0;
};

// Why a raster stream stopped giving pages and lines.
enum class RasterEnd {
    kReading,      // nothing has stopped it yet
    kEndOfStream,  // a clean end: the stream ended right after a whole page
    kCancelled,    // the job was cancelled while we waited for raster data
    kNoData,       // the stream was empty: the child gave no page at all
    kBadSync,      // the stream does not start with a CUPS raster sync word
    kBadHeader,    // libcups refused a page header (garbage, zero sizes, junk after a page)
    kCutHeader,    // the stream ended inside a page header
    kCutPage,      // the stream ended inside a page's pixel data
    kReadError,    // reading the pipe failed
};

// True for the ends that mean the raster was damaged or missing.
bool rasterEndIsFailure(RasterEnd end);

// Reads CUPS raster from a file descriptor with libcupsimage, through a read
// layer of our own: every wait for data is a poll of at most 20 ms that asks
// `stopRequested` (the job's cancel flag).  After a cancel the raster is still
// read while it comes (so the page in hand can be finished), but the stream
// ends 750 ms after the cancel was seen, whatever the child does.  The layer
// also sees exactly how the stream ended.
// libcups' own descriptor reader retries forever on EINTR and cannot tell a
// clean end from a stream cut inside a header.
class CupsRasterReader final : public RasterReader {
  public:
    using StopCheck = bool (*)();
    explicit CupsRasterReader(int fd, StopCheck stopRequested = nullptr)
        : fd_(fd), stopRequested_(stopRequested) {}
    ~CupsRasterReader() override { close(); }
    CupsRasterReader(const CupsRasterReader&) = delete;
    CupsRasterReader& operator=(const CupsRasterReader&) = delete;

    void close();
    bool readHeader(cups_page_header2_t* header) override;
    uint32_t readPixels(uint8_t* data, uint32_t length) override;

    // How the stream ended (kReading while it goes on), and a text for the
    // ERROR line when that end is a failure ("the raster stream ...").
    RasterEnd end() const { return end_; }
    std::string endText() const;
    // Page headers read successfully so far.
    int pagesRead() const { return pages_; }

  private:
    static ssize_t readCallback(void* context, unsigned char* buffer, size_t length);
    ssize_t readSome(unsigned char* buffer, size_t length);
    ssize_t readPipe(unsigned char* buffer, size_t length);
    bool open();
    void stop(RasterEnd why) {
        if (end_ == RasterEnd::kReading) end_ = why;
    }

    int fd_;
    int savedFlags_ = -1;  // the descriptor's flags before reads were made non-blocking
    StopCheck stopRequested_;
    cups_raster_t* raster_ = nullptr;
    bool opened_ = false;
    RasterEnd end_ = RasterEnd::kReading;
    int pages_ = 0;
    // What the read layer saw.
    bool eof_ = false;
    bool cancelled_ = false;
    bool cancelSeen_ = false;
    std::chrono::steady_clock::time_point cancelDeadline_{};
    int readErrno_ = 0;
    uint64_t delivered_ = 0;     // bytes handed to libcups
    uint64_t calls_ = 0;         // callback calls
    uint64_t callsAtStart_ = 0;  // calls_ when the current read began
    size_t firstRequest_ = 0;    // length asked by the first call of the current read
    size_t headerRequest_ = 0;   // what libcups asks for a whole header from an empty buffer
    uint8_t syncBytes_[4] = {};
    // Raster read from the pipe but not yet asked for.
    std::vector<unsigned char> ahead_;
    size_t aheadPos_ = 0;
    size_t aheadEnd_ = 0;
};
