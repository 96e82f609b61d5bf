// qz-fake-pdftoraster: stands in for the spooler's pdftoraster in tests.
//
// The tests link it into a temporary server folder as <dir>/filter/pdftoraster
// and point CUPS_SERVERBIN there.  Controlled by the environment:
//
//   QZ_FAKE_ARGS        append this run's argument list to the named file:
//                       one argument per line (newline and backslash escaped
//                       as \n and \\), then a line "--end--"
//   QZ_FAKE_INPUT_COPY  copy the input file (the last argument) to this path
//   QZ_FAKE_RASTER      copy this file to standard output (nothing when unset)
//   QZ_FAKE_DELAY_MS    sleep this long before each chunk of output ...
//   QZ_FAKE_CHUNK       ... of this many bytes (default 65536)
//
// Without a delay or a chunk size the raster goes out as cheaply as a file
// can be copied: the pipe is grown to 1 MiB and the file spliced into it (or
// sent with sendfile), so the stand-in costs the filter's benchmarks almost
// nothing.
//   QZ_FAKE_SIGNAL      after writing, kill ourselves with this signal
//   QZ_FAKE_EXIT        after writing, exit with this status (default 0)
//   QZ_FAKE_STDERR      write this text to standard error before anything
//                       else, and again after writing (as a filter's messages)
//   QZ_FAKE_SHOW_ENV    write "DEBUG: NAME=value" (or "DEBUG: NAME unset") to
//                       standard error for this variable NAME
//
// Exits 1 with a message on standard error when a named file cannot be used.
// A closed standard output ends the copy as it would end the real filter:
// SIGPIPE keeps its default action.
#include <fcntl.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return std::strtol(text, nullptr, 10);
}

bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::string escape(const char* arg) {
    std::string out;
    for (const char* p = arg; *p; ++p) {
        if (*p == '\\') {
            out += "\\\\";
        } else if (*p == '\n') {
            out += "\\n";
        } else {
            out += *p;
        }
    }
    return out;
}

bool recordArgs(const char* path, int argc, char** argv) {
    std::string record;
    for (int i = 0; i < argc; ++i)
        record += escape(argv[i]) + "\n";
    record += "--end--\n";
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = writeAll(fd, record.data(), record.size());
    return (::close(fd) == 0) && ok;
}

// Copies `from` to the file descriptor `to`; with a delay, sleeps before each chunk.
bool copyFile(const char* from, int to, long chunk, long delayMs) {
    const int fd = ::open(from, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<char> buffer(static_cast<size_t>(chunk));
    bool ok = true;
    for (;;) {
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!writeAll(to, buffer.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// Copies `from` to `to` in the kernel: splice into a pipe, else sendfile.
// False with errno set on failure; *fallback is set when neither call works
// on these descriptors (nothing has been sent then).
bool copyFileInKernel(const char* from, int to, bool* fallback) {
    *fallback = false;
    const int fd = ::open(from, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    constexpr size_t kPiece = size_t{1} << 20;
    // A pipe as large as a piece: the copy then wakes the reader once a
    // piece, not once every 64 KiB (no harm when `to` is not a pipe).
    (void)::fcntl(to, F_SETPIPE_SZ, static_cast<int>(kPiece));
    bool useSplice = true;
    bool sentAny = false;
    bool ok = true;
    for (;;) {
        const ssize_t n = useSplice ? ::splice(fd, nullptr, to, nullptr, kPiece, SPLICE_F_MOVE)
                                    : ::sendfile(to, fd, nullptr, kPiece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && !sentAny && (errno == EINVAL || errno == ENOSYS)) {
            if (useSplice) {
                useSplice = false;
                continue;
            }
            *fallback = true;
            ok = false;
            break;
        }
        if (n < 0) ok = false;
        if (n <= 0) break;
        sentAny = true;
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

void fail(const char* what, const char* path) {
    std::fprintf(stderr, "ERROR: qz-fake-pdftoraster: %s %s: %s\n", what, path,
                 std::strerror(errno));
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const char* messages = std::getenv("QZ_FAKE_STDERR");
    if (messages != nullptr) std::fputs(messages, stderr);
    if (const char* name = std::getenv("QZ_FAKE_SHOW_ENV"); name && *name) {
        const char* value = std::getenv(name);
        if (value != nullptr)
            std::fprintf(stderr, "DEBUG: %s=%s\n", name, value);
        else
            std::fprintf(stderr, "DEBUG: %s unset\n", name);
    }
    if (const char* path = std::getenv("QZ_FAKE_ARGS"); path && *path) {
        if (!recordArgs(path, argc, argv)) fail("cannot record arguments in", path);
    }
    if (const char* copy = std::getenv("QZ_FAKE_INPUT_COPY"); copy && *copy && argc > 1) {
        const int fd = ::open(copy, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) fail("cannot create", copy);
        if (!copyFile(argv[argc - 1], fd, 65536, 0)) fail("cannot copy the input", argv[argc - 1]);
        ::close(fd);
    }
    if (const char* raster = std::getenv("QZ_FAKE_RASTER"); raster && *raster) {
        const long chunk = envNumber("QZ_FAKE_CHUNK", 0);
        const long delay = envNumber("QZ_FAKE_DELAY_MS", 0);
        bool fallback = true;
        bool ok = false;
        if (chunk <= 0 && delay <= 0) ok = copyFileInKernel(raster, STDOUT_FILENO, &fallback);
        if (fallback) ok = copyFile(raster, STDOUT_FILENO, chunk > 0 ? chunk : 65536, delay);
        if (!ok) {
            // A reader that went away is not our fault; a missing file is.
            if (errno != EPIPE) fail("cannot serve the raster", raster);
        }
    }
    if (messages != nullptr) std::fputs(messages, stderr);
    if (const long sig = envNumber("QZ_FAKE_SIGNAL", 0); sig > 0) {
        ::signal(static_cast<int>(sig), SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, static_cast<int>(sig));
        ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
        ::kill(::getpid(), static_cast<int>(sig));
    }
    return static_cast<int>(envNumber("QZ_FAKE_EXIT", 0));
}
