// Whole-filter runner: temporary server folder, fork/exec, pipes, time-out.
#include "tests/harness/filter_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

extern char** environ;

namespace harness {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long the pipes may stay open after the filter itself has exited.
constexpr std::chrono::seconds kOutliveGrace{2};

// An owned file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// Moves a descriptor to 10 or above (close-on-exec), so that the child's
// dup2() onto 0..4 can never overwrite a descriptor it still has to copy.
Fd highFd(int fd) {
    if (fd < 0) return Fd{};
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return Fd{moved};
}

bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd = highFd(fds[0]);
    writeEnd = highFd(fds[1]);
    return readEnd && writeEnd;
}

// Blocks SIGPIPE in this thread while the run writes to the filter's
// standard input, so a filter that exits without reading it cannot kill the
// test; a SIGPIPE raised meanwhile is taken off the pending set at the end.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SigpipeBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        const timespec zero{0, 0};
        while (::sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
        }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  private:
    sigset_t old_;
};

// Variables the run sets itself; inherited values are dropped.
bool controlledName(const std::string& name) {
    static const char* const kNames[] = {"PPD", "DEVICE_URI", "CUPS_FILETYPE", "CUPS_SERVERBIN",
                                         "TMPDIR"};
    for (const char* n : kNames)
        if (name == n) return true;
    return name.rfind("QZ_FAKE_", 0) == 0;
}

void setVar(std::vector<std::string>& env, const std::string& name, const std::string& value) {
    const std::string prefix = name + "=";
    std::erase_if(env, [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    env.push_back(prefix + value);
}

std::string unescape(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            ++i;
            out += line[i] == 'n' ? '\n' : line[i];
        } else {
            out += line[i];
        }
    }
    return out;
}

std::vector<std::vector<std::string>> readFakeCalls(const std::string& path) {
    std::vector<std::vector<std::string>> calls;
    std::ifstream in(path);
    std::vector<std::string> current;
    for (std::string line; std::getline(in, line);) {
        if (line == "--end--") {
            calls.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(unescape(line));
        }
    }
    return calls;
}

[[noreturn]] void childFail(const char* what) {
    const int e = errno;
    const char* text = std::strerror(e);
    (void)!::write(2, what, std::strlen(what));
    (void)!::write(2, ": ", 2);
    (void)!::write(2, text, std::strlen(text));
    (void)!::write(2, "\n", 1);
    ::_exit(127);
}

// In the child after fork(): only async-signal-safe calls.
[[noreturn]] void execChild(const Fd& in, const Fd& out, const Fd& err, const Fd& devNull,
                            const Fd& backChannel, bool closeBackChannel, const char* binary,
                            char* const* argv, char* const* envp) {
    ::setpgid(0, 0);
    if (::dup2(in.get(), 0) < 0 || ::dup2(out.get(), 1) < 0 || ::dup2(err.get(), 2) < 0 ||
        ::dup2(backChannel ? backChannel.get() : devNull.get(), 3) < 0 ||
        ::dup2(devNull.get(), 4) < 0) {
        childFail("harness: dup2");
    }
    if (closeBackChannel) ::close(3);
    // Nothing else of the test process leaks into the filter.
    ::close_range(5, ~0u, 0);
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGCHLD})
        ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(binary, argv, envp);
    childFail("harness: execve");
}

std::string decodeStatus(const FilterRun& r) {
    if (r.timedOut) return "timed out";
    if (!r.started) return "not started";
    if (r.exited) return "exit " + std::to_string(r.exitCode);
    if (r.termSignal) return "signal " + std::to_string(r.termSignal);
    return "unknown end";
}

}  // namespace

std::string quenzelPath() {
    return QZ_HARNESS_QUENZEL;
}
std::string fakePdftorasterPath() {
    return QZ_HARNESS_FAKE_PDFTORASTER;
}
std::string sourceDir() {
    return QZ_HARNESS_SOURCE_DIR;
}
std::string minimalPpdPath() {
    return sourceDir() + "/ppd/quenzel-minimal.ppd";
}

