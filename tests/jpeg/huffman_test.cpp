// The entropy coder: code tables, bit writer, markers, capacity, decoder.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "compress/huffman.h"
#include "compress/huffmancodec.h"
#include "jpeg_helpers.h"

using jpegtest::codedBits;

namespace {

constexpr uint8_t kCanary = 0xAA;

// A coder writing into a buffer with a canary tail past its capacity.
struct Writer {
    HuffmanState s;
    std::vector<uint8_t> buf;
    int32_t capacity;

    explicit Writer(int32_t cap = 512, bool stuffing = true) : capacity(cap) {
        setHuffman(&s);
        EXPECT_EQ(initialize(&s), 0);
        buf.assign(static_cast<size_t>(cap) + 16, kCanary);
        outputBuffer(buf.data(), cap, &s);
        if (stuffing) setByteStuffing(&s);
    }
    std::vector<uint8_t> finish() {
        int32_t length = -1;
        finishEncoding(&length, &s);
        for (size_t i = static_cast<size_t>(capacity); i < buf.size(); ++i) {
            EXPECT_EQ(buf[i], kCanary);
        }
        return {buf.begin(), buf.begin() + length};
    }
};

std::string codeOf(const CodecEntry& e) {
    std::string bits;
    for (int i = e.length - 1; i >= 0; --i)
        bits += ((e.code >> i) & 1) != 0 ? '1' : '0';
    return bits;
}

}  // namespace

TEST(HuffmanTables, AnnexKCodesAndCategories) {
    HuffmanState s;
    setHuffman(&s);
    ASSERT_EQ(initialize(&s), 0);
    EXPECT_EQ(s.categoryOf[0], 0);
    EXPECT_EQ(s.categoryOf[3], 2);
    EXPECT_EQ(s.categoryOf[1023], 10);
    EXPECT_EQ(s.categoryOf[1024], 11);
    const CodecTable& l = s.lumCodes;
    const CodecTable& c = s.chromCodes;
    EXPECT_EQ(codeOf(l.dc[0]), "00");  // Table K.3
    EXPECT_EQ(codeOf(l.dc[6]), "1110");
    EXPECT_EQ(codeOf(l.dc[11]), "111111110");
    EXPECT_EQ(codeOf(c.dc[3]), "110");  // Table K.4
    EXPECT_EQ(codeOf(c.dc[11]), "11111111110");
    EXPECT_EQ(codeOf(l.ac[codecCodeIndex(0x00)]), "1010");  // Table K.5
    EXPECT_EQ(codeOf(l.ac[codecCodeIndex(0x11)]), "1100");
    EXPECT_EQ(codeOf(l.ac[codecCodeIndex(0xF0)]), "11111111001");
    EXPECT_EQ(codeOf(l.ac[codecCodeIndex(0x0A)]), "1111111110000011");
    EXPECT_EQ(codeOf(c.ac[codecCodeIndex(0x00)]), "00");  // Table K.6
    EXPECT_EQ(codeOf(c.ac[codecCodeIndex(0xF0)]), "1111111010");
    EXPECT_EQ(codeOf(c.ac[codecCodeIndex(0xFA)]), "1111111111111110");
}

TEST(HuffmanTables, SymbolIndexCoversEveryBaselineSymbolOnce) {
    std::vector<int> seen(162, 0);
    for (int rs = 0; rs < 256; ++rs) {
        const int32_t index = codecCodeIndex(rs);
        const int size = rs & 15;
        ASSERT_EQ(index >= 0, rs == 0x00 || rs == 0xF0 || (size >= 1 && size <= 10)) << rs;
        if (index < 0) continue;
        seen[static_cast<size_t>(index)]++;
        EXPECT_EQ(codecRSSymbol(index), rs);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 162);
    EXPECT_EQ(codecRSSymbol(162), -1);
}

