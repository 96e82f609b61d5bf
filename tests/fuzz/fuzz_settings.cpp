// libFuzzer target: the job's option string, the copies argument and the page
// header through the job settings (custom page sizes included, with a PPD that
// has custom sizes), and the PJL header written from them.
//   fuzz_settings -max_total_time=60 seeds/settings
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/messages.h"
#include "printstream/jobstream.h"
#include "settings/jobsettings.h"
#include "settings/options.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string gPjl;

long capture(const uint8_t* bytes, uint32_t length) {
    gPjl.append(reinterpret_cast<const char*>(bytes), length);
    return static_cast<long>(length);
}

time_t fixedClock() {
    return 1700000000;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("PPD", QZ_FUZZ_PPD, 1);
    msgSetOutputFd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    setJobClock(fixedClock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A page header (as many bytes as the input has, the rest zero), then the
    // option string; the first text line is also read as the copies argument.
    cups_page_header2_t header{};
    size_t headerBytes = size < sizeof header ? size : sizeof header;
    std::memcpy(&header, data, headerBytes);
    std::string ticket(reinterpret_cast<const char*>(data) + headerBytes, size - headerBytes);
    ticket = ticket.substr(0, ticket.find('\0'));
    // The text fields of a real header always end in a NUL.
    header.MediaClass[sizeof header.MediaClass - 1] = '\0';
    header.MediaColor[sizeof header.MediaColor - 1] = '\0';
    header.MediaType[sizeof header.MediaType - 1] = '\0';
    header.OutputType[sizeof header.OutputType - 1] = '\0';
    header.cupsPageSizeName[sizeof header.cupsPageSizeName - 1] = '\0';
    header.cupsMarkerType[sizeof header.cupsMarkerType - 1] = '\0';
    header.cupsRenderingIntent[sizeof header.cupsRenderingIntent - 1] = '\0';

    std::string copiesText = ticket.substr(0, ticket.find(' '));
    int32_t copies = -1;
    if (parseCopies(copiesText.c_str(), &copies)) {
        fuzzCheck(copies >= kMinCopies && copies <= kMaxCopies);
    } else {
        fuzzCheck(copies == -1);
    }

    JobSetting record;
    collatedFlag_Prototype = 0;
    initializeJobSetting(&record, &header, ticket.c_str());
    fuzzCheck(record.mediaSizeKind >= kMediaSizeEnumerated &&
              record.mediaSizeKind <= kMediaSizeCustom);
    if (record.mediaSizeKind == kMediaSizeCustom) fuzzCheck(record.paddedPixW >= 0);
    if (record.mediaSizeKind == kMediaSizeNamed) {
        fuzzCheck(std::memchr(record.mediaSize.mediaSizeName, '\0', 64) != nullptr);
    }

    // The PJL header: every line one command, no quote of a value left open.
    gPjl.clear();
    writePjlHeader(capture, record, ticket.c_str(), copiesText.c_str(), false);
    size_t start = 0;
    for (size_t end; (end = gPjl.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = gPjl.substr(start, end - start);
        if (start > 0) fuzzCheck(line.rfind("@PJL ", 0) == 0);
        fuzzCheck(line.find('\x1b') == std::string::npos || start == 0);
        size_t quotes = 0;
        for (char c : line)
            quotes += c == '"';
        fuzzCheck(quotes % 2 == 0);
    }
    fuzzCheck(start == gPjl.size());
    return 0;
}
