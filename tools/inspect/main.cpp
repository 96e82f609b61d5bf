// quenzel-inspect: shows what a printer job stream holds, page by page, and
// checks it against what the filter must send.
//
//   quenzel-inspect JOB [--json] [--png DIR] [--raster RASTER] [--copies N]
//                       [--duplex] [--min-psnr DB]
//
// Exit status: 0 the job is well-formed (and matches the raster, when one is
// given); 1 the job is malformed; 2 usage or file error; 3 the job is
// well-formed but its page sides do not match the raster.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/inspect/inspect.h"
#include "tools/inspect/pngout.h"
#include "tools/inspect/rastercmp.h"
#include "tools/inspect/report.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMismatch = 3;

constexpr const char* kUsage =
    "usage: quenzel-inspect JOB [--json] [--png DIR] [--raster RASTER] [--copies N] [--duplex]\n"
    "                       [--min-psnr DB] [--png-scale N]\n"
    "  JOB            printer job stream (file, or - for standard input)\n"
    "  --json         print the report as JSON\n"
    "  --png DIR      write each printed page side as DIR/page-001.png, ...\n"
    "  --raster FILE  compare the page sides with this CUPS raster\n"
    "  --copies N     uncollated copies the job was printed with (default 1)\n"
    "  --duplex       the job was printed in duplex\n"
    "  --min-psnr DB  smallest PSNR that counts as a match (default 30)\n"
    "  --png-scale N  write the PNGs N times smaller (1 to 16, default 1)\n"
    "exit status: 0 well-formed, 1 malformed, 2 usage or file error, 3 raster mismatch\n";

struct Args {
    std::string job;
    bool json = false;
    std::string pngDir;
    std::string raster;
    int copies = 1;
    bool duplex = false;
    double minPsnr = 30.0;
    int pngScale = 1;
};

bool parseArgs(int argc, char** argv, Args& args) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto operand = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quenzel-inspect: %s needs %s\n", a.c_str(), what);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--json") {
            args.json = true;
        } else if (a == "--duplex") {
            args.duplex = true;
        } else if (a == "--png") {
            const char* v = operand("a folder");
            if (!v) return false;
            args.pngDir = v;
        } else if (a == "--raster") {
            const char* v = operand("a file");
            if (!v) return false;
            args.raster = v;
        } else if (a == "--copies") {
            const char* v = operand("a number");
            if (!v) return false;
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || n < 1 || n > 9999) {
                std::fprintf(stderr, "quenzel-inspect: --copies needs a number from 1 to 9999\n");
                return false;
            }
            args.copies = static_cast<int>(n);
        } else if (a == "--min-psnr") {
            const char* v = operand("a number");
            if (!v) return false;
            char* end = nullptr;
            args.minPsnr = std::strtod(v, &end);
            if (*v == '\0' || *end != '\0') {
                std::fprintf(stderr, "quenzel-inspect: --min-psnr needs a number\n");
                return false;
            }
        } else if (a == "--png-scale") {
            const char* v = operand("a number");
            if (!v) return false;
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || n < 1 || n > 16) {
                std::fprintf(stderr, "quenzel-inspect: --png-scale needs a number from 1 to 16\n");
                return false;
            }
            args.pngScale = static_cast<int>(n);
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(kExitOk);
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "quenzel-inspect: unknown option %s\n", a.c_str());
            return false;
        } else if (args.job.empty()) {
            args.job = a;
        } else {
            std::fprintf(stderr, "quenzel-inspect: more than one job given\n");
            return false;
        }
    }
    if (args.job.empty()) {
        std::fprintf(stderr, "quenzel-inspect: no job given\n");
        return false;
    }
    return true;
}

bool readAll(const std::string& path, std::vector<uint8_t>& data) {
    FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> chunk(1 << 20);
    bool ok = true;
    while (true) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
        data.insert(data.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(n));
        if (n < chunk.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    if (f != stdin) std::fclose(f);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    if (!parseArgs(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::vector<uint8_t> job;
    if (!readAll(args.job, job)) {
        std::fprintf(stderr, "quenzel-inspect: cannot read %s: %s\n", args.job.c_str(),
                     std::strerror(errno));
        return kExitUsage;
    }
    bool fileError = false;
    if (!args.pngDir.empty() && ::mkdir(args.pngDir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "quenzel-inspect: cannot create %s: %s\n", args.pngDir.c_str(),
                     std::strerror(errno));
        return kExitUsage;
    }
    std::unique_ptr<inspect::RasterComparer> comparer;
    if (!args.raster.empty()) {
        comparer = std::make_unique<inspect::RasterComparer>(args.raster, args.copies, args.duplex,
                                                             args.minPsnr);
        if (!comparer->open()) fileError = true;
    }

    inspect::InspectOptions options;
    if (!args.pngDir.empty() || comparer) {
        options.onPage = [&](size_t index, const inspect::PageInfo&,
                             const inspect::PageImage& image) {
            if (!args.pngDir.empty() && image.width != 0) {
                char name[32];
                std::snprintf(name, sizeof name, "/page-%03zu.png", index + 1);
                std::string message;
                const bool ok =
                    args.pngScale > 1
                        ? inspect::writePng(args.pngDir + name,
                                            inspect::downscale(image, args.pngScale), message)
                        : inspect::writePng(args.pngDir + name, image, message);
                if (!ok) {
                    std::fprintf(stderr, "quenzel-inspect: %s\n", message.c_str());
                    fileError = true;
                }
            }
            if (comparer) comparer->compare(index, image);
        };
    }
    const inspect::InspectResult result = inspect::inspectJob(job, options);
    const inspect::RasterComparison* comparison = nullptr;
    if (comparer) comparison = &comparer->finish(result.pages.size());

    const std::string name = args.job;
    const std::string report = args.json ? inspect::jsonReport(name, result, comparison)
                                         : inspect::textReport(name, result, comparison);
    std::fwrite(report.data(), 1, report.size(), stdout);

    if (fileError) return kExitUsage;
    if (!result.ok()) return kExitMalformed;
    if (comparison && !comparison->ok()) return kExitMismatch;
    return kExitOk;
}