TEST(HuffmanTables, BadTableDefinitionsAreRefusedWithoutReadingPastTheirArrays) {
    CodecTable t;
    const int32_t* dcBits = huffmanLuminanceDCCodes;
    const int32_t* dcValues = huffmanLuminanceDCCategory;
    const int32_t* acBits = huffmanLuminanceACCodes;
    std::array<int32_t, 162> values{};
    auto generate = [&](const int32_t* db, const int32_t* dv, const int32_t* ab) {
        return codecGenerateCodes(db, dv, ab, values.data(), &t);
    };
    std::copy_n(huffmanLuminanceRSValues, 162, values.begin());
    EXPECT_EQ(generate(nullptr, dcValues, acBits), 1542);
    EXPECT_EQ(generate(dcBits, dcValues, nullptr), 1543);
    EXPECT_EQ(codecGenerateCodes(dcBits, dcValues, acBits, nullptr, &t), 1544);
    values[5] = values[4];  // one AC symbol twice
    EXPECT_EQ(generate(dcBits, dcValues, acBits), 1539);
    EXPECT_EQ(t.ready, 0);
    values[5] = 0x0B;  // size 11 is not an AC symbol
    EXPECT_EQ(generate(dcBits, dcValues, acBits), 1539);
    std::copy_n(huffmanLuminanceRSValues, 162, values.begin());
    std::array<int32_t, 16> bits{};
    bits[15] = 200;  // more codes than the 162 values
    EXPECT_EQ(generate(dcBits, dcValues, bits.data()), 1538);
    bits = {3};  // three codes of length 1 cannot exist
    EXPECT_EQ(generate(dcBits, dcValues, bits.data()), 1538);
    std::array<int32_t, 16> dc{};
    dc[15] = 17;  // more DC codes than the 16 DC values
    EXPECT_EQ(generate(dc.data(), dcValues, acBits), 1537);
    std::copy_n(dcValues, 16, dc.begin());
    dc[2] = 16;
    EXPECT_EQ(generate(dcBits, dc.data(), acBits), 1537);

    int32_t code = 0;
    int32_t length = 0;
    EXPECT_EQ(codecDCCode(3, nullptr, &length, &t), 1545);
    EXPECT_EQ(codecDCCode(3, &code, nullptr, &t), 1546);
    EXPECT_EQ(codecDCCode(12, &code, &length, &t), 1540);
    EXPECT_EQ(codecACCode(0x0B, &code, &length, &t), 1539);
}

// Encoding rebuilds the codes before every band; the decoder lookups (two
// 65536-entry fills) must not be part of that.
TEST(HuffmanTables, DecoderLookupsAreBuiltOnlyWhenDecoding) {
    HuffmanState s;
    setHuffman(&s);
    ASSERT_EQ(initialize(&s), 0);
    EXPECT_EQ(s.lumCodes.lookups, nullptr);
    const std::vector<uint8_t> data = codedBits({"00"});
    decodeData(data.data(), static_cast<int32_t>(data.size()), &s);
    int32_t v = 7;
    EXPECT_EQ(decodeDCSymbol(&v, false, &s), 0);
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(s.lumCodes.lookupsBuilt);
    ASSERT_EQ(initialize(&s), 0);
    EXPECT_FALSE(s.lumCodes.lookupsBuilt);  // stale after new codes
}

