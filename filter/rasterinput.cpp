#include "filter/rasterinput.h"

#include <fcntl.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/io.h"

namespace {

// After a cancel the page in hand is still finished while its raster keeps
// coming, but the stream ends this long after the cancel was seen, whatever
// the child does.
constexpr auto kCancelGrace = std::chrono::milliseconds(750);

// libcups asks for one raster line at a time.  Read line by line from a full
// pipe, every read would wake pdftoraster for its next line, and the two
// processes would take turns line by line; reads of this size wake it once
// per this many bytes.
constexpr size_t kReadAheadBytes = 256 * 1024;

}  // namespace

bool rasterEndIsFailure(RasterEnd end) {
    return end != RasterEnd::kReading && end != RasterEnd::kEndOfStream &&
           end != RasterEnd::kCancelled;
}

ssize_t CupsRasterReader::readCallback(void* context, unsigned char* buffer, size_t length) {
    return static_cast<CupsRasterReader*>(context)->readSome(buffer, length);
}

ssize_t CupsRasterReader::readSome(unsigned char* buffer, size_t length) {
    if (calls_++ == callsAtStart_) firstRequest_ = length;
    ssize_t n = 0;
    if (aheadPos_ == aheadEnd_ && length >= kReadAheadBytes) {
        // A request as large as the buffer goes straight to the caller.
        n = readPipe(buffer, length);
        if (n <= 0) return 0;
    } else {
        if (aheadPos_ == aheadEnd_) {
            if (ahead_.empty()) ahead_.resize(kReadAheadBytes);
            const ssize_t got = readPipe(ahead_.data(), ahead_.size());
            if (got <= 0) return 0;
            aheadPos_ = 0;
            aheadEnd_ = static_cast<size_t>(got);
        }
        n = static_cast<ssize_t>(std::min(length, aheadEnd_ - aheadPos_));
        std::memcpy(buffer, ahead_.data() + aheadPos_, static_cast<size_t>(n));
        aheadPos_ += static_cast<size_t>(n);
    }
    // The first four bytes are the sync word; they are kept to name a
    // stream that is no raster.
    for (ssize_t i = 0; i < n && delivered_ + static_cast<uint64_t>(i) < 4; ++i)
        syncBytes_[delivered_ + static_cast<uint64_t>(i)] = buffer[i];
    delivered_ += static_cast<uint64_t>(n);
    return n;
}

ssize_t CupsRasterReader::readPipe(unsigned char* buffer, size_t length) {
    if (eof_ || cancelled_ || readErrno_ != 0) return 0;
    // True once a cancel has been seen for longer than the grace time.
    auto cancelOver = [this] {
        if (stopRequested_ == nullptr || !stopRequested_()) return false;
        const auto now = std::chrono::steady_clock::now();
        if (!cancelSeen_) {
            cancelSeen_ = true;
            cancelDeadline_ = now + kCancelGrace;
            return false;
        }
        return now >= cancelDeadline_;
    };
    // Reads are tried first and waited for only when the pipe is empty (one
    // system call per read instead of two while pdftoraster keeps up).  A
    // descriptor that cannot be made non-blocking is waited for every time,
    // so that no read blocks past the cancel checks.
    if (savedFlags_ < 0) {
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0 &&
            ((flags & O_NONBLOCK) != 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0)) {
            savedFlags_ = flags;
        }
    }
    bool mayRead = savedFlags_ >= 0;
    for (;;) {
        if (cancelOver()) {
            cancelled_ = true;
            return 0;
        }
        if (!mayRead) {
            const FdWait wait = waitFd(fd_, POLLIN, cancelOver);
            if (wait == FdWait::kStopped) {
                cancelled_ = true;
                return 0;
            }
            if (wait == FdWait::kFailed) {
                readErrno_ = errno;
                return 0;
            }
        }
        mayRead = savedFlags_ >= 0;
        ssize_t n = ::read(fd_, buffer, length);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) mayRead = false;
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            readErrno_ = errno;
            return 0;
        }
        if (n == 0) eof_ = true;
        return n;
    }
}

