// A page side kept as coded bytes for its copies: in memory, spilled to a
// file past its share, and sent again whole or cut at an image boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "filter/copies.h"

namespace {

std::vector<uint8_t> gSent;
int64_t capture(const uint8_t* data, uint32_t length) {
    gSent.insert(gSent.end(), data, data + length);
    return length;
}

// A recorded page: an opening, `images` images of varied sizes, a closing.
struct Recorded {
    std::vector<uint8_t> opening, closing;
    std::vector<std::vector<uint8_t>> images;
};

Recorded record(CodedRecording& rec, int images, uint32_t seed) {
    std::mt19937 rng(seed);
    auto bytes = [&](size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v)
            b = static_cast<uint8_t>(rng());
        return v;
    };
    Recorded r;
    rec.begin();
    r.opening = bytes(100);
    rec.append(r.opening.data(), r.opening.size());
    rec.markImageBoundary();
    for (int i = 0; i < images; ++i) {
        r.images.push_back(bytes(50000 + rng() % 300000));
        // Appended in uneven pieces, as the PCL XL writers do.
        for (size_t at = 0; at < r.images.back().size();) {
            const size_t n = std::min<size_t>(1 + rng() % 70000, r.images.back().size() - at);
            rec.append(r.images.back().data() + at, n);
            at += n;
        }
        rec.markImageBoundary();
    }
    rec.markPageEnd();
    r.closing = bytes(7);
    rec.append(r.closing.data(), r.closing.size());
    rec.finish();
    return r;
}

TEST(CodedRecording, SendsTheSameBytesFromMemoryOrSpilledAndStopsAtAnImage) {
    for (const size_t memory : {size_t{64} << 20, size_t{300} << 10, size_t{0}}) {
        SCOPED_TRACE(memory);
        CodedRecording rec(memory);
        const Recorded r = record(rec, 6, static_cast<uint32_t>(memory));
        ASSERT_TRUE(rec.usable());
        EXPECT_EQ(rec.spilled(), memory < rec.size());

        std::vector<uint8_t> whole = r.opening;
        for (const auto& image : r.images)
            whole.insert(whole.end(), image.begin(), image.end());
        whole.insert(whole.end(), r.closing.begin(), r.closing.end());
        for (int pass = 0; pass < 2; ++pass) {  // a recording is sent again and again
            gSent.clear();
            EXPECT_TRUE(rec.replay(capture, [] { return false; }));
            EXPECT_TRUE(gSent == whole);
        }

        // Told to stop before the third image: two images, then the closing.
        int asked = 0;
        gSent.clear();
        EXPECT_TRUE(rec.replay(capture, [&] { return ++asked > 2; }));
        std::vector<uint8_t> cut = r.opening;
        cut.insert(cut.end(), r.images[0].begin(), r.images[0].end());
        cut.insert(cut.end(), r.images[1].begin(), r.images[1].end());
        cut.insert(cut.end(), r.closing.begin(), r.closing.end());
        EXPECT_TRUE(gSent == cut);

        rec.clear();
        EXPECT_FALSE(rec.usable());
        gSent.clear();
        EXPECT_FALSE(rec.replay(capture, [] { return false; }));
        EXPECT_TRUE(gSent.empty());
    }
}

}  // namespace
