// Access to the printer's PPD file.  Every call into libcups' PPD functions
// lives in ppd.cpp (they are deprecated upstream, and that one file is built
// without the deprecation warning); the rest of the module asks through here.
#pragma once

#include <cups/ppd.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

// Owns an opened PPD file and closes it when it goes out of scope.
struct PpdCloser {
    void operator()(ppd_file_t* ppd) const;
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

// Largest PPD file the filter reads (real ones stay well below 1 MiB).
inline constexpr size_t kMaxPpdBytes = size_t{16} << 20;

// Opens the PPD at `path`; an empty handle when `path` is null, the file is
// not a regular file (a FIFO, a device) or larger than kMaxPpdBytes, or it
// cannot be read or parsed.  Opening never blocks.
PpdFile openPpd(const char* path);

// The job's PPD, named by $PPD.  It is opened on the first call and shared by
// every later lookup of the job, so each lookup sees the same file; null when
// $PPD is unset or the file is unreadable (then every lookup finds nothing).
// resetJobPpd() (jobsettings.h) closes it.
ppd_file_t* jobPpd();

// True when the PPD has a UI option named `keyword`.
bool ppdHasOption(ppd_file_t* ppd, const char* keyword);

// The text of the default choice of option `keyword`, or nothing when the
// PPD (or the option) is absent.
std::optional<std::string> ppdOptionDefault(ppd_file_t* ppd, const char* keyword);

// A main keyword attribute (looked up with no spec string).
struct PpdAttribute {
    enum State { kAbsent, kNoValue, kValue };
    State state = kAbsent;
    std::string value;  // set for kValue only
};
PpdAttribute ppdAttribute(ppd_file_t* ppd, const char* name);
