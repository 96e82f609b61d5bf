#include "filter/bands.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "base/messages.h"
#include "base/processstate.h"
#include "channel/hdc.h"
#include "compress/colorconvert.h"
#include "compress/tbrle.h"
#include "printstream/pagestream.h"
#include "settings/record.h"

namespace {

// Every block of a band is coded with the flat quantiser (near-lossless).
constexpr uint8_t kFlatBlockType = 3;
// Room first tried for an image's coded tag plane.
constexpr size_t kSmallCodedTags = 4096;

}  // namespace

bool codeBand(WicketSettings* settings, HuffmanState* coder, bool color, uint32_t position,
              uint32_t firstLine, uint32_t width, uint32_t pixels, const uint8_t* Y,
              const uint8_t* Cb, const uint8_t* Cr, const uint8_t* raw, std::vector<uint8_t>* out) {
    allocationCheckpoint(AllocSite::kCoder);
    setHuffman(coder);
    // The restart markers of the bands joined into one image run RST0..RST7
    // cyclically without a break.
    coder->restartIndex = static_cast<int32_t>(position % 8);
    int32_t status = initialize(coder);
    setWicket(settings, coder, &status);
    reinitialize(settings, coder);
    // One restart interval per band (one row of 8x8 blocks).
    setRestartInterval(static_cast<int32_t>(width / 8), settings);
    // Only an image's first band announces the quantiser.
    settings->emitQMarkers = position == 0;

    // The block-type map and the coder's output buffer belong to the coding
    // thread: grown once, so that no band allocates.  The output is sized for
    // the worst case of a band, so that no band is ever cut, and the band
    // keeps only its coded bytes.
    thread_local std::vector<uint8_t> map;
    map.assign(width / 8, kFlatBlockType);
    const int64_t worst = wicketWorstCaseBytes(static_cast<int32_t>(width), 8, color);
    const uint32_t capacity = static_cast<uint32_t>(std::max<int64_t>(int64_t{4} * pixels, worst));
    thread_local std::vector<uint8_t> scratch;
    if (scratch.size() < capacity) scratch.resize(capacity);
    int32_t length = 0;
    int32_t result;
    if (color) {
        result = wicketCompressPlanes(static_cast<int32_t>(map.size()), map.data(),
                                      static_cast<int32_t>(width), static_cast<int32_t>(pixels), Y,
                                      Cb, Cr, static_cast<int32_t>(capacity), scratch.data(),
                                      &length, settings, coder);
    } else {
        setSampleType(SAMPLE_444, settings);
        result = wicketCompressMonoPlane(static_cast<int32_t>(map.size()), map.data(),
                                         static_cast<int32_t>(width), static_cast<int32_t>(pixels),
                                         raw, static_cast<int32_t>(capacity), scratch.data(),
                                         &length, settings, coder);
    }
    if (result != 0 || length <= 0 || static_cast<uint32_t>(length) > capacity) {
        msgf("ERROR: Unable to compress the band at line %u (code %d)\n", firstLine,
             static_cast<int>(result));
        return false;
    }
    out->assign(scratch.begin(), scratch.begin() + length);
    return true;
}

namespace {

void writeBytes(ByteSink sink, const uint8_t* data, size_t length) {
    if (length > 0) sink(data, static_cast<uint32_t>(length));
}

// Writes one image of `count` coded bands whose first row is page line
// `firstLine`; `codedTags` is its tag plane, TBRLE-coded.
void writeImageOut(ByteSink sink, uint32_t firstLine, uint32_t width, uint32_t resolution,
                   uint32_t count, const std::vector<uint8_t>* const* jpeg,
                   const uint8_t* codedTags, uint32_t codedLength) {
    const uint32_t rows = 8 * count;
    size_t jpegTotal = 0;
    for (uint32_t k = 0; k < count; ++k)
        jpegTotal += jpeg[k]->size();
    writeImageHeader(sink, firstLine, width, rows, resolution);
    // The joined JPEG stream: each band's bytes in order, straight from the cache.
    writeReadImageBlock(sink, rows, eJPEGBandCompression, static_cast<uint32_t>(jpegTotal));
    for (uint32_t k = 0; k < count; ++k)
        writeBytes(sink, jpeg[k]->data(), jpeg[k]->size());
    writeReadImageBlock(sink, rows, eTBRLECompression, codedLength);
    writeBytes(sink, codedTags, codedLength);
    writeEndImage(sink);
}

}  // namespace