std::vector<std::string> filterArgs(const std::string& copies, const std::string& options,
                                    const std::optional<std::string>& file) {
    std::vector<std::string> args{"quenzel-test", "42", "tester", "test title", copies, options};
    if (file) args.push_back(*file);
    return args;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

std::string FilterRun::describe() const {
    std::string text = decodeStatus(*this);
    text += ", " + std::to_string(out.size()) + " bytes out";
    if (sigtermSent) text += ", SIGTERM sent";
    constexpr size_t kTail = 2000;
    text += "; stderr";
    text += err.size() > kTail ? " (tail):\n" + err.substr(err.size() - kTail) : ":\n" + err;
    return text;
}

FilterRun runFilter(const FilterRunOptions& o) {
    FilterRun r;

    // The temporary folder.
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qz-run-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        r.err = std::string("harness: mkdtemp: ") + std::strerror(errno);
        return r;
    }
    r.tempDir = name.data();
    const std::string tmp = r.tempDir + "/tmp";
    const std::string argsFile = r.tempDir + "/fake-args";
    const std::string inputCopy = r.tempDir + "/fake-input";
    std::error_code ec;
    fs::create_directories(tmp, ec);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!controlledName(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    setVar(env, "TMPDIR", tmp);
    if (o.ppd) setVar(env, "PPD", *o.ppd);
    if (o.deviceUri) setVar(env, "DEVICE_URI", *o.deviceUri);
    if (o.cupsFiletype) setVar(env, "CUPS_FILETYPE", *o.cupsFiletype);

    if (!o.serverBin) {
        const std::string serverBin = r.tempDir + "/serverbin";
        fs::create_directories(serverBin + "/filter", ec);
        fs::create_symlink(fakePdftorasterPath(), serverBin + "/filter/pdftoraster", ec);
        if (ec) {
            r.err = "harness: cannot install the fake pdftoraster: " + ec.message();
            if (!o.keepTempDir) fs::remove_all(r.tempDir, ec);
            return r;
        }
        setVar(env, "CUPS_SERVERBIN", serverBin);
        setVar(env, "QZ_FAKE_ARGS", argsFile);
        setVar(env, "QZ_FAKE_INPUT_COPY", inputCopy);
        std::string rasterFile = o.rasterFile;
        if (o.raster) {
            rasterFile = r.tempDir + "/raster.ras";
            if (!writeRaster(*o.raster, rasterFile)) {
                r.err = "harness: cannot write the raster (libcupsimage refused a header?)";
                if (!o.keepTempDir) fs::remove_all(r.tempDir, ec);
                return r;
            }
        }
        if (!rasterFile.empty()) setVar(env, "QZ_FAKE_RASTER", rasterFile);
        if (o.fakeExit) setVar(env, "QZ_FAKE_EXIT", std::to_string(*o.fakeExit));
        if (o.fakeSignal) setVar(env, "QZ_FAKE_SIGNAL", std::to_string(*o.fakeSignal));
        if (o.fakeDelayMs > 0) setVar(env, "QZ_FAKE_DELAY_MS", std::to_string(o.fakeDelayMs));
        setVar(env, "QZ_FAKE_CHUNK", std::to_string(o.fakeChunk));
    } else if (!o.serverBin->empty()) {
        setVar(env, "CUPS_SERVERBIN", *o.serverBin);
    }
    for (const auto& [key, value] : o.extraEnv)
        setVar(env, key, value);

    // argv and envp as the child needs them (built before fork).
    std::vector<std::string> args = o.args;
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
    Fd devNull = highFd(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!makePipe(inRead, inWrite) || !makePipe(outRead, outWrite) ||
        !makePipe(errRead, errWrite) || !devNull) {
        r.err = std::string("harness: pipe: ") + std::strerror(errno);
        if (!o.keepTempDir) fs::remove_all(r.tempDir, ec);
        return r;
    }
    // The back channel: the filter reads backRead as descriptor 3, we write.
    Fd backRead, backWrite;
    const std::vector<std::vector<uint8_t>> noPieces;
    const auto& backPieces = o.backChannelWrites ? *o.backChannelWrites : noPieces;
    if (o.backChannelWrites && !o.closeBackChannel) {
        if (!makePipe(backRead, backWrite)) {
            r.err = std::string("harness: pipe: ") + std::strerror(errno);
            if (!o.keepTempDir) fs::remove_all(r.tempDir, ec);
            return r;
        }
        ::fcntl(backWrite.get(), F_SETFL, O_NONBLOCK);
    }

    SigpipeBlock sigpipeBlock;
    // The time-out and the SIGTERM delay count from here, not from the setup.
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        r.err = std::string("harness: fork: ") + std::strerror(errno);
        if (!o.keepTempDir) fs::remove_all(r.tempDir, ec);
        return r;
    }
    if (pid == 0)
        execChild(inRead, outWrite, errWrite, devNull, backRead, o.closeBackChannel,
                  o.binary.c_str(), argv.data(), envp.data());
    ::setpgid(pid, pid);  // also here, so the group exists before any kill()
    r.started = true;
    inRead.reset();
    outWrite.reset();
    errWrite.reset();
    backRead.reset();
    ::fcntl(inWrite.get(), F_SETFL, O_NONBLOCK);

    size_t stdinPos = 0;
    if (o.stdinBytes.empty()) inWrite.reset();
    if (o.closeStdoutAfter && *o.closeStdoutAfter == 0) outRead.reset();
    const auto deadline = start + o.timeout;
    bool reaped = false;
    Clock::time_point reapedAt;
    int status = 0;
    struct rusage usage {};
    // Back-channel writer: the piece in hand, how much of it is written, and
    // when the next may go (after the pipe has been read empty, plus the pause).
    size_t backPiece = 0, backOffset = 0;
    bool backDraining = false;
    Clock::time_point backNextAt = start;
    char buffer[65536];
    bool outStalled = false;

    while (!reaped || (outRead && !outStalled) || errRead) {
        const auto now = Clock::now();
        if (now >= deadline) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        if (!r.sigtermSent && o.sigtermAfter && now - start >= *o.sigtermAfter) {
            ::kill(o.sigtermToGroup ? -pid : pid, SIGTERM);
            r.sigtermSent = true;
        }
        if (!reaped) {
            if (::wait4(pid, &status, WNOHANG, &usage) == pid) {
                reaped = true;
                reapedAt = now;
            }
        } else if (now - reapedAt > kOutliveGrace) {
            r.groupOutlived = true;
            break;
        }

        if (backWrite && backPiece < backPieces.size()) {
            if (backDraining) {
                int queued = 0;
                if (::ioctl(backWrite.get(), FIONREAD, &queued) == 0 && queued == 0) {
                    backDraining = false;
                    backNextAt = now + o.backChannelPause;
                }
            }
            if (!backDraining && now >= backNextAt) {
                const std::vector<uint8_t>& piece = backPieces[backPiece];
                const ssize_t n = piece.size() > backOffset
                                      ? ::write(backWrite.get(), piece.data() + backOffset,
                                                piece.size() - backOffset)
                                      : 0;
                if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    backPiece = backPieces.size();  // the filter is gone: stop feeding
                } else {
                    backOffset += n > 0 ? static_cast<size_t>(n) : 0;
                    if (backOffset >= piece.size()) {
                        ++backPiece;
                        ++r.backChannelPiecesWritten;
                        backOffset = 0;
                        backDraining = true;
                    }
                }
            }
        }

        pollfd fds[3];
        nfds_t count = 0;
        int inIndex = -1, outIndex = -1, errIndex = -1;
        if (inWrite) {
            inIndex = static_cast<int>(count);
            fds[count++] = {inWrite.get(), POLLOUT, 0};
        }
        if (outRead && !outStalled) {
            outIndex = static_cast<int>(count);
            fds[count++] = {outRead.get(), POLLIN, 0};
        }
        if (errRead) {
            errIndex = static_cast<int>(count);
            fds[count++] = {errRead.get(), POLLIN, 0};
        }
        // Short ticks: the child may exit while a process it started keeps
        // the pipes open, and the time-out and SIGTERM timer need checking.
        constexpr int kTickMs = 20;
        const int ready = count ? ::poll(fds, count, kTickMs) : (::usleep(kTickMs * 1000), 0);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;

        if (inIndex >= 0 && fds[inIndex].revents) {
            const ssize_t n = ::write(inWrite.get(), o.stdinBytes.data() + stdinPos,
                                      o.stdinBytes.size() - stdinPos);
            if (n > 0) stdinPos += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || stdinPos == o.stdinBytes.size())
                inWrite.reset();
        }
        if (outIndex >= 0 && fds[outIndex].revents) {
            const ssize_t n = ::read(outRead.get(), buffer, sizeof buffer);
            if (n > 0) {
                r.out.insert(r.out.end(), buffer, buffer + n);
                if (o.closeStdoutAfter && r.out.size() >= *o.closeStdoutAfter) {
                    r.out.resize(*o.closeStdoutAfter);
                    outRead.reset();
                }
                if (o.stallStdoutAfter && r.out.size() >= *o.stallStdoutAfter) outStalled = true;
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                outRead.reset();
            }
        }
        if (errIndex >= 0 && fds[errIndex].revents) {
            const ssize_t n = ::read(errRead.get(), buffer, sizeof buffer);
            if (n > 0) {
                const size_t before = r.err.size();
                r.err.append(buffer, static_cast<size_t>(n));
                const std::string& needle = o.sigtermWhenStderrContains;
                if (!r.sigtermSent && !needle.empty() &&
                    r.err.find(needle, before > needle.size() ? before - needle.size() : 0) !=
                        std::string::npos) {
                    ::kill(o.sigtermToGroup ? -pid : pid, SIGTERM);
                    r.sigtermSent = true;
                }
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                errRead.reset();
            }
        }
    }
    if (!reaped) {
        // Timed out (already killed) or poll() failed: end it either way.
        ::kill(-pid, SIGKILL);
        while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
    }
    // Whatever the filter started and left behind goes with the group.
    ::kill(-pid, SIGKILL);
    r.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    r.maxRssKb = usage.ru_maxrss;
    r.cpuTime = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec));
    if (WIFEXITED(status)) {
        r.exited = !r.timedOut;
        r.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.termSignal = WTERMSIG(status);
    }

    r.fakeCalls = readFakeCalls(argsFile);
    if (!r.fakeCalls.empty() && !r.fakeCalls.front().empty()) {
        r.inputPath = r.fakeCalls.front().back();
        struct stat st;
        r.inputExistsAfter = ::stat(r.inputPath.c_str(), &st) == 0;
        r.fakeInput = readFile(inputCopy);
    }
    for (const auto& entry : fs::directory_iterator(tmp, ec))
        r.tmpLeftovers.push_back(entry.path().filename().string());
    if (!o.keepTempDir) fs::remove_all(r.tempDir, ec);
    return r;
}

}  // namespace harness
