// Random and mutated jobs through inspectJob(): it must never crash, never
// read out of bounds (run under ASan), keep its memory bounded, and call a
// damaged job malformed.
#include <gtest/gtest.h>

#include <random>

#include "tests/inspect/jobbuilder.h"
#include "tools/inspect/inspect.h"

using jobtest::operator+;
using jobtest::operator+=;

using jobtest::Bytes;

namespace {

// Inspects with page assembly on, so the decoders and the canvas take part.
inspect::InspectResult inspectAll(const Bytes& job) {
    inspect::InspectOptions options;
    options.maxPagePixels = 1 << 20;
    options.onPage = [](size_t, const inspect::PageInfo&, const inspect::PageImage& image) {
        ASSERT_EQ(image.pixels.size(),
                  size_t{image.width} * image.height * static_cast<size_t>(image.channels));
    };
    return inspect::inspectJob(job, options);
}

TEST(InspectFuzz, RandomBytesAreMalformed) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 300; ++i) {
        Bytes job(rng() % 2048);
        for (auto& b : job)
            b = static_cast<uint8_t>(rng());
        // Half of them start like a job so the reader gets further in.
        if (i % 2) {
            const Bytes head =
                jobtest::pjlHeader() + jobtest::streamHeader() + jobtest::sessionStart();
            job.insert(job.begin(), head.begin(), head.end());
        }
        const inspect::InspectResult r = inspectAll(job);
        EXPECT_FALSE(r.ok()) << "case " << i;
        EXPECT_LE(r.errors.size() + r.warnings.size(), 200u);
    }
}

TEST(InspectFuzz, MutatedJobsNeverCrash) {
    jobtest::JobOptions o;
    o.pages = 2;
    o.width = 48;
    o.rows = 24;
    const Bytes good = jobtest::whiteJob(o);
    ASSERT_TRUE(inspectAll(good).ok());
    jobtest::JobOptions g = o;
    g.color = false;
    const Bytes gray = jobtest::whiteJob(g);
    ASSERT_TRUE(inspectAll(gray).ok());

    std::mt19937 rng(7);
    size_t malformed = 0;
    const int runs = 3000;
    for (int i = 0; i < runs; ++i) {
        Bytes job = (i % 3 == 0) ? gray : good;
        const size_t at = rng() % job.size();
        switch (rng() % 5) {
            case 0:  // flip a few bytes
                for (unsigned k = 0, n = 1 + rng() % 4; k < n; ++k) {
                    job[rng() % job.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
                }
                break;
            case 1:  // absurd values: four 0xFF bytes
                for (size_t k = at; k < job.size() && k < at + 4; ++k)
                    job[k] = 0xFF;
                break;
            case 2: {  // insert random bytes
                Bytes junk(1 + rng() % 16);
                for (auto& b : junk)
                    b = static_cast<uint8_t>(rng());
                job.insert(job.begin() + static_cast<ptrdiff_t>(at), junk.begin(), junk.end());
                break;
            }
            case 3: {  // delete a range
                const size_t n = std::min<size_t>(1 + rng() % 32, job.size() - at);
                job.erase(job.begin() + static_cast<ptrdiff_t>(at),
                          job.begin() + static_cast<ptrdiff_t>(at + n));
                break;
            }
            default: {  // repeat a range
                const size_t n = std::min<size_t>(1 + rng() % 64, job.size() - at);
                const Bytes piece(job.begin() + static_cast<ptrdiff_t>(at),
                                  job.begin() + static_cast<ptrdiff_t>(at + n));
                job.insert(job.begin() + static_cast<ptrdiff_t>(at), piece.begin(), piece.end());
                break;
            }
        }
        const inspect::InspectResult r = inspectAll(job);
        malformed += !r.ok();
    }
    // Nearly every mutation breaks something the checker sees; a few land in
    // free text (the job name, the stream header comment) and stay valid.
    EXPECT_GT(malformed, runs * 9 / 10);
}

TEST(InspectFuzz, HostileSizesStayBounded) {
    const Bytes head = jobtest::pjlHeader() + jobtest::streamHeader() + jobtest::sessionStart() +
                       jobtest::pageBegin();
    // Label: an embedded length of 4 GB in a job of about 1 KB.
    Bytes job = head + jobtest::attrSint16Xy(0x4C, 0, 0) + jobtest::op(0x6B) + jobtest::op(0xB1) +
                Bytes{0xFA, 0xFF, 0xFF, 0xFF, 0xFF} + Bytes(600, 0x55);
    inspect::InspectResult r = inspectAll(job);
    EXPECT_FALSE(r.ok());
    bool found = false;
    for (const auto& e : r.errors)
        found = found || e.message.find("4294967295 bytes") != std::string::npos;
    EXPECT_TRUE(found);

    // Label: the largest image header with a few bytes of data, and an array
    // that claims 65535 elements.
    job = head + jobtest::image(0, 65520, 256, Bytes{0xFF, 0x2B, 0xFF, 0xD0}, Bytes{0xFF}) +
          Bytes{0xC8, 0xC1, 0xFF, 0xFF, 1, 2, 3};
    r = inspectAll(job);
    EXPECT_FALSE(r.ok());
}

}  // namespace
