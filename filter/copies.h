// Uncollated copies and duplex sheets.
//
// When the job asks for several copies and not for collation, every page
// (simplex) or every sheet of two page sides (duplex) is printed once from the
// raster and then sent again, copy after copy, from a cache of its raster
// blocks before the next page or sheet is read.  A lone last front page of a
// duplex job gets a white back side before each further copy, so that every
// copy starts on a new sheet.  Collated and single copies are printed once.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "channel/cbuffer.h"
#include "filter/pagecache.h"

// What the copies need from the page loop to print a page side again.
class PageOutput {
  public:
    virtual ~PageOutput() = default;
    // start_page, and the image thread running.
    virtual bool beginPage() = 0;
    // Hands one whole raster block to the image thread (waits for room).
    virtual void sendBlock(const uint8_t* block, uint32_t size) = 0;
    // Waits until the image thread has taken every block / sent every band.
    virtual void waitRingEmpty() = 0;
    virtual void waitBandsDone() = 0;
    // end_page.
    virtual void endPage() = 0;
};

class UncollatedCopies {
  public:
    // `copies` is the copies argument, `collated` whether the ticket asked for
    // collation, `blockBytes` the size of one raster block, `duplex` whether
    // the job prints on both sides.
    UncollatedCopies(int32_t copies, bool collated, uint32_t blockBytes, bool duplex);

    // Whether this job makes copies itself (more than one, not collated).
    bool active() const { return active_; }

    // A page starts (its lists are made).
    void pageStart();

    // A complete raster block that has just been handed to the image thread;
    // it is kept for the copies.  False when memory ran out (reported).
    bool keepBlock(const uint8_t* block);

    // After end_page and the reading of the next header: decides the sheet
    // state and, when a sheet (or lone page) is complete, prints its copies.
    // Returns false when a copy could not be made (reported).
    bool afterPage(bool morePages, PageOutput& out);

    // The page just printed was cut short (its raster ended early): no copies
    // are made of it or of its sheet, and its cache is released.
    void discardSheet();

    // Pages printed as copies (for tests and the debug log).
    int copiesPrinted() const { return copiesPrinted_; }

  private:
    void sendSide(int side, PageOutput& out);
    void sendWhitePage(PageOutput& out);
    void releaseSheet();

    bool active_;
    int32_t copies_;
    uint32_t blockBytes_;
    bool duplex_;

    // Loop state kept across pages.
    int sideIndex_ = 0;
    bool sheetComplete_ = true;
    bool blankBackPending_ = false;

    // The cached blocks of each side of the current sheet.  A block that is
    // entirely white is kept as its 24-byte head only (size 24 in its
    // reference) and rebuilt white when it is sent again.
    std::unique_ptr<List> rasterLD_[2];
    std::vector<ByteBuffer> blocks_[2];
    // Heads of the current page's blocks: the white back side is made from them.
    std::vector<uint8_t> blankHeads_;
    std::vector<uint8_t> scratch_;
    int copiesPrinted_ = 0;
};
