// Assembles printer job streams for the inspector's tests, byte by byte, with
// helpers named after the format.  Everything here is written from the
// format's description, not from the filter's encoder, so that the two can
// be checked against each other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jobtest {

using Bytes = std::vector<uint8_t>;

// Appends b to a.
Bytes& operator+=(Bytes& a, const Bytes& b);
Bytes operator+(Bytes a, const Bytes& b);

// PCL XL items: the value, then F8 and the attribute id.
Bytes attrUbyte(uint8_t attr, uint8_t v);
Bytes attrUint16(uint8_t attr, uint16_t v);
Bytes attrUint16Xy(uint8_t attr, uint16_t x, uint16_t y);
Bytes attrSint16Xy(uint8_t attr, int16_t x, int16_t y);
Bytes attrReal32Xy(uint8_t attr, float x, float y);
Bytes attrUbyteArray(uint8_t attr, const std::string& text);
Bytes op(uint8_t code);
// FA, the 32-bit length, the data.
Bytes embedded(const Bytes& data);

// Job framing.
Bytes usbPrologue();
struct PjlOptions {
    int resolution = 600;
    std::string jobName = "test job";
    std::string duplex = "OFF";
};
Bytes pjlHeader(const PjlOptions& o = {});
Bytes streamHeader();  // 64 bytes
Bytes sessionStart(int resolution = 600);
Bytes sessionEnd();  // CloseDataSource, EndSession
Bytes pjlTrailer();

struct PageOptions {
    bool color = true;
    uint8_t mediaSize = 2;  // A4
    std::string mediaType;  // empty: none sent ("Automatic")
};
Bytes pageBegin(const PageOptions& o = {});
Bytes pageEnd();

// The image header (SetCursor to 0,y ... BeginImage), both ReadImage blocks
// and EndImage, around the given data.
Bytes image(uint16_t y, uint16_t width, uint16_t rows, const Bytes& jpeg, const Bytes& tags,
            int resolution = 600);

// Hand-coded band streams of one uniform shade, per the ITU-T T.81 rules with
// the Annex K tables and quantiser 1: every block is its DC and an EOB.
// `level` is the sample value (0 or 255 here: DC categories 11 and 10).
// Bands are joined as the filter joins them: 0xFF 0x2B before the first,
// RSTn (n = band mod 8) after each.
Bytes uniformGrayBands(uint32_t width, uint32_t bands, uint8_t level = 255);
Bytes whiteColorBands(uint32_t width, uint32_t bands);
// A tag plane that is 3 throughout: the one-byte TBRLE stream 0xFF.
Bytes allThreeTags();

// A complete job: prologue (optional), header, session, `pages` pages of one
// white image each (`rows` rows of `width`), session end, trailer.
struct JobOptions {
    bool usb = true;
    bool color = true;
    int pages = 1;
    uint16_t width = 32;
    uint16_t rows = 16;
    int resolution = 600;
};
Bytes whiteJob(const JobOptions& o = {});

// Writes a CUPS raster file of 8-bit pages, each `width` x `height` of one
// value (`channels` 1: gray, 3: RGB).  False when the file cannot be written.
struct RasterPageSpec {
    uint32_t width, height;
    int channels;
    uint8_t value;
};
bool writeRaster(const std::string& path, const std::vector<RasterPageSpec>& pages);

// Offset of the first occurrence of `needle` in `hay` at or after `from`;
// the test fails (returns hay.size()) when it is missing.
size_t find(const Bytes& hay, const Bytes& needle, size_t from = 0);

}  // namespace jobtest