// --- Injectable allocation failures -------------------------------------------

namespace {

struct AllocFailure {
    int site = -1;
    long countdown = 0;
};

std::atomic<long> gAllocCounters[4];
const StateReset kResetAllocCounters([] {
    for (auto& counter : gAllocCounters)
        counter.store(0);
});

const AllocFailure& injectedFailure() {
    static const AllocFailure failure = [] {
        AllocFailure f;
        const char* text = std::getenv("QZ_FAIL_ALLOC");
        if (text == nullptr) return f;
        static const char* const names[] = {"readahead", "coder", "writer", "record"};
        for (int i = 0; i < 4; ++i) {
            const size_t n = std::strlen(names[i]);
            if (std::strncmp(text, names[i], n) == 0 && text[n] == ':') {
                f.site = i;
                f.countdown = std::strtol(text + n + 1, nullptr, 10);
            }
        }
        return f;
    }();
    return failure;
}

}  // namespace

void allocationCheckpoint(AllocSite site) {
    const AllocFailure& f = injectedFailure();
    const int index = static_cast<int>(site);
    if (f.site != index) return;
    if (gAllocCounters[index].fetch_add(1) + 1 == f.countdown) throw std::bad_alloc();
}

// --- The band pipeline ------------------------------------------------------------

namespace {

// Bands coded ahead of the writer at most: bounds the coded bytes waiting for
// their turn while the output is slow.
constexpr uint64_t kMaxCodedAhead = 96;
// Items queued at most (white bands cost no raster memory, but an item each).
constexpr size_t kMaxQueuedItems = 2048;
// Raster read ahead of the coders by default: with it pdftoraster can hand
// over a text page (mostly white lines, which cost nothing) or a good part of
// a photo page and go on rendering while we code.  The filter's memory stays
// under 64 MiB with it: the output ring (20 MiB), this, the kept page sides
// (2 MiB each in memory, the rest spilled to a file), and the coders' buffers (a Legal duplex job
// of colour photo pages with 10 copies peaks at about 54 MiB).
constexpr size_t kDefaultReadAheadBytes = size_t{16} << 20;

int coderThreadCount(int asked) {
    if (asked > 0) return std::min(asked, 16);
    if (const char* env = std::getenv("QZ_CODER_THREADS")) {
        const long n = std::strtol(env, nullptr, 10);
        if (n >= 1 && n <= 16) return static_cast<int>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : static_cast<int>(std::min(cores, 8u));
}

// The writer's sink: the job's sink, and the recording of the page in hand.
// Only the writer thread uses it.
struct WriterSink {
    ByteSink target;
    CodedRecording* recording = nullptr;
    bool outputFailed = false;

    int64_t operator()(const uint8_t* data, uint32_t length) {
        const int64_t result = target(data, length);
        if (result < 0) outputFailed = true;
        if (recording != nullptr) recording->append(data, length);
        return result;
    }
};

// White bands code the same wherever they are, but for their place in the
// image: the first band announces the quantiser, the others start at their
// restart number.  Key: 0..7 restart number, 8 an image's first band.
uint32_t whiteKey(uint32_t position) {
    return position == 0 ? 8 : position % 8;
}

}  // namespace

struct BandPipeline::Item {
    enum class Kind { kStartPage, kBand, kEndPage, kReplay, kForget };
    Kind kind = Kind::kBand;
    int slot = kRecordNone;
    int lastSlot = kRecordNone;
    uint32_t firstLine = 0;
    uint32_t position = 0;     // the band's place in its image
    bool closesImage = false;  // the image's last band
    uint8_t lineMask = 0;
    std::vector<uint8_t> lines;
    size_t rawBytes = 0;  // read-ahead the band holds
    // Coding state, under the mutex.
    bool claimed = false;
    bool ready = true;
    bool coded = false;
    std::vector<uint8_t> jpeg;
};

struct BandPipeline::Impl {
    std::mutex mutex;
    std::deque<Item> queue;  // front: the next item to write
    uint64_t frontSeq = 0;   // sequence number of queue.front()
    uint64_t nextToCode = 0;
    size_t rawBytes = 0;      // raster bytes queued and not yet coded
    size_t pendingBands = 0;  // bands queued and not yet taken by a coder
    bool closing = false;
    bool writing = false;  // the writer holds an item taken off the queue
    Waiter work;           // coders: a band to code
    Waiter ready;          // writer: the front item is ready
    Waiter room;           // page loop: room to queue, or everything written