TEST(HuffmanWriter, SymbolGoldens) {
    struct Case {
        const char* label;
        bool stuffing;
        std::vector<uint8_t> expected;
        int32_t (*write)(HuffmanState*);
    };
    const Case cases[] = {
        {"DC 0 is the 2-bit category-0 code", true, codedBits({"00"}),
         [](HuffmanState* s) { return dcSymbol(0, false, s); }},
        {"DC -1: category 1 then bit 0", true, codedBits({"010", "0"}),
         [](HuffmanState* s) { return dcSymbol(-1, false, s); }},
        {"DC +1: category 1 then bit 1", true, codedBits({"010", "1"}),
         [](HuffmanState* s) { return dcSymbol(1, false, s); }},
        {"DC 2047: category 11, stuffed 0xFF bytes", true, codedBits({"111111110", "11111111111"}),
         [](HuffmanState* s) { return dcSymbol(2047, false, s); }},
        {"DC -2047: amplitude of v - 1", true, codedBits({"111111110", "00000000000"}),
         [](HuffmanState* s) { return dcSymbol(-2047, false, s); }},
        {"chroma DC 5: category 3", true, codedBits({"110", "101"}),
         [](HuffmanState* s) { return dcSymbol(5, true, s); }},
        {"AC 0/A, 26 bits written in two parts", true,
         codedBits({"1111111110000011", "1111111111"}),
         [](HuffmanState* s) { return acSymbol(0, 1023, false, s); }},
        {"AC 1/1 -1", true, codedBits({"1100", "0"}),
         [](HuffmanState* s) { return acSymbol(1, -1, false, s); }},
        {"ZRL then EOB", true, codedBits({"11111111001", "1010"}),
         [](HuffmanState* s) { return zrlSymbol(false, s) | eobSymbol(false, s); }},
        {"flush of 101 pads with 1-bits",
         true,
         {0xBF},
         [](HuffmanState* s) { return outputBits(5, 3, s); }},
        {"flush with nothing pending writes nothing",
         true,
         {},
         [](HuffmanState* s) { return flushOutput(s); }},
        {"data 0xFF stuffed",
         true,
         {0xFF, 0x00},
         [](HuffmanState* s) { return outputBits(0xFF, 8, s); }},
        {"data 0xFF unstuffed with stuffing off",
         false,
         {0xFF},
         [](HuffmanState* s) { return outputBits(0xFF, 8, s); }},
    };
    for (const Case& c : cases) {
        Writer w(512, c.stuffing);
        EXPECT_EQ(c.write(&w.s), 0) << c.label;
        EXPECT_EQ(w.finish(), c.expected) << c.label;
    }
}

TEST(HuffmanWriter, OutOfRangeValuesWriteNothing) {
    Writer w;
    w.s.coefPosition = 9;
    EXPECT_EQ(dcSymbol(2048, false, &w.s), kHuffValueTooLarge);
    EXPECT_EQ(dcSymbol(-2048, false, &w.s), kHuffValueTooLarge);
    EXPECT_EQ(w.s.coefPosition, 9);
    EXPECT_EQ(acSymbol(0, 2048, false, &w.s), kHuffValueTooLarge);
    EXPECT_EQ(acSymbol(0, 2047, false, &w.s), kCodecBadACSymbol);  // size 11 is DC only
    EXPECT_EQ(acSymbol(16, 1, false, &w.s), kCodecBadACSymbol);
    EXPECT_TRUE(w.finish().empty());
}

TEST(HuffmanWriter, MarkersArePaddedAndUnstuffed) {
    Writer w;
    outputBits(1, 1, &w.s);
    EXPECT_EQ(restartMarker(&w.s), 0);
    EXPECT_TRUE(queryByteStuffing(&w.s));
    // "1" padded with 1s is a data 0xFF (stuffed); the marker is not stuffed.
    EXPECT_EQ(w.finish(), (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0xD0}));

    Writer cycle;
    for (int i = 0; i < 9; ++i)
        restartMarker(&cycle.s);
    const std::vector<uint8_t> rst = cycle.finish();
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(rst[2 * i + 1], 0xD0 + i % 8);

    Writer pad;
    outputBits(0x16, 5, &pad.s);  // 10110
    EXPECT_EQ(quantizationTableMarkerPad(true, &pad.s), 0);
    EXPECT_EQ(quantizationTableMarker(false, &pad.s), 0);
    std::vector<uint8_t> expected{0xB7};
    expected.insert(expected.end(), 20, 0xFF);
    expected.insert(expected.end(), {0xFF, 0x2B, 0xFF, 0x2C});
    EXPECT_EQ(pad.finish(), expected);
}

// Regression: a 0xFF that did not fit with its stuffing zero let a later
// byte slip into the last free place.
TEST(HuffmanWriter, FullBufferRefusesLaterBytes) {
    Writer none(0);
    EXPECT_EQ(outputBits(0, 7, &none.s), 0);
    EXPECT_EQ(outputBits(0, 1, &none.s), kHuffOutputFull);
    int32_t length = -1;
    EXPECT_EQ(finishEncoding(&length, &none.s), kHuffOutputFull);
    EXPECT_EQ(length, 0);

    Writer one(1);
    EXPECT_EQ(outputBits(0xFF, 8, &one.s), kHuffOutputFull);
    EXPECT_EQ(outputBits(0x12, 8, &one.s), kHuffOutputFull);
    EXPECT_EQ(restartMarker(&one.s), kHuffOutputFull);
    EXPECT_TRUE(one.finish().empty());
}

