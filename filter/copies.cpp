#include "filter/copies.h"

#include <cerrno>
#include <cstring>

#include "channel/messages.h"
#include "filter/rasterblock.h"

UncollatedCopies::UncollatedCopies(int32_t copies, bool collated, uint32_t blockBytes, bool duplex)
    : active_(!collated && copies > 1), copies_(copies), blockBytes_(blockBytes), duplex_(duplex) {}

void UncollatedCopies::pageStart() {
    if (!active_) return;
    rasterLD_[sideIndex_] = new_list(sizeof(BlockRef));
    blocks_[sideIndex_].clear();
    // The white page of the previous page is not needed any more.
    blankHeads_.clear();
}

bool UncollatedCopies::keepBlock(const uint8_t* block) {
    if (!active_) return true;
    const uint8_t* pixels = block + kBlockHeadBytes;
    const uint32_t imageBytes = blockImageBytes(block);
    blankHeads_.insert(blankHeads_.end(), block, block + kBlockHeadBytes);

    // The tag plane is constant, so a block is white when its pixels are.
    const bool white = isAllWhite(pixels, imageBytes);
    const uint32_t keep = white ? kBlockHeadBytes : blockBytes_;
    ByteBuffer copy = tryAllocateBytes(keep);
    if (!copy) {
        msgPerror("ERROR: Unable to allocate memory!");
        return false;
    }
    std::memcpy(copy.get(), block, keep);
    BlockRef ref{keep, copy.get()};
    if (append(rasterLD_[sideIndex_].get(), &ref) != kListOk) {
        msgf("LIST  IS FAILING TO APPEND\n");
        return true;
    }
    blocks_[sideIndex_].push_back(std::move(copy));
    return true;
}

void UncollatedCopies::sendSide(int side, PageOutput& out) {
    BlockRef ref{};
    List* list = rasterLD_[side].get();
    if (read_first(list, &ref) != kListOk) {
        msgf("LIST  IS FAILING TO READ FIRST NODE\n");
        return;
    }
    do {
        if (ref.size == kBlockHeadBytes) {
            makeWhiteBlock(ref.data, blockBytes_, &scratch_);
            out.sendBlock(scratch_.data(), blockBytes_);
        } else {
            out.sendBlock(ref.data, ref.size);
        }
    } while (read_next(list, &ref) == kListOk);
}

void UncollatedCopies::sendWhitePage(PageOutput& out) {
    for (size_t at = 0; at + kBlockHeadBytes <= blankHeads_.size(); at += kBlockHeadBytes) {
        makeWhiteBlock(blankHeads_.data() + at, blockBytes_, &scratch_);
        out.sendBlock(scratch_.data(), blockBytes_);
    }
}

void UncollatedCopies::releaseSheet() {
    for (int side = 0; side <= sideIndex_; ++side) {
        if (rasterLD_[side] && delete_list(rasterLD_[side]) != kListOk) {
            msgf("LIST DELETE IS UNSUCCESSFUL\n");
        }
        rasterLD_[side].reset();
        blocks_[side].clear();
    }
    sideIndex_ = 0;
}

void UncollatedCopies::discardSheet() {
    if (active_) releaseSheet();
    sideIndex_ = 0;
    sheetComplete_ = true;
    blankBackPending_ = false;
}

bool UncollatedCopies::afterPage(bool morePages, PageOutput& out) {
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
        for (int j = 0; j < passes; ++j) {
            msgf("Handling the copies %d", first + j);
            const bool whitePass = blankBackPending_;
            const int lastSide = whitePass ? 0 : sideIndex_;
            for (int k = 0; k <= lastSide; ++k) {
                msgf("Handling the duplex copies %d", k);
                if (!out.beginPage()) return false;
                if (whitePass) {
                    sendWhitePage(out);
                    blankBackPending_ = false;
                } else {
                    sendSide(k, out);
                    if (lastSheet && duplex_) blankBackPending_ = true;
                }
                out.waitRingEmpty();
                msgf("Out of first sleep inside copies loop");
                out.waitBandsDone();
                msgf("Out of second sleep inside copies loop");
                out.endPage();
                ++copiesPrinted_;
            }
        }
    }
    msgf("Out of uncollated copies loop");
    if (sheetComplete_) {
        if (active_) releaseSheet();
        sideIndex_ = 0;
    }
    return true;
}
