// Helpers for reading what a filter run printed and logged, shared by the
// whole-filter tests: the PJL job framing, text search and counting, the date
// mask for comparing jobs, and a small job to run.
// Header only: unit tests that need only the text helpers do not link the
// harness.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/harness/filter_run.h"
#include "tests/harness/raster.h"

namespace harness {

// PJL's universal exit language command: opens and closes every job.
inline const std::string kUel = "\x1b%-12345X";

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// How often `part` occurs in `text` (overlapping occurrences count).
inline size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

inline std::string outText(const FilterRun& r) {
    return std::string(r.out.begin(), r.out.end());
}

// The job ends with EndSession and the PJL trailer.
inline bool endsWithTrailer(const FilterRun& r) {
    const std::string tail = std::string("\x49\x42") + kUel + "@PJL EOJ\n@PJL LPORTROTATE\n" + kUel;
    const std::string out = outText(r);
    return out.size() >= tail.size() &&
           out.compare(out.size() - tail.size(), tail.size(), tail) == 0;
}

// The job with the value of its "@PJL SET FDATETIME=" line (the only part that
// changes from run to run) replaced by "X", so that two runs compare equal.
// The line is looked for in the PJL header, the first 4096 bytes; a job
// without it, or whose line does not end there, is returned as it is.  The
// golden hashes are taken over this form: keep it byte for byte.
inline std::vector<uint8_t> maskDate(std::vector<uint8_t> job) {
    static const std::string key = "@PJL SET FDATETIME=";
    const std::string text(job.begin(), job.begin() + std::min<size_t>(job.size(), 4096));
    const size_t at = text.find(key);
    if (at == std::string::npos) return job;
    const size_t from = at + key.size();
    const size_t end = text.find('\n', from);
    if (end == std::string::npos) return job;
    job.erase(job.begin() + static_cast<std::ptrdiff_t>(from),
              job.begin() + static_cast<std::ptrdiff_t>(end));
    job.insert(job.begin() + static_cast<std::ptrdiff_t>(from), 'X');
    return job;
}

// The printed job as text, its date masked.
inline std::string maskedText(const FilterRun& r) {
    const std::vector<uint8_t> job = maskDate(r.out);
    return std::string(job.begin(), job.end());
}

// A small text page: 400 x 300 at 600 dpi, 360 000 raster bytes.
inline PageSpec smallPage() {
    PageSpec page;
    page.width = 400;
    page.height = 300;
    page.resX = page.resY = 600;
    page.pattern = Pattern::Text;
    return page;
}

// A job of `pages` small pages with a PDF on standard input, 60 s at most.
inline FilterRunOptions smallJob(int pages) {
    FilterRunOptions o;
    o.stdinBytes = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'};
    o.raster = RasterSpec::uniform(smallPage(), pages);
    o.timeout = std::chrono::seconds(60);
    return o;
}

}  // namespace harness