    // White bands already coded, by whiteKey(); under the mutex.
    std::array<std::vector<uint8_t>, 9> white;
    // Buffers of bands coded (raster) and written (coded bytes), kept for
    // the next bands so that no band allocates or faults in fresh pages;
    // under the mutex.
    std::vector<std::vector<uint8_t>> freeLines;
    std::vector<std::vector<uint8_t>> freeCoded;

    // The page loop's side.
    uint32_t bandInPage = 0;

    // The writer's side.
    std::vector<std::vector<uint8_t>> image;  // coded bands of the image in hand
    std::vector<const std::vector<uint8_t>*> imageParts;
    uint32_t imageFirstLine = 0;
    bool skipRestOfPage = false;  // a band failed: the rest of its page is left out
    bool pageOpen = false;        // BeginPage written, EndPage not yet
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> tagCache;  // rows -> coded tags
    std::vector<uint8_t> tagPlane;  // kPixelTag, for the tallest image
    std::array<CodedRecording, kRecordSlots> records;
    WriterSink out;
};

BandPipeline::BandPipeline(const BandPipelineConfig& config)
    : config_(config), impl_(std::make_unique<Impl>()) {
    if (config_.sink == nullptr) config_.sink = hdcWrite;
    if (config_.readAheadBytes == 0) {
        // QZ_READAHEAD_KB: a hidden switch to measure the read-ahead lever.
        const char* kb = std::getenv("QZ_READAHEAD_KB");
        const long asked = kb != nullptr ? std::strtol(kb, nullptr, 10) : 0;
        config_.readAheadBytes = asked > 0 ? size_t(asked) << 10 : kDefaultReadAheadBytes;
    }
    if (const char* pause = std::getenv("QZ_TEST_COPY_PAUSE_MS")) {
        config_.copyImagePause = std::chrono::milliseconds(std::strtol(pause, nullptr, 10));
    }
}

BandPipeline::~BandPipeline() {
    finish();
}

bool BandPipeline::start() {
    impl_->out = WriterSink{config_.sink};
    bool ok = writer_.start([this] { writerLoop(); });
    const int count = coderThreadCount(config_.coderThreads);
    for (int i = 0; ok && i < count; ++i) {
        auto coder = std::make_unique<StoppableThread>();
        StoppableThread* self = coder.get();
        ok = coder->start([this, self] { coderLoop(self); });
        coders_.push_back(std::move(coder));
    }
    if (!ok) {
        msgf("ERROR: Unable to ran process_image_thread!\n");
        for (auto& coder : coders_)
            coder->stop();
        coders_.clear();
        writer_.stop();
        return false;
    }
    return true;
}

void BandPipeline::finish() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->closing = true;
    }
    impl_->ready.notify();
    // The writer ends once it has written everything queued.
    waitWritten();
    writer_.stop();
    impl_->ready.notify();
    for (auto& coder : coders_)
        coder->requestStop();
    impl_->work.notify();
    for (auto& coder : coders_)
        coder->stop();
    coders_.clear();
    for (CodedRecording& record : impl_->records)
        record.clear();
}

