// qz-pageseq: names the document page on each printed side of a job.
//
//   qz-pageseq JOB REFERENCE [--min-psnr DB] [--step N]
//
// JOB is a printer job stream, REFERENCE a CUPS raster of the document
// printed once.  Prints one line: a token per printed side ("1", "2", ...
// for document pages, "W" for a white side, "?" for none), separated by
// blanks.  Exit status: 0 the job is well-formed, 1 it is malformed (the
// problems go to standard error), 2 usage or file error.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/cups/pageseq.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;

int usage() {
    std::fputs("usage: qz-pageseq JOB REFERENCE [--min-psnr DB] [--step N]\n", stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    double minPsnr = 30.0;
    int step = 4;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--min-psnr" && i + 1 < argc) {
            minPsnr = std::atof(argv[++i]);
        } else if (a == "--step" && i + 1 < argc) {
            step = std::atoi(argv[++i]);
        } else if (!a.empty() && a[0] == '-') {
            return usage();
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2 || step < 1) return usage();

    std::vector<pageseq::RefPage> refs;
    std::string message;
    if (!pageseq::readReference(files[1], step, refs, message)) {
        std::fprintf(stderr, "qz-pageseq: %s\n", message.c_str());
        return kExitUsage;
    }
    std::ifstream in(files[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "qz-pageseq: cannot read %s\n", files[0].c_str());
        return kExitUsage;
    }
    const std::vector<uint8_t> job((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());

    std::string line;
    inspect::InspectOptions options;
    options.onPage = [&](size_t, const inspect::PageInfo&, const inspect::PageImage& image) {
        if (!line.empty()) line += ' ';
        line += pageseq::identify(refs, image, minPsnr);
    };
    const inspect::InspectResult result = inspect::inspectJob(job, options);
    std::printf("%s\n", line.c_str());
    for (const inspect::Issue& issue : result.errors)
        std::fprintf(stderr, "qz-pageseq: at %llu: %s\n",
                     static_cast<unsigned long long>(issue.offset), issue.message.c_str());
    return result.ok() ? kExitOk : kExitMalformed;
}
