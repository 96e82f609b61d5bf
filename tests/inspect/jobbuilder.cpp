#include "tests/inspect/jobbuilder.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstddef>

namespace jobtest {
namespace {

void le16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void le32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Bits of a T.81 entropy-coded segment, most significant first; finish()
// pads with 1-bits and stuffs a 0x00 after every 0xFF.
class BitWriter {
  public:
    void put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits_.push_back((bits >> i) & 1u);
    }
    void finish(Bytes& out) {
        while (bits_.size() % 8 != 0)
            bits_.push_back(1);
        for (size_t i = 0; i < bits_.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t k = 0; k < 8; ++k)
                byte = static_cast<uint8_t>(byte << 1 | bits_[i + k]);
            out.push_back(byte);
            if (byte == 0xFF) out.push_back(0x00);
        }
        bits_.clear();
    }

  private:
    std::vector<uint8_t> bits_;
};

// DC codes of T.81 Tables K.3 (luminance) and K.4 (chrominance) by category.
struct Code {
    uint32_t bits;
    int length;
};
constexpr Code kLumDc[12] = {{0b00, 2},     {0b010, 3},     {0b011, 3},      {0b100, 3},
                             {0b101, 3},    {0b110, 3},     {0b1110, 4},     {0b11110, 5},
                             {0b111110, 6}, {0b1111110, 7}, {0b11111110, 8}, {0b111111110, 9}};
constexpr Code kChromDc[12] = {{0b00, 2},        {0b01, 2},          {0b10, 2},
                               {0b110, 3},       {0b1110, 4},        {0b11110, 5},
                               {0b111110, 6},    {0b1111110, 7},     {0b11111110, 8},
                               {0b111111110, 9}, {0b1111111110, 10}, {0b11111111110, 11}};
constexpr Code kLumEob = {0b1010, 4};  // Table K.5, run/size 0/0
constexpr Code kChromEob = {0b00, 2};  // Table K.6, run/size 0/0

// One DC-only block: the DC difference (category code, then its amplitude
// bits, v - 1 for negative v), then EOB.
void dcOnlyBlock(BitWriter& w, int diff, bool chroma) {
    const int magnitude = diff < 0 ? -diff : diff;
    const int category = magnitude == 0 ? 0 : std::bit_width(static_cast<unsigned>(magnitude));
    const Code& c = chroma ? kChromDc[category] : kLumDc[category];
    w.put(c.bits, c.length);
    if (category > 0) w.put(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), category);
    const Code& eob = chroma ? kChromEob : kLumEob;
    w.put(eob.bits, eob.length);
}

Bytes joinBands(uint32_t bands, const Bytes& bandData) {
    Bytes out = {0xFF, 0x2B};
    for (uint32_t b = 0; b < bands; ++b) {
        out += bandData;
        out.push_back(0xFF);
        out.push_back(static_cast<uint8_t>(0xD0 + b % 8));
    }
    return out;
}

}  // namespace