void BandPipeline::waitWritten() {
    impl_->work.notify();  // bands queued below the wake-up batch
    impl_->room.waitUntil(
        [this] {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            return impl_->queue.empty() && !impl_->writing;
        },
        &writer_.runFlag());
}

void BandPipeline::push(Item&& item) {
    const size_t bytes = item.lines.size();
    item.rawBytes = bytes;
    const auto hasRoom = [&] {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        return impl_->queue.size() < kMaxQueuedItems &&
               (impl_->rawBytes == 0 || impl_->rawBytes + bytes <= config_.readAheadBytes);
    };
    if (!hasRoom()) {
        // The coders may be sleeping on a few bands not worth a wake-up alone.
        impl_->work.notify();
        impl_->room.waitUntil(hasRoom, &writer_.runFlag());
    }
    const bool isBand = item.kind == Item::Kind::kBand;
    size_t pending = 0;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->queue.push_back(std::move(item));
        if (isBand) {
            impl_->rawBytes += bytes;
            pending = ++impl_->pendingBands;
        }
    }
    // Coders are woken for a few bands at a time (or at the next item that is
    // not a band), not for every band: a coder that keeps up with the raster
    // would otherwise sleep and wake once a band.
    constexpr size_t kBandsPerWake = 4;
    if (!isBand || pending >= kBandsPerWake) impl_->work.notify();
    if (!isBand) impl_->ready.notify();
}

void BandPipeline::startPage(int recordSlot) {
    Item item;
    item.kind = Item::Kind::kStartPage;
    item.slot = recordSlot;
    impl_->bandInPage = 0;
    push(std::move(item));
}

void BandPipeline::band(uint32_t firstLine, uint8_t lineMask, std::vector<uint8_t> lines) {
    if (!announced_) {
        announced_ = true;
        msgf("ptp=%d   ", static_cast<int>(uint64_t{config_.width} * config_.pageHeight));
    }
    Item item;
    item.kind = Item::Kind::kBand;
    item.firstLine = firstLine;
    item.position = impl_->bandInPage % kBandsPerImage;
    item.closesImage = item.position == kBandsPerImage - 1 || firstLine + 8 >= config_.pageHeight;
    item.lineMask = lineMask;
    item.lines = std::move(lines);
    item.ready = false;
    push(std::move(item));
    ++impl_->bandInPage;
}

std::vector<uint8_t> BandPipeline::takeBuffer() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->freeLines.empty()) {
            std::vector<uint8_t> buffer = std::move(impl_->freeLines.back());
            impl_->freeLines.pop_back();
            return buffer;
        }
    }
    return std::vector<uint8_t>(size_t{8} * config_.width * config_.bytesPerPixel);
}

void BandPipeline::endPage() {
    Item item;
    item.kind = Item::Kind::kEndPage;
    push(std::move(item));
}

void BandPipeline::replay(int slot, int copy) {
    Item item;
    item.kind = Item::Kind::kReplay;
    item.slot = slot;
    item.position = static_cast<uint32_t>(copy);
    push(std::move(item));
}

void BandPipeline::forget(int firstSlot, int lastSlot) {
    Item item;
    item.kind = Item::Kind::kForget;
    item.slot = firstSlot;
    item.lastSlot = lastSlot;
    push(std::move(item));
}

