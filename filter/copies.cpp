#include "filter/copies.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/io.h"
#include "base/messages.h"
#include "filter/bands.h"

namespace {

// Recorded bytes are kept in chunks of this size.
constexpr uint32_t kChunkBytes = 256 * 1024;
// Bytes read back from a spill file per write to the sink.
constexpr size_t kReadBackBytes = 1 << 20;

// An unlinked temporary file in TMPDIR (or /tmp); -1 when none can be made.
int openSpillFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string path =
        std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/quenzel-copies-XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd >= 0) ::unlink(path.c_str());
    return fd;
}

}  // namespace

CodedRecording::CodedRecording(size_t memoryBytes) : memoryBytes_(memoryBytes) {}

CodedRecording::~CodedRecording() {
    clear();
}

void CodedRecording::clear() {
    chunks_.reset();
    owned_.clear();
    lastChunkUsed_ = 0;
    inMemory_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fileBytes_ = 0;
    size_ = 0;
    boundaries_.clear();
    endAt_ = 0;
    finished_ = false;
    broken_ = false;
}

void CodedRecording::begin() {
    clear();
    chunks_ = new_list(sizeof(BlockRef));
    if (!chunks_) throw std::bad_alloc();
}

bool CodedRecording::spill(const uint8_t* data, size_t length) {
    if (fd_ < 0) {
        fd_ = openSpillFile();
        if (fd_ < 0) {
            msgPerror("ERROR: Unable to keep a page for its copies");
            return false;
        }
        // One list item stands for everything in the file, read back in order.
        BlockRef ref{0, nullptr};
        if (::append(chunks_.get(), &ref) != kListOk) throw std::bad_alloc();
    }
    if (!writeAll(fd_, data, length)) {
        msgPerror("ERROR: Unable to keep a page for its copies");
        return false;
    }
    fileBytes_ += length;
    return true;
}

void CodedRecording::append(const uint8_t* data, size_t length) {
    if (broken_ || finished_ || !chunks_) return;
    try {
        appendOrThrow(data, length);
    } catch (const std::bad_alloc&) {
        // The bytes reached the printer; only the copies of this side are lost.
        reportNoMemory();
        broken_ = true;
    }
}

void CodedRecording::appendOrThrow(const uint8_t* data, size_t length) {
    size_ += length;
    while (length > 0 && fd_ < 0) {
        if (owned_.empty() || lastChunkUsed_ == kChunkBytes) {
            if (inMemory_ + kChunkBytes > memoryBytes_) break;  // the rest goes to the file
            allocationCheckpoint(AllocSite::kRecord);
            ByteBuffer chunk = tryAllocateBytes(kChunkBytes);
            if (!chunk) throw std::bad_alloc();
            BlockRef ref{0, chunk.get()};
            if (::append(chunks_.get(), &ref) != kListOk) throw std::bad_alloc();
            owned_.push_back(std::move(chunk));
            lastChunkUsed_ = 0;
            inMemory_ += kChunkBytes;
        }
        const size_t piece = std::min<size_t>(length, kChunkBytes - lastChunkUsed_);
        std::memcpy(owned_.back().get() + lastChunkUsed_, data, piece);
        lastChunkUsed_ += static_cast<uint32_t>(piece);
        data += piece;
        length -= piece;
    }
    if (length > 0 && !spill(data, length)) broken_ = true;
}

void CodedRecording::markImageBoundary() {
    boundaries_.push_back(size_);
}

void CodedRecording::markPageEnd() {
    endAt_ = size_;
}

void CodedRecording::finish() {
    if (chunks_) finished_ = true;
}