// Regression: bits left over from a stream that ran out of room appeared at
// the head of the next stream.
TEST(HuffmanWriter, NewStreamDoesNotInheritUnwrittenBits) {
    Writer w(0);
    outputBits(0x12, 8, &w.s);
    std::vector<uint8_t> second(4, 0);
    outputBuffer(second.data(), 4, &w.s);
    outputBits(0x34, 8, &w.s);
    int32_t length = 0;
    EXPECT_EQ(finishEncoding(&length, &w.s), 0);
    ASSERT_EQ(length, 1);
    EXPECT_EQ(second[0], 0x34);
}

// At every capacity the output is a prefix of the unlimited output, never
// splits a stuffed pair and never touches a byte past the capacity.
TEST(HuffmanWriter, TightCapacitiesCutTheStreamWithoutOverrun) {
    auto writeAll = [](HuffmanState* s) {
        std::mt19937 rng(3);
        for (int i = 0; i < 600; ++i) {
            const auto v = static_cast<int32_t>(rng() % 1023) + 1;
            switch (rng() % 5) {
                case 0:
                    dcSymbol(rng() % 2 ? 2 * v : -v, i % 2 == 0, s);
                    break;
                case 1:
                    acSymbol(static_cast<int32_t>(rng() % 16), rng() % 2 ? v : -v, false, s);
                    break;
                case 2:
                    outputBits(0xFF, 8, s);
                    break;
                case 3:
                    eobSymbol(true, s);
                    break;
                default:
                    if (i % 40 == 0) quantizationTableMarker(i % 80 == 0, s);
                    if (i % 50 == 0) restartMarker(s);
            }
        }
    };
    Writer full(8192);
    writeAll(&full.s);
    const std::vector<uint8_t> reference = full.finish();
    ASSERT_GT(reference.size(), 600u);
    for (int32_t cap = 0; cap <= static_cast<int32_t>(reference.size()) + 2;
         cap += cap < 40 ? 1 : 7) {
        Writer w(cap);
        writeAll(&w.s);
        const std::vector<uint8_t> got = w.finish();  // checks the canary
        ASSERT_LE(got.size(), static_cast<size_t>(cap));
        ASSERT_TRUE(std::equal(got.begin(), got.end(), reference.begin())) << cap;
        if (!got.empty() && got.size() < reference.size()) {
            EXPECT_FALSE(got.back() == 0xFF && reference[got.size()] == 0x00) << cap;
        }
    }
}

TEST(HuffmanWriter, TableExport) {
    HuffmanState s;
    setHuffman(&s);
    ASSERT_EQ(initialize(&s), 0);
    EXPECT_EQ(writeTables("/nonexistent-dir/tables.txt", &s), kHuffCannotOpenFile);
    const std::string path = std::string(QZ_BINARY_DIR) + "/huffman_tables_test.txt";
    ASSERT_EQ(writeTables(path.c_str(), &s), 0);
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 2u * (162 + 12 + 32 + 81 + 1));
    EXPECT_EQ(lines[0], "00007FFF");    // AC 0/1 = 00 left-aligned in 17 bits, 1s below
    EXPECT_EQ(lines[174], "00010000");  // no luminance AC code of length 1
    EXPECT_EQ(lines[206], "00000102");  // the first two AC values
}

// --- Decoder ------------------------------------------------------------------