void BandPipeline::coderLoop(StoppableThread* self) {
    // Each coder has its own coder state, settings and buffers.  Without
    // them (no memory) it still takes bands, as failed ones, so that the
    // pages are closed and the job ends.
    std::unique_ptr<WicketSettings> settings;
    std::unique_ptr<HuffmanState> coder;
    try {
        settings = std::make_unique<WicketSettings>();
        coder = std::make_unique<HuffmanState>();
    } catch (const std::bad_alloc&) {
        reportNoMemory();
        failed_.store(true);
        settings.reset();
    }
    std::vector<uint8_t> pixels, planes;
    Impl& p = *impl_;
    while (self->running()) {
        Item* item = nullptr;
        uint64_t claimedSeq = 0;
        const bool got = p.work.waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(p.mutex);
                uint64_t seq = std::max(p.nextToCode, p.frontSeq);
                const uint64_t end = p.frontSeq + p.queue.size();
                for (; seq < end && seq < p.frontSeq + kMaxCodedAhead; ++seq) {
                    Item& candidate = p.queue[seq - p.frontSeq];
                    if (candidate.kind == Item::Kind::kBand && !candidate.claimed) {
                        candidate.claimed = true;
                        item = &candidate;
                        p.nextToCode = seq + 1;
                        claimedSeq = seq;
                        --p.pendingBands;
                        return true;
                    }
                }
                p.nextToCode = seq;
                return false;
            },
            &self->runFlag());
        if (!got) break;  // stopped
        codeItem(*item, settings.get(), coder.get(), &pixels, &planes);
        std::vector<uint8_t> done;
        bool wakeWriter = true;
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            // The writer only joins a band to its image; it is woken when it
            // can write an image or reach an item that is not a band.  A band
            // followed by one still being coded leaves the wake-up to that one.
            const uint64_t next = claimedSeq + 1 - p.frontSeq;
            if (item->kind == Item::Kind::kBand && !item->closesImage && next < p.queue.size()) {
                const Item& after = p.queue[next];
                wakeWriter = after.kind != Item::Kind::kBand || after.ready;
            }
            p.rawBytes -= item->rawBytes;
            item->rawBytes = 0;
            const size_t bandBytes = size_t{8} * config_.width * config_.bytesPerPixel;
            done.swap(item->lines);
            if (done.size() == bandBytes) {
                try {
                    p.freeLines.push_back(std::move(done));
                } catch (const std::bad_alloc&) {
                    // Not kept for reuse: released below, outside the lock.
                }
            }
            item->ready = true;
        }
        if (wakeWriter) p.ready.notify();
        p.room.notify();
    }
}

void BandPipeline::codeItem(Item& item, WicketSettings* settings, HuffmanState* coder,
                            std::vector<uint8_t>* pixels, std::vector<uint8_t>* planes) {
    Impl& p = *impl_;
    const uint32_t width = config_.width;
    const uint32_t bpp = config_.bytesPerPixel;
    const uint32_t lineBytes = width * bpp;
    const uint32_t count = 8 * width;
    const bool color = bpp == 3;
    const uint32_t key = whiteKey(item.position);
    if (settings == nullptr || coder == nullptr) {
        item.coded = false;
        return;
    }
    try {
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            // A coded buffer given back by the writer keeps its capacity.
            if (!p.freeCoded.empty()) {
                item.jpeg = std::move(p.freeCoded.back());
                p.freeCoded.pop_back();
            }
            if (item.lineMask == 0 && !p.white[key].empty()) {
                item.jpeg = p.white[key];
                item.coded = true;
                return;
            }
        }
        // The band's own buffer holds its 8 lines; a white band is coded
        // from a white one.
        const uint8_t* raw = item.lines.data();
        if (item.lineMask != 0 && item.lines.size() != size_t{8} * lineBytes) {
            msgf("ERROR: The band at line %u has %zu bytes of raster, not %zu\n", item.firstLine,
                 item.lines.size(), size_t{8} * lineBytes);
            item.coded = false;
            failed_.store(true);
            return;
        }
        if (item.lineMask == 0) {
            pixels->assign(size_t{8} * lineBytes, 0xFF);
            raw = pixels->data();
        }

        const uint8_t *y = nullptr, *cb = nullptr, *cr = nullptr;
        if (color) {
            // White where the conversion skips the margins.
            planes->resize(size_t{3} * count);
            std::memset(planes->data(), 0xFF, count);
            std::memset(planes->data() + count, 0x80, size_t{2} * count);
            uint8_t* py = planes->data();
            rgbtoYCbCr(lineBytes, 8 * lineBytes, raw, width, count, py, py + count,
                       py + 2 * size_t{count}, true);
            y = py;
            cb = py + count;
            cr = py + 2 * size_t{count};
        }
        // Coded into the coder's own buffer, sized for the worst case, and
        // kept at its exact length: a band waiting for the writer holds only
        // its bytes.
        item.coded = codeBand(settings, coder, config_.settings->isColor != 0, item.position,
                              item.firstLine, width, count, y, cb, cr, raw, &item.jpeg);
        if (!item.coded) failed_.store(true);
        if (item.coded && item.lineMask == 0) {
            std::lock_guard<std::mutex> lock(p.mutex);
            if (p.white[key].empty()) p.white[key] = item.jpeg;
        }
    } catch (const std::bad_alloc&) {
        reportNoMemory();
        item.jpeg.clear();
        item.coded = false;
        failed_.store(true);
    }
}