Bytes& operator+=(Bytes& a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes operator+(Bytes a, const Bytes& b) {
    return a += b;
}

Bytes attrUbyte(uint8_t attr, uint8_t v) {
    return {0xC0, v, 0xF8, attr};
}

Bytes attrUint16(uint8_t attr, uint16_t v) {
    Bytes b = {0xC1};
    le16(b, v);
    return b + Bytes{0xF8, attr};
}

Bytes attrUint16Xy(uint8_t attr, uint16_t x, uint16_t y) {
    Bytes b = {0xD1};
    le16(b, x);
    le16(b, y);
    return b + Bytes{0xF8, attr};
}

Bytes attrSint16Xy(uint8_t attr, int16_t x, int16_t y) {
    Bytes b = {0xD3};
    le16(b, static_cast<uint16_t>(x));
    le16(b, static_cast<uint16_t>(y));
    return b + Bytes{0xF8, attr};
}

Bytes attrReal32Xy(uint8_t attr, float x, float y) {
    Bytes b = {0xD5};
    le32(b, std::bit_cast<uint32_t>(x));
    le32(b, std::bit_cast<uint32_t>(y));
    return b + Bytes{0xF8, attr};
}

Bytes attrUbyteArray(uint8_t attr, const std::string& s) {
    Bytes b = {0xC8};
    if (s.size() <= 255) {
        b.push_back(0xC0);
        b.push_back(static_cast<uint8_t>(s.size()));
    } else {
        b.push_back(0xC1);
        le16(b, static_cast<uint16_t>(s.size()));
    }
    return b + text(s) + Bytes{0xF8, attr};
}

Bytes op(uint8_t code) {
    return {code};
}

Bytes embedded(const Bytes& data) {
    Bytes b = {0xFA};
    le32(b, static_cast<uint32_t>(data.size()));
    return b + data;
}

Bytes usbPrologue() {
    const Bytes sniff = {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4, 0x5B, 0x10, 0xEF,
                         0xA4, 0x5B, 0x11, 0xEE, 0x00, 0xFF, 0x13, 0xEC, 0x2E};
    const Bytes reg = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x73, 0x07, 0x08, 0x00,
                       0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    const Bytes errors = {0xA5, 0x00, 0x0D, 0x50, 0xE0, 0x73, 0x03, 0x08,
                          0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    return sniff + reg + sniff + errors;
}

Bytes pjlHeader(const PjlOptions& o) {
    std::string s = "\x1b%-12345X@PJL JOB\n";
    s += "@PJL SET STRINGCODESET=UTF8\n";
    s += "@PJL SET FDATETIME=1700000000.000000\n";
    s += "@PJL COMMENT ORLIN Contone Raster Driver\n";
    s += "@PJL SET JOBNAME=\"" + o.jobName + "\"\n";
    s += "@PJL LJOBINFO HOSTID=\"tester\"\n";
    s += "@PJL SET LCOLORMODEL=CMYK\n";
    s += "@PJL SET LCTPREFERENCE=DEFAULT\n";
    s += "@PJL SET LIMAGEBRIGHTNESS=0\n";
    s += "@PJL SET PRINTQUALITY=NORMAL\n";
    s += "@PJL SET DUPLEX=" + o.duplex + "\n";
    if (o.duplex == "ON") s += "@PJL SET BINDING=LONGEDGE\n";
    s += "@PJL SET LCOLLATION=OFF\n";
    s += "@PJL SET RESOLUTION=" + std::to_string(o.resolution) + "\n";
    s += "@PJL SET LPAGEMODE=NORMAL\n";
    s += "@PJL SET LIMAGECONTRAST=0\n";
    s += "@PJL SET LMULTIPAGEPRINT=OFF\n";
    s += "@PJL ENTER LANGUAGE=PCLXL\n";
    return text(s);
}

Bytes streamHeader() {
    std::string s = ") HP-PCL XL;2;1;Comment test stream";
    s.resize(63, ' ');
    s += "\n";
    return text(s);
}

Bytes sessionStart(int resolution) {
    const auto r = static_cast<uint16_t>(resolution);
    return attrUint16Xy(0x89, r, r) + attrUbyte(0x86, 0) + attrUbyte(0x8F, 3) + op(0x41) +
           attrUbyte(0x88, 0) + attrUbyte(0x82, 1) + op(0x48) +
           attrUbyteArray(0x81, "Quodrel Enhanced XL=1.2") + op(0x47);
}

Bytes sessionEnd() {
    return op(0x49) + op(0x42);
}

Bytes pjlTrailer() {
    return text("\x1b%-12345X@PJL EOJ\n@PJL LPORTROTATE\n\x1b%-12345X");
}

Bytes pageBegin(const PageOptions& o) {
    Bytes b = attrUbyte(0x28, 0) + attrUbyte(0x26, 1) + attrUbyte(0x25, o.mediaSize);
    if (!o.mediaType.empty()) b += attrUbyteArray(0x27, o.mediaType);
    b += attrUint16(0xEC, 1) + attrUbyte(0xED, 2) + op(0x43);
    b += attrSint16Xy(0x2A, 100, 100) + op(0x75);
    b += attrReal32Xy(0x2B, 1.0f, 1.0f) + op(0x77);
    b += attrUbyte(0x03, o.color ? 2 : 1) + op(0x6A);
    b += attrUbyte(0xEF, 80) + attrUbyte(0xEE, o.color ? 1 : 0) + op(0x40);
    b += attrUbyte(0x2C, 204) + op(0x7B);
    return b;
}

Bytes pageEnd() {
    return attrUint16(0x31, 1) + op(0x44);
}

Bytes image(uint16_t y, uint16_t width, uint16_t rows, const Bytes& jpeg, const Bytes& tags,
            int resolution) {
    Bytes b = attrSint16Xy(0x4C, 0, static_cast<int16_t>(y)) + op(0x6B);
    b += attrUbyte(0x64, 0) + attrUbyte(0x62, 2) + attrUint16(0x6C, width) +
         attrUint16(0x6B, rows) + attrUint16Xy(0x67, width, rows);
    b += attrUbyte(0xFA, 8) + attrUbyte(0xF9, 2) + attrUint16(0xF8, 0) +
         attrUint16(0xF7, static_cast<uint16_t>(resolution)) + attrUint16(0xF6, 6) + op(0xB0);
    b += attrUint16(0x6D, 0) + attrUint16(0x63, rows) + attrUbyte(0x65, 246) + op(0xB1) +
         embedded(jpeg);
    b += attrUint16(0x6D, 0) + attrUint16(0x63, rows) + attrUbyte(0x65, 247) + op(0xB1) +
         embedded(tags);
    return b + op(0xB2);
}

Bytes uniformGrayBands(uint32_t width, uint32_t bands, uint8_t level) {
    // The forward DCT of a block of equal samples s (level-shifted by 128)
    // leaves only DC = 8 (s - 128); quantiser 1 keeps it as it is.
    const int dc = 8 * (int{level} - 128);
    BitWriter w;
    for (uint32_t x = 0; x < width / 8; ++x)
        dcOnlyBlock(w, x == 0 ? dc : 0, false);
    Bytes band;
    w.finish(band);
    return joinBands(bands, band);
}

Bytes whiteColorBands(uint32_t width, uint32_t bands) {
    // MCU = Y, Y, Cb, Cr (4:2:2).  White is Y 255, Cb = Cr = 128: only the
    // first Y block has a non-zero DC difference.
    BitWriter w;
    for (uint32_t m = 0; m < width / 16; ++m) {
        dcOnlyBlock(w, m == 0 ? 1016 : 0, false);
        dcOnlyBlock(w, 0, false);
        dcOnlyBlock(w, 0, true);
        dcOnlyBlock(w, 0, true);
    }
    Bytes band;
    w.finish(band);
    return joinBands(bands, band);
}

Bytes allThreeTags() {
    return {0xFF};
}

Bytes whiteJob(const JobOptions& o) {
    Bytes job;
    if (o.usb) job += usbPrologue();
    PjlOptions pjl;
    pjl.resolution = o.resolution;
    job += pjlHeader(pjl) + streamHeader() + sessionStart(o.resolution);
    for (int p = 0; p < o.pages; ++p) {
        PageOptions page;
        page.color = o.color;
        job += pageBegin(page);
        for (uint16_t y = 0; y < o.rows; y = static_cast<uint16_t>(y + 256)) {
            const auto rows = static_cast<uint16_t>(std::min<int>(256, o.rows - y));
            const Bytes jpeg = o.color ? whiteColorBands(o.width, rows / 8u)
                                       : uniformGrayBands(o.width, rows / 8u);
            job += image(y, o.width, rows, jpeg, allThreeTags(), o.resolution);
        }
        job += pageEnd();
    }
    return job + sessionEnd() + pjlTrailer();
}

bool writeRaster(const std::string& path, const std::vector<RasterPageSpec>& pages) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    bool ok = ras != nullptr;
    for (const RasterPageSpec& p : pages) {
        if (!ok) break;
        cups_page_header2_t h{};
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.cupsWidth = p.width;
        h.cupsHeight = p.height;
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = p.channels == 3 ? 24 : 8;
        h.cupsBytesPerLine = p.width * static_cast<unsigned>(p.channels);
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = p.channels == 3 ? CUPS_CSPACE_RGB : CUPS_CSPACE_W;
        Bytes pixels(size_t{h.cupsBytesPerLine} * p.height, p.value);
        ok = cupsRasterWriteHeader2(ras, &h) &&
             cupsRasterWritePixels(ras, pixels.data(), static_cast<unsigned>(pixels.size())) ==
                 pixels.size();
    }
    if (ras) cupsRasterClose(ras);
    ::close(fd);
    return ok;
}

size_t find(const Bytes& hay, const Bytes& needle, size_t from) {
    const auto it = std::search(hay.begin() + static_cast<ptrdiff_t>(from), hay.end(),
                                needle.begin(), needle.end());
    return static_cast<size_t>(it - hay.begin());
}

}  // namespace jobtest
