#include "tools/common/jpegwrap.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// libjpeg's header needs FILE and size_t declared first.
#include <jpeglib.h>

namespace {

// ---------------------------------------------------------------------------
// Header writing

void put16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void putMarker(std::vector<uint8_t>& out, uint8_t code) {
    out.push_back(0xFF);
    out.push_back(code);
}

// The example Huffman tables of T.81 Annex K, taken from libjpeg's own
// defaults rather than typed in again, so that a typing slip in our coder's
// copy cannot hide behind the same slip here.
struct StandardTables {
    uint8_t bits[4][16];  // DC lum, AC lum, DC chroma, AC chroma
    uint8_t values[4][256];
    int count[4];
};

StandardTables loadStandardTables() {
    StandardTables t{};
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    cinfo.image_width = 16;
    cinfo.image_height = 8;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&cinfo);
    const JHUFF_TBL* tables[4] = {cinfo.dc_huff_tbl_ptrs[0], cinfo.ac_huff_tbl_ptrs[0],
                                  cinfo.dc_huff_tbl_ptrs[1], cinfo.ac_huff_tbl_ptrs[1]};
    for (int i = 0; i < 4; ++i) {
        int n = 0;
        for (int l = 1; l <= 16; ++l) {
            t.bits[i][l - 1] = tables[i]->bits[l];
            n += tables[i]->bits[l];
        }
        t.count[i] = n;
        std::memcpy(t.values[i], tables[i]->huffval, static_cast<size_t>(n));
    }
    jpeg_destroy_compress(&cinfo);
    return t;
}

const StandardTables& standardTables() {
    static const StandardTables tables = loadStandardTables();
    return tables;
}

void putHuffmanTable(std::vector<uint8_t>& out, uint8_t classAndId, const uint8_t* bits,
                     const uint8_t* values, int count) {
    out.push_back(classAndId);
    out.insert(out.end(), bits, bits + 16);
    out.insert(out.end(), values, values + count);
}

// ---------------------------------------------------------------------------
// Error handling: never exit(), count warnings, stop runaway inputs.

constexpr int kMaxScans = 1000;  // progressive files with more scans are refused

struct GuardedError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    JpegDiagnostics* diag;
    char fatal[JMSG_LENGTH_MAX];
};

void recordFatal(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<GuardedError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->fatal);
    std::longjmp(err->jump, 1);
}

void recordMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    auto* err = reinterpret_cast<GuardedError*>(cinfo->err);
    cinfo->err->num_warnings++;
    if (err->diag != nullptr) {
        err->diag->warnings++;
        if (err->diag->message.empty()) {
            char text[JMSG_LENGTH_MAX];
            (*cinfo->err->format_message)(cinfo, text);
            err->diag->message = text;
        }
    }
}

void limitScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans) {
        auto* err = reinterpret_cast<GuardedError*>(cinfo->err);
        std::snprintf(err->fatal, sizeof err->fatal, "more than %d scans", kMaxScans);
        std::longjmp(err->jump, 1);
    }
}

// One decompressor with the guarded error manager; destroyed on every path.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    GuardedError err{};
    jpeg_progress_mgr progress{};
    std::vector<uint8_t> line;  // scan-line scratch; lives outside the setjmp frame

    explicit Decoder(JpegDiagnostics* diag) {
        cinfo.err = jpeg_std_error(&err.pub);
        err.pub.error_exit = recordFatal;
        err.pub.emit_message = recordMessage;
        err.diag = diag;
        progress.progress_monitor = limitScans;
        jpeg_create_decompress(&cinfo);
        cinfo.progress = &progress;
    }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

// Checks the header fields that size our allocations.  Returns an error text
// or null.
const char* checkLimits(const jpeg_decompress_struct& cinfo) {
    if (cinfo.image_width == 0 || cinfo.image_height == 0) return "empty image";
    if (uint64_t{cinfo.image_width} * cinfo.image_height > kJpegMaxPixels) return "image too large";
    if (cinfo.num_components < 1 || cinfo.num_components > 4) return "unsupported component count";
    return nullptr;
}