bool CupsRasterReader::open() {
    if (opened_) return raster_ != nullptr;
    opened_ = true;
    // libcups reads the sync word while it opens the stream.
    callsAtStart_ = calls_;
    raster_ = cupsRasterOpenIO(readCallback, this, CUPS_RASTER_READ);
    if (raster_ == nullptr) {
        if (cancelled_) {
            stop(RasterEnd::kCancelled);
        } else if (readErrno_ != 0) {
            stop(RasterEnd::kReadError);
        } else if (delivered_ == 0) {
            stop(RasterEnd::kNoData);
        } else if (delivered_ < 4) {
            stop(RasterEnd::kCutHeader);
        } else {
            stop(RasterEnd::kBadSync);
        }
        return false;
    }
    return true;
}

void CupsRasterReader::close() {
    if (raster_ != nullptr) cupsRasterClose(raster_);
    raster_ = nullptr;
    opened_ = true;
    if (savedFlags_ >= 0) {
        (void)::fcntl(fd_, F_SETFL, savedFlags_);
        savedFlags_ = -1;
    }
}

bool CupsRasterReader::readHeader(cups_page_header2_t* header) {
    if (end_ != RasterEnd::kReading || !open()) return false;
    const uint64_t callsBefore = calls_;
    const uint64_t deliveredBefore = delivered_;
    callsAtStart_ = calls_;
    if (cupsRasterReadHeader2(raster_, header) != 0) {
        // The first header is read from an empty buffer: what libcups asks
        // for then is the size of a whole header.
        if (pages_ == 0 && calls_ > callsBefore) headerRequest_ = firstRequest_;
        ++pages_;
        return true;
    }
    if (cancelled_) {
        stop(RasterEnd::kCancelled);
    } else if (readErrno_ != 0) {
        stop(RasterEnd::kReadError);
    } else if (!eof_) {
        // The whole header was there and libcups refused it.
        stop(RasterEnd::kBadHeader);
    } else if (calls_ > callsBefore && delivered_ == deliveredBefore &&
               (pages_ == 0 || firstRequest_ == headerRequest_)) {
        // Nothing at all came where a header would start: a clean end.  A
        // smaller first request means that bytes were left over in libcups'
        // buffer, the start of a header the stream then cut off.
        stop(pages_ == 0 ? RasterEnd::kNoData : RasterEnd::kEndOfStream);
    } else {
        stop(RasterEnd::kCutHeader);
    }
    return false;
}

uint32_t CupsRasterReader::readPixels(uint8_t* data, uint32_t length) {
    if (end_ != RasterEnd::kReading || raster_ == nullptr) return 0;
    callsAtStart_ = calls_;
    unsigned n = cupsRasterReadPixels(raster_, data, length);
    if (n != 0) return n;
    if (cancelled_) {
        stop(RasterEnd::kCancelled);
    } else if (readErrno_ != 0) {
        stop(RasterEnd::kReadError);
    } else {
        stop(RasterEnd::kCutPage);
    }
    return 0;
}

std::string CupsRasterReader::endText() const {
    char text[200];
    switch (end_) {
        case RasterEnd::kNoData:
            return "pdftoraster gave no page (the document is empty or not a PDF it can read)";
        case RasterEnd::kBadSync:
            std::snprintf(text, sizeof text,
                          "the raster stream does not start with a CUPS raster sync word "
                          "(%02X %02X %02X %02X)",
                          syncBytes_[0], syncBytes_[1], syncBytes_[2], syncBytes_[3]);
            return text;
        case RasterEnd::kBadHeader:
            std::snprintf(text, sizeof text,
                          "the raster header of page %d is invalid (libcups refused it)",
                          pages_ + 1);
            return text;
        case RasterEnd::kCutHeader:
            std::snprintf(text, sizeof text, "the raster stream ended inside the header of page %d",
                          pages_ + 1);
            return text;
        case RasterEnd::kCutPage:
            std::snprintf(text, sizeof text, "the raster stream ended inside page %d", pages_);
            return text;
        case RasterEnd::kReadError:
            std::snprintf(text, sizeof text, "reading the raster failed: %s",
                          std::strerror(readErrno_));
            return text;
        case RasterEnd::kCancelled:
            return "the job was cancelled";
        case RasterEnd::kEndOfStream:
            return "the raster stream ended";
        case RasterEnd::kReading:
            break;
    }
    return "";
}
