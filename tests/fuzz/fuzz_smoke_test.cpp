// The fuzz entry on random bytes and on mutated well-formed answers, so the
// sanitizer build checks the readers' bounds on every CI run.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "tests/fuzz/fuzz_entry.h"
#include "tools/printersim/alertbuilder.h"
#include "tools/printersim/printersim.h"

namespace {

using printersim::Bytes;
using printersim::SimAlert;

std::vector<Bytes> seeds() {
    std::vector<Bytes> out;
    SimAlert detailed;
    detailed.details = {{1, "Paper jam"}, {2, "Open the rear cover"}};
    detailed.text1_4_9 = "Tray 2";
    for (uint8_t bits : {0x01, 0x02}) {
        printersim::AlertConfig c;
        c.alerts = {detailed, SimAlert::withText("Toner low")};
        c.classBits = bits;
        out.push_back(printersim::assembledResponse(c));
        for (int packets : {2, 3, 5}) {
            c.packets = packets;
            out.push_back(printersim::backChannelBytes(c));
        }
    }
    out.push_back(printersim::oirReplyPacket({{1, 3, {}, -1}, {2, 8, Bytes(20, 7), -1}}));
    return out;
}

void mutate(Bytes& b, std::mt19937& rng) {
    std::uniform_int_distribution<int> what(0, 5);
    int rounds = 1 + static_cast<int>(rng() % 4);
    for (int r = 0; r < rounds && !b.empty(); ++r) {
        size_t at = rng() % b.size();
        switch (what(rng)) {
            case 0:  // flip a byte
                b[at] = static_cast<uint8_t>(rng());
                break;
            case 1:  // cut the tail
                b.resize(at);
                break;
            case 2:  // insert bytes
                b.insert(b.begin() + static_cast<long>(at), rng() % 8, static_cast<uint8_t>(rng()));
                break;
            case 3:  // an extreme length field
                b[at] = 0xFF;
                if (at + 1 < b.size()) b[at + 1] = 0xFF;
                break;
            case 4:  // a zero length field
                b[at] = 0x00;
                if (at + 1 < b.size()) b[at + 1] = 0x00;
                break;
            default:  // a width digit in the header text
                b[at] = static_cast<uint8_t>('0' + rng() % 10);
                break;
        }
    }
}

TEST(StatusFuzzSmoke, RandomBytes) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        Bytes b(rng() % 1300);
        for (uint8_t& x : b)
            x = static_cast<uint8_t>(rng());
        if (!b.empty() && i % 3 == 0) b[rng() % b.size()] = 0xA5;
        fuzzStatusInput(b.data(), b.size());
    }
}

TEST(StatusFuzzSmoke, MutatedAnswers) {
    std::mt19937 rng(7);
    std::vector<Bytes> base = seeds();
    for (int i = 0; i < 30000; ++i) {
        Bytes b = base[static_cast<size_t>(i) % base.size()];
        mutate(b, rng);
        fuzzStatusInput(b.data(), b.size());
    }
}

TEST(StatusFuzzSmoke, SeedsParse) {
    for (const Bytes& b : seeds())
        fuzzStatusInput(b.data(), b.size());
}

}  // namespace

namespace {

// Regression (found by fuzzing): containers whose length is shorter than their
// contents made the alert parser walk them again at every level, taking
// exponential time; this 484-byte answer held the status thread for half an
// hour.  The walk is now bounded by the block's size.
TEST(StatusFuzzSmoke, RegressionShortNestedContainersEndQuickly) {
    std::ifstream in(QZ_FUZZ_SEEDS_DIR "/status/regression-short-nested-containers.bin",
                     std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(b.size(), 484u);
    fuzzStatusInput(b.data(), b.size());
}

}  // namespace