// The libjpeg work of jpegReadCoefficients; only plain data lives across the
// setjmp, and `out` belongs to the caller.
bool readCoefficients(Decoder& d, const uint8_t* jpeg, size_t length, JpegCoefficients* out) {
    if (setjmp(d.err.jump) != 0) return false;
    jpeg_decompress_struct& cinfo = d.cinfo;
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(length));
    jpeg_read_header(&cinfo, TRUE);
    if (const char* why = checkLimits(cinfo)) {
        std::snprintf(d.err.fatal, sizeof d.err.fatal, "%s", why);
        return false;
    }
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    out->width = cinfo.image_width;
    out->height = cinfo.image_height;
    out->components.resize(static_cast<size_t>(cinfo.num_components));
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& info = cinfo.comp_info[c];
        JpegComponentCoefficients& comp = out->components[static_cast<size_t>(c)];
        comp.id = info.component_id;
        comp.hSampling = info.h_samp_factor;
        comp.vSampling = info.v_samp_factor;
        comp.quantTable = info.quant_tbl_no;
        comp.blocksWide = info.width_in_blocks;
        comp.blocksHigh = info.height_in_blocks;
        comp.coefficients.assign(size_t{comp.blocksWide} * comp.blocksHigh * 64, 0);
        for (JDIMENSION row = 0; row < info.height_in_blocks; ++row) {
            JBLOCKARRAY rows = (*cinfo.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&cinfo), arrays[c], row, 1, FALSE);
            for (JDIMENSION bx = 0; bx < info.width_in_blocks; ++bx) {
                int16_t* dst = comp.coefficients.data() + (size_t{row} * comp.blocksWide + bx) * 64;
                for (int k = 0; k < 64; ++k)
                    dst[k] = rows[0][bx][k];
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

bool decodePixels(Decoder& d, const uint8_t* jpeg, size_t length, JpegPixelFormat format,
                  JpegImage* out) {
    if (setjmp(d.err.jump) != 0) return false;
    jpeg_decompress_struct& cinfo = d.cinfo;
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(length));
    jpeg_read_header(&cinfo, TRUE);
    if (const char* why = checkLimits(cinfo)) {
        std::snprintf(d.err.fatal, sizeof d.err.fatal, "%s", why);
        return false;
    }
    if (format == JpegPixelFormat::Native) {
        cinfo.out_color_space = cinfo.jpeg_color_space;  // no colour conversion
    } else if (cinfo.num_components == 3) {
        cinfo.out_color_space = JCS_RGB;
    }
    // Otherwise (gray, CMYK, YCCK in Rgb) libjpeg keeps its own choice.
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    const int channels = cinfo.output_components;
    const size_t width = cinfo.output_width;
    const size_t height = cinfo.output_height;
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    out->planes.assign(static_cast<size_t>(channels), std::vector<uint8_t>(width * height));
    std::vector<uint8_t>& line = d.line;
    line.assign(width * static_cast<size_t>(channels), 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        const size_t y = cinfo.output_scanline;
        JSAMPROW row = line.data();
        jpeg_read_scanlines(&cinfo, &row, 1);
        for (size_t x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                out->planes[static_cast<size_t>(c)][y * width + x] =
                    line[x * static_cast<size_t>(channels) + static_cast<size_t>(c)];
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> jpegStripPrivateMarkers(const uint8_t* data, size_t length) {
    std::vector<uint8_t> out;
    if (data == nullptr) return out;
    out.reserve(length);
    size_t i = 0;
    while (i < length) {
        const uint8_t b = data[i++];
        if (b != 0xFF) {
            out.push_back(b);
            continue;
        }
        // Skip fill bytes: a run of 0xFF before the byte that says what this is.
        while (i < length && data[i] == 0xFF)
            ++i;
        if (i == length) break;  // dangling fill at the end
        const uint8_t code = data[i++];
        if (code == 0x2B || code == 0x2C) continue;  // private quantiser switch
        out.push_back(0xFF);
        out.push_back(code);  // stuffed zero, RSTn or any other marker, unchanged
    }
    return out;
}

std::vector<uint8_t> jpegWrapBandStream(const uint8_t* data, size_t length, uint32_t width,
                                        uint32_t height, bool color) {
    std::vector<uint8_t> out;
    const uint32_t mcuWidth = color ? 16 : 8;
    if (width == 0 || height == 0 || width > 65535 || height > 65535 || width % mcuWidth != 0) {
        return out;
    }
    const StandardTables& k = standardTables();
    out.reserve(length + 700);

    putMarker(out, 0xD8);  // SOI

    putMarker(out, 0xE0);  // APP0 JFIF 1.01, aspect ratio 1:1
    put16(out, 16);
    for (char c : {'J', 'F', 'I', 'F', '\0'})
        out.push_back(static_cast<uint8_t>(c));
    out.push_back(1);
    out.push_back(1);
    out.push_back(0);  // units: none
    put16(out, 1);
    put16(out, 1);
    out.push_back(0);  // no thumbnail
    out.push_back(0);

    putMarker(out, 0xDB);  // DQT: tables 0 and 1, 8-bit, every entry 1
    put16(out, 2 + 2 * 65);
    for (uint8_t id = 0; id < 2; ++id) {
        out.push_back(id);
        out.insert(out.end(), 64, 1);
    }

    putMarker(out, 0xC0);  // SOF0
    const int components = color ? 3 : 1;
    put16(out, static_cast<unsigned>(8 + 3 * components));
    out.push_back(8);
    put16(out, height);
    put16(out, width);
    out.push_back(static_cast<uint8_t>(components));
    if (color) {
        // Identifier, sampling H/V, quantisation table.
        const uint8_t frameComponents[3][3] = {{1, 0x21, 0}, {2, 0x11, 1}, {3, 0x11, 1}};
        for (const auto& c : frameComponents)
            out.insert(out.end(), c, c + 3);
    } else {
        const uint8_t component[3] = {1, 0x11, 0};
        out.insert(out.end(), component, component + 3);
    }

    putMarker(out, 0xC4);  // DHT: all four tables in one segment
    const int tables = color ? 4 : 2;
    unsigned dhtLength = 2;
    for (int t = 0; t < tables; ++t)
        dhtLength += 17 + static_cast<unsigned>(k.count[t]);
    put16(out, dhtLength);
    const uint8_t classAndId[4] = {0x00, 0x10, 0x01, 0x11};
    for (int t = 0; t < tables; ++t) {
        putHuffmanTable(out, classAndId[t], k.bits[t], k.values[t], k.count[t]);
    }

    putMarker(out, 0xDD);  // DRI: one restart interval per band of 8 lines
    put16(out, 4);
    put16(out, width / mcuWidth);

    putMarker(out, 0xDA);  // SOS: all components, full spectral range
    put16(out, static_cast<unsigned>(6 + 2 * components));
    out.push_back(static_cast<uint8_t>(components));
    if (color) {
        // Identifier, DC / AC table.
        const uint8_t scanComponents[3][2] = {{1, 0x00}, {2, 0x11}, {3, 0x11}};
        for (const auto& c : scanComponents)
            out.insert(out.end(), c, c + 2);
    } else {
        out.push_back(1);
        out.push_back(0x00);
    }
    out.push_back(0);   // Ss
    out.push_back(63);  // Se
    out.push_back(0);   // Ah, Al

    const std::vector<uint8_t> scan = jpegStripPrivateMarkers(data, length);
    out.insert(out.end(), scan.begin(), scan.end());

    putMarker(out, 0xD9);  // EOI
    return out;
}

namespace {

// Runs one libjpeg read of `jpeg` into `out` with the common checks: a result
// is either complete or reset, and a failure leaves its reason in `diag`.
template <class Result, class Read>
bool runDecoder(const uint8_t* jpeg, size_t length, Result* out, JpegDiagnostics* diag, Read read) {
    if (diag != nullptr) *diag = JpegDiagnostics{};
    if (out == nullptr) return false;
    *out = Result{};
    if (jpeg == nullptr || length == 0) {
        if (diag != nullptr) diag->message = "no data";
        return false;
    }
    Decoder d(diag);
    const bool ok = read(d);
    if (!ok) {
        *out = Result{};
        if (diag != nullptr) diag->message = d.err.fatal;
    }
    return ok;
}

}  // namespace

bool jpegReadCoefficients(const uint8_t* jpeg, size_t length, JpegCoefficients* out,
                          JpegDiagnostics* diag) {
    return runDecoder(jpeg, length, out, diag,
                      [&](Decoder& d) { return readCoefficients(d, jpeg, length, out); });
}

bool jpegDecodePixels(const uint8_t* jpeg, size_t length, JpegPixelFormat format, JpegImage* out,
                      JpegDiagnostics* diag) {
    return runDecoder(jpeg, length, out, diag,
                      [&](Decoder& d) { return decodePixels(d, jpeg, length, format, out); });
}
