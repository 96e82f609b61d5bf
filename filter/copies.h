// Uncollated copies and duplex sheets.
//
// When the job asks for several copies and not for collation, every page
// (simplex) or every sheet of two page sides (duplex) is printed once from the
// raster and then sent again, copy after copy, before the next page or sheet
// is read.  What is sent again are the page sides' coded bytes, kept while
// they were first written (CodedRecording), so a copy costs no coding.  A
// lone last front page of a duplex job gets a white back side before each
// further copy, so that every copy starts on a new sheet.  Collated and single
// copies are printed once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "channel/cbuffer.h"
#include "base/pagecache.h"
#include "printstream/pclxl.h"

// Recording slots: the two sides of a sheet and the white back side.
inline constexpr int kRecordNone = -1;
inline constexpr int kRecordWhite = 2;
inline constexpr int kRecordSlots = 3;

// The bytes of one page side from BeginPage to EndPage, kept to be sent again.
// They are held in chunks listed in a page cache list (BlockRef items); once a
// recording passes its memory share the rest goes to an unlinked temporary
// file in TMPDIR (chunks with no data pointer, read back in order).  Replay can
// stop at a boundary between images and still close the page.
class CodedRecording {
  public:
    // Bytes a recording keeps in memory before it spills to a file.
    static constexpr size_t kDefaultMemoryBytes = size_t{2} << 20;

    explicit CodedRecording(size_t memoryBytes = kDefaultMemoryBytes);
    ~CodedRecording();
    CodedRecording(const CodedRecording&) = delete;
    CodedRecording& operator=(const CodedRecording&) = delete;

    // Starts a new recording (drops the old one).
    void begin();
    // Appends bytes; after a failure (reported once: memory, the spill file)
    // the recording is marked broken and takes nothing more.  Never throws.
    void append(const uint8_t* data, size_t length);
    // The bytes so far end with a complete image (or the page opening): a
    // replay that must stop may stop here.
    void markImageBoundary();
    // The closing part of the page (EndPage) starts here.
    void markPageEnd();
    // The page side is complete and sound.
    void finish();
    void clear();

    bool usable() const { return finished_ && !broken_; }
    bool broken() const { return broken_; }
    uint64_t size() const { return size_; }
    bool spilled() const { return fd_ >= 0; }

    // Sends the page side through `sink`.  `stop` is asked before every
    // image: true skips the remaining images and sends the page's closing
    // part, so the page is never left open.
    // Returns false when the output failed or the file could not be read back.
    bool replay(ByteSink sink, const std::function<bool()>& stop);

  private:
    void appendOrThrow(const uint8_t* data, size_t length);
    bool sendRange(ByteSink sink, uint64_t from, uint64_t to);
    bool spill(const uint8_t* data, size_t length);

    size_t memoryBytes_;
    std::unique_ptr<List> chunks_;   // BlockRef per chunk, in order
    std::vector<ByteBuffer> owned_;  // the memory chunks the list refers to
    uint32_t lastChunkUsed_ = 0;     // bytes used in the last memory chunk
    size_t inMemory_ = 0;
    int fd_ = -1;
    uint64_t fileBytes_ = 0;
    uint64_t size_ = 0;
    std::vector<uint64_t> boundaries_;  // offsets where a replay may stop
    uint64_t endAt_ = 0;                // offset of the closing part
    bool finished_ = false;
    bool broken_ = false;
};

// What the copies need from the page loop: requests that go to the printer
// in order with the pages.
class PageOutput {
  public:
    virtual ~PageOutput() = default;
    // Sends the page side kept in `slot` again, as copy number `copy`.
    virtual void replaySide(int slot, int copy) = 0;
    // Prints a white page side, kept in `recordSlot` (or kRecordNone).
    virtual void printWhitePage(int recordSlot) = 0;
    // Releases the kept page sides of slots firstSlot..lastSlot.
    virtual void forgetSides(int firstSlot, int lastSlot) = 0;
};

class UncollatedCopies {
  public:
    // `copies` is the copies argument, `collated` whether the ticket asked for
    // collation, `duplex` whether the job prints on both sides.
    UncollatedCopies(int32_t copies, bool collated, bool duplex);

    // Whether this job makes copies itself (more than one, not collated).
    bool active() const { return active_; }

    // The recording slot of the page about to be printed (kRecordNone when no
    // copies are made).
    int recordSlot() const;

    // After end_page and the reading of the next header: decides the sheet
    // state and, when a sheet (or lone page) is complete, queues its copies.
    // `stop` is asked before each copy (cancel, dead output).
    void afterPage(bool morePages, PageOutput& out, const std::function<bool()>& stop);

    // The page just printed was cut short (its raster ended early): no copies
    // are made of it or of its sheet, and what was kept is released.
    void discardSheet(PageOutput& out);

    // Pages printed as copies (for tests and the debug log).
    int copiesPrinted() const { return copiesPrinted_; }

  private:
    void releaseSheet(PageOutput& out);

    bool active_;
    int32_t copies_;
    bool duplex_;

    // Loop state kept across pages.
    int sideIndex_ = 0;
    bool sheetComplete_ = true;
    bool blankBackPending_ = false;
    bool whiteKept_ = false;
    int copiesPrinted_ = 0;
};