// Sends bytes from..to of the recording: first the memory chunks (all full
// but the last), then the file.
bool CodedRecording::sendRange(ByteSink sink, uint64_t from, uint64_t to) {
    std::vector<uint8_t> readBack;
    uint64_t at = 0;  // offset of the chunk in hand
    BlockRef ref{};
    int result = read_first(chunks_.get(), &ref);
    size_t chunkIndex = 0;
    while (result == kListOk && from < to) {
        const uint8_t* data = ref.data;
        uint64_t length;
        if (data != nullptr) {
            length = chunkIndex + 1 == owned_.size() ? lastChunkUsed_ : kChunkBytes;
            ++chunkIndex;
        } else {
            length = fileBytes_;
        }
        const uint64_t end = at + length;
        while (from < to && from < end) {
            const uint64_t stop = std::min(to, end);
            size_t piece = static_cast<size_t>(std::min<uint64_t>(stop - from, kReadBackBytes));
            const uint8_t* bytes;
            if (data != nullptr) {
                bytes = data + (from - at);
            } else {
                readBack.resize(piece);
                ssize_t n = ::pread(fd_, readBack.data(), piece, static_cast<off_t>(from - at));
                if (n <= 0) {
                    msgPerror("ERROR: Unable to read back a page kept for its copies");
                    return false;
                }
                piece = static_cast<size_t>(n);
                bytes = readBack.data();
            }
            if (sink(bytes, static_cast<uint32_t>(piece)) < 0) return false;
            from += piece;
        }
        at = end;
        result = read_next(chunks_.get(), &ref);
    }
    return from >= to;
}

bool CodedRecording::replay(ByteSink sink, const std::function<bool()>& stop) {
    if (!usable() || boundaries_.empty()) return false;
    // The opening (BeginPage and what precedes the first image) ...
    if (!sendRange(sink, 0, boundaries_[0])) return false;
    // ... every image unless told to stop ...
    for (size_t i = 0; i + 1 < boundaries_.size(); ++i) {
        if (stop()) break;
        if (!sendRange(sink, boundaries_[i], boundaries_[i + 1])) return false;
    }
    // ... and the closing part, always, so the page is never left open.
    return sendRange(sink, endAt_, size_);
}

UncollatedCopies::UncollatedCopies(int32_t copies, bool collated, bool duplex)
    : active_(!collated && copies > 1), copies_(copies), duplex_(duplex) {}

int UncollatedCopies::recordSlot() const {
    return active_ ? sideIndex_ : kRecordNone;
}

void UncollatedCopies::releaseSheet(PageOutput& out) {
    out.forgetSides(0, sideIndex_);
    sideIndex_ = 0;
}

void UncollatedCopies::discardSheet(PageOutput& out) {
    if (active_) releaseSheet(out);
    sideIndex_ = 0;
    sheetComplete_ = true;
    blankBackPending_ = false;
}

void UncollatedCopies::afterPage(bool morePages, PageOutput& out,
                                 const std::function<bool()>& stop) {
    // The sheet state, from the side the page was printed on.
    if (!morePages && sideIndex_ == 0 && duplex_) {
        blankBackPending_ = true;  // a lone front page: its back stays white
        sheetComplete_ = true;
    } else if (morePages && sideIndex_ == 0 && duplex_) {
        msgf("Buffering the second page %d", 1);
        sideIndex_ = 1;
        sheetComplete_ = false;
    } else if (sideIndex_ == 1) {
        sheetComplete_ = true;
    }
    msgf("Should enter the uncollate loop is odd %d,result=%d", blankBackPending_ ? 1 : 0,
         morePages ? 1 : 0);

    if (active_ && sheetComplete_) {
        msgf("OUR PROTOTYPE uncollatedCopies_Prototype %d\n", static_cast<int>(copies_));
        const bool lastSheet = !morePages && sideIndex_ == 0;
        // A complete sheet goes out copies - 1 more times.  A lone last front
        // page goes out with a white back before each further copy, one page
        // side per pass: W P for each copy after the first (copies 3: P W P W P).
        const int first = blankBackPending_ ? 0 : 1;
        const int passes = blankBackPending_ ? 2 * (copies_ - 1) : copies_ - 1;
        for (int j = 0; j < passes && !stop(); ++j) {
            msgf("Handling the copies %d", first + j);
            const bool whitePass = blankBackPending_;
            const int lastSide = whitePass ? 0 : sideIndex_;
            for (int k = 0; k <= lastSide; ++k) {
                msgf("Handling the duplex copies %d", k);
                if (whitePass) {
                    // The white side is coded once and then sent again.
                    if (whiteKept_) {
                        out.replaySide(kRecordWhite, first + j + 1);
                    } else {
                        out.printWhitePage(kRecordWhite);
                        whiteKept_ = true;
                    }
                    blankBackPending_ = false;
                } else {
                    out.replaySide(k, first + j + 1);
                    if (lastSheet && duplex_) blankBackPending_ = true;
                }
                ++copiesPrinted_;
            }
        }
    }
    msgf("Out of uncollated copies loop");
    if (sheetComplete_) {
        if (active_) releaseSheet(out);
        sideIndex_ = 0;
    }
}