bool BandPipeline::shouldStopReplay() const {
    return (config_.cancel != nullptr && config_.cancel->load() != 0) || impl_->out.outputFailed ||
           hdcOutputClosed();
}

void BandPipeline::writerLoop() {
    Impl& p = *impl_;
    for (;;) {
        bool finished = false;
        const bool got = p.ready.waitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(p.mutex);
                if (p.queue.empty()) {
                    finished = p.closing;
                    return finished;
                }
                return p.queue.front().ready;
            },
            &writer_.runFlag());
        if (!got || finished) break;
        Item item;
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            item = std::move(p.queue.front());
            p.queue.pop_front();
            ++p.frontSeq;
            p.writing = true;
        }
        writeItem(item);
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            p.writing = false;
        }
        p.room.notify();
        p.work.notify();  // coders may be waiting to run further ahead
    }
    // A page whose end never came (memory ran out before it could be
    // queued) is closed with the images written of it; this needs no memory.
    if (p.pageOpen) {
        Item end;
        end.kind = Item::Kind::kEndPage;
        writeItem(end);
    }
}

// Writes the image in hand (its bands in order) and empties it.  The tag
// plane is the constant object tag throughout, so its coded form depends on
// the row count alone and is made once per count.
void BandPipeline::flushImage() {
    Impl& p = *impl_;
    if (p.image.empty()) return;
    const uint32_t count = static_cast<uint32_t>(p.image.size());
    const uint32_t rows = 8 * count;
    try {
        allocationCheckpoint(AllocSite::kWriter);
        const std::vector<uint8_t>* tags = nullptr;
        for (const auto& entry : p.tagCache)
            if (entry.first == rows) tags = &entry.second;
        if (tags == nullptr) {
            // One plane of tags, as tall as the tallest image, serves every
            // row count; the coded form of a uniform plane is a few bytes, so
            // a small buffer is tried first and the worst case only if needed.
            const uint32_t tagBytes = rows * config_.width;
            if (p.tagPlane.size() < tagBytes)
                p.tagPlane.assign(
                    std::max<size_t>(tagBytes, size_t{kBandsPerImage} * 8 * config_.width),
                    kPixelTag);
            std::vector<uint8_t> coded(kSmallCodedTags);
            uint32_t length = tbrle_encode(static_cast<uint32_t>(coded.size()), coded.data(),
                                           tagBytes, p.tagPlane.data());
            if (length == 0) {
                coded.resize(2 * size_t{tagBytes});
                length = tbrle_encode(static_cast<uint32_t>(coded.size()), coded.data(), tagBytes,
                                      p.tagPlane.data());
            }
            if (length == 0) {
                msgf("ERROR: Unable to encode the tag plane of the image at line %u\n",
                     p.imageFirstLine);
                failed_.store(true);
                p.image.clear();
                p.skipRestOfPage = true;
                return;
            }
            // Kept at its exact length (the coder's buffer is twice the plane).
            p.tagCache.emplace_back(rows,
                                    std::vector<uint8_t>(coded.begin(), coded.begin() + length));
            tags = &p.tagCache.back().second;
        }
        p.imageParts.resize(count);
        for (uint32_t k = 0; k < count; ++k)
            p.imageParts[k] = &p.image[k];
        writeImageOut(p.out, p.imageFirstLine, config_.width, config_.resolution, count,
                      p.imageParts.data(), tags->data(), static_cast<uint32_t>(tags->size()));
        if (p.out.recording != nullptr) p.out.recording->markImageBoundary();
    } catch (const std::bad_alloc&) {
        // Nothing of the image went out; the page ends with the images before it.
        reportNoMemory();
        failed_.store(true);
        p.skipRestOfPage = true;
    }
    recycleImage();
}

