// The raster child: the spooler's pdftoraster, run with its output on a pipe
// that becomes the filter's standard input.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

enum class CopyResult { kCopied, kFailed, kCancelled };

// Copies all of standard input into a new temporary file whose path is put in
// `name` (`size` bytes).  Partial writes are continued; a read or write error
// (a full disk, say) is reported, the file is removed and kFailed returned.
// The wait for input looks at `stopRequested` at least every 20 ms; when it
// turns true the file is removed and kCancelled returned.
CopyResult copyInputToTempFile(char* name, size_t size, bool (*stopRequested)() = nullptr);

// The value GLIBC_TUNABLES gets in the child's environment, `current` being
// ours (null when unset) and `hugePageBytes` the system's transparent huge
// page size (0 for none); empty when it is to stay as it is.  The renderer
// allocates a page-sized bitmap for every page and frees it again: with small
// memory pages that costs tens of thousands of page faults and TLB misses a
// page, most of its time.  Asking its allocator for transparent huge pages,
// where the system gives them on request, renders the same raster several
// times faster.  Only huge pages of at most kMaxHugePageBytes are asked for.
// A setting of the admin's (glibc.malloc.hugetlb, 0 or 1) is kept, and other
// tunables are kept beside ours.
inline constexpr uint64_t kMaxHugePageBytes = 2 * 1024 * 1024;
std::string rasterChildTunables(const char* current, uint64_t hugePageBytes);

// Forks and runs `childPath` with the argument list argv[0..5] followed by
// `inputPath`, its standard output on a pipe whose read end replaces the
// filter's standard input, its environment ours with the tunables above.
// On failure reports it and returns -1.
pid_t startRasterChild(const char* childPath, char* const argv[], const char* inputPath);

enum class ChildEnd {
    kSucceeded,  // exited with status 0
    kExpected,   // ended as it had to after we stopped reading (cancel, banner page)
    kFailed,     // a non-zero exit, a signal, or no end at all
};

// Collects the child.  When the filter stopped reading early on purpose
// (`stoppedEarly`), its end by a signal or an error is expected and the wait
// is short; otherwise a failure is reported with an "ERROR: " line.  A child
// that does not end in time is killed.  Standard input must already be closed,
// so that a child still writing sees the pipe break.  A cancelled job
// (`cancelled`, which counts as stopped early) passes the SIGTERM on to the
// child at once and kills it when it is not gone within half a second, so a
// child stuck anywhere cannot hold the job.
ChildEnd reapRasterChild(pid_t pid, bool stoppedEarly, bool cancelled = false);