TEST(HuffmanDecoder, ReadsBackRandomSymbolsAndQuantiserMarkers) {
    struct Symbol {
        int kind;  // 0 DC, 1 AC (run 16 = ZRL, -1 = EOB), 2 marker
        int32_t run, value;
        bool chroma;
    };
    std::mt19937 rng(11);
    std::vector<Symbol> symbols;
    Writer w(1 << 16);
    for (int i = 0; i < 3000; ++i) {
        const bool chroma = i % 3 != 0;
        const auto mag = static_cast<int32_t>(rng() % 1023) + 1;
        const int32_t v = rng() % 2 ? mag : -mag;
        const auto run = static_cast<int32_t>(rng() % 16);
        switch (rng() % 8) {
            case 0:
                symbols.push_back({0, 0, 2 * v, chroma});
                dcSymbol(2 * v, chroma, &w.s);
                break;
            case 1:
                symbols.push_back({1, 16, 0, chroma});
                zrlSymbol(chroma, &w.s);
                break;
            case 2:
                symbols.push_back({1, -1, 0, chroma});
                eobSymbol(chroma, &w.s);
                break;
            case 3:
                symbols.push_back({2, 0, v & 1, chroma});
                quantizationTableMarker(v & 1, &w.s);
                break;
            default:
                symbols.push_back({1, run, v, chroma});
                acSymbol(run, v, chroma, &w.s);
        }
    }
    const std::vector<uint8_t> stream = w.finish();

    HuffmanState d;
    setHuffman(&d);
    ASSERT_EQ(initialize(&d), 0);
    setByteStuffing(&d);
    ASSERT_EQ(decodeData(stream.data(), static_cast<int32_t>(stream.size()), &d), 0);
    for (size_t i = 0; i < symbols.size(); ++i) {
        const Symbol& s = symbols[i];
        // Between symbols a marker is found exactly where one was written.
        ASSERT_EQ(checkForFlush(&d), s.kind == 2 ? 1 : 0) << i;
        int32_t run = 0;
        int32_t value = 0;
        if (s.kind == 2) {
            EXPECT_EQ(d.quantMarkerFlat, s.value == 1) << i;
        } else if (s.kind == 0) {
            ASSERT_EQ(decodeDCSymbol(&value, s.chroma, &d), 0) << i;
            ASSERT_EQ(value, s.value) << i;
        } else {
            ASSERT_EQ(decodeACSymbol(&run, &value, s.chroma, &d), 0) << i;
            ASSERT_EQ(run, s.run) << i;
            ASSERT_EQ(value, s.value) << i;
        }
    }
}

// Every prefix of a stream, and random bytes, are read to an error without
// touching a byte outside the input (each input sits in its own exact-size
// allocation, so the sanitizer sees any over-read).
TEST(HuffmanDecoder, TruncatedAndGarbageInputStayInBounds) {
    Writer w;
    for (int i = 0; i < 40; ++i) {
        dcSymbol(i * 37 - 700, false, &w.s);
        acSymbol(i % 16, i * 23 - 400, false, &w.s);
        if (i % 9 == 0) quantizationTableMarkerPad(i % 2 == 0, &w.s);
        outputBits(0xFF, 8, &w.s);
        eobSymbol(false, &w.s);
    }
    const std::vector<uint8_t> stream = w.finish();
    auto readAll = [](const std::vector<uint8_t>& bytes) {
        HuffmanState d;
        setHuffman(&d);
        initialize(&d);
        setByteStuffing(&d);
        decodeData(bytes.data(), static_cast<int32_t>(bytes.size()), &d);
        int32_t result = 0;
        for (int n = 0; n < 2000 && result == 0; ++n) {
            int32_t run = 0;
            int32_t value = 0;
            checkForFlush(&d);
            result = n % 3 == 0 ? decodeDCSymbol(&value, false, &d)
                                : decodeACSymbol(&run, &value, false, &d);
        }
        return result;
    };
    for (size_t n = 0; n <= stream.size(); ++n) {
        const std::vector<uint8_t> prefix(stream.begin(),
                                          stream.begin() + static_cast<ptrdiff_t>(n));
        const int32_t r = readAll(prefix);
        EXPECT_TRUE(r == kHuffInputExhausted || r == kCodecNoMatch) << n << " " << r;
    }
    std::mt19937 rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> garbage(rng() % 64);
        for (uint8_t& b : garbage)
            b = rng() % 4 == 0 ? 0xFF : static_cast<uint8_t>(rng());
        readAll(garbage);
    }
}