// Gives the coded bands of the image in hand back to the coders and empties
// it.  Buffers of ordinary size are kept, as many as can be in flight.
void BandPipeline::recycleImage() {
    Impl& p = *impl_;
    constexpr size_t kMaxKept = kMaxCodedAhead + kBandsPerImage;
    constexpr size_t kMaxKeptCapacity = size_t{256} << 10;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        for (std::vector<uint8_t>& band : p.image) {
            if (p.freeCoded.size() >= kMaxKept) break;
            if (band.capacity() == 0 || band.capacity() > kMaxKeptCapacity) continue;
            band.clear();
            p.freeCoded.push_back(std::move(band));
        }
    }
    p.image.clear();
}

void BandPipeline::writeItem(Item& item) {
    Impl& p = *impl_;
    try {
        switch (item.kind) {
            case Item::Kind::kStartPage:
                p.image.clear();
                p.skipRestOfPage = false;
                p.out.recording = nullptr;
                if (item.slot >= 0 && item.slot < kRecordSlots) {
                    try {
                        p.records[item.slot].begin();
                        p.out.recording = &p.records[item.slot];
                    } catch (const std::bad_alloc&) {
                        // The page is printed all the same; its copies can't be.
                        reportNoMemory();
                        failed_.store(true);
                    }
                }
                start_page(p.out, config_.settings);
                p.pageOpen = true;
                if (p.out.recording != nullptr) p.out.recording->markImageBoundary();
                break;
            case Item::Kind::kBand:
                if (p.skipRestOfPage) break;
                if (!item.coded) {
                    // The bands before it still form well-formed images, and
                    // the page ends with them: no image may leave a gap.
                    flushImage();
                    p.skipRestOfPage = true;
                    break;
                }
                if (p.image.empty()) p.imageFirstLine = item.firstLine;
                p.image.push_back(std::move(item.jpeg));
                if (item.closesImage) flushImage();
                break;
            case Item::Kind::kEndPage:
                flushImage();  // a page that ended early
                if (p.out.recording != nullptr) p.out.recording->markPageEnd();
                end_page(p.out);
                p.pageOpen = false;
                if (p.out.recording != nullptr) {
                    p.out.recording->finish();
                    if (p.out.recording->broken()) failed_.store(true);
                }
                p.out.recording = nullptr;
                break;
            case Item::Kind::kReplay: {
                if (item.slot < 0 || item.slot >= kRecordSlots) break;
                CodedRecording& record = p.records[item.slot];
                if (!record.usable()) {
                    if (!shouldStopReplay()) failed_.store(true);
                    break;
                }
                if (shouldStopReplay()) break;
                msgf("DEBUG: Copy %d of page side %d\n", static_cast<int>(item.position),
                     item.slot);
                const bool sent = record.replay(p.out, [this] {
                    if (config_.copyImagePause.count() > 0)
                        writer_.pauseFor(config_.copyImagePause);
                    return shouldStopReplay();
                });
                // A kept side that could not be read back leaves the job
                // incomplete (reported where it failed).
                if (!sent && !shouldStopReplay()) failed_.store(true);
                break;
            }
            case Item::Kind::kForget:
                for (int s = std::max(item.slot, 0); s <= item.lastSlot && s < kRecordSlots; ++s)
                    p.records[s].clear();
                break;
        }
    } catch (const std::bad_alloc&) {
        reportNoMemory();
        failed_.store(true);
    }
}
