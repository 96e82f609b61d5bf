#include "filter/quenzel.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/processstate.h"
#include "channel/hdc.h"
#include "filter/deviceuri.h"
#include "filter/geometry.h"
#include "filter/pageloop.h"
#include "filter/rasterchild.h"
#include "filter/rasterinput.h"
#include "pdf/pdfinspector-linux.h"
#include "printstream/jobstream.h"
#include "settings/jobsettings.h"
#include "settings/options.h"
#include "settings/papersize.h"
#include "settings/ppd.h"

const char* connectivityType = kConnectivityBonjour;
std::atomic<int> isTerminated{0};
struct sigaction oldaction;
const char* ticketArg = nullptr;
int32_t uncollatedCopies_Prototype = 0;

namespace {
const StateReset kResetJobRun([] {
    connectivityType = kConnectivityBonjour;
    isTerminated.store(0);
    ticketArg = nullptr;
    uncollatedCopies_Prototype = 0;
});
}  // namespace

void signalHandler(int signalNumber) {
    if (signalNumber == SIGTERM) isTerminated = 1;
}

namespace {

void signalAction(int signalNumber, siginfo_t* /*info*/, void* /*context*/) {
    signalHandler(signalNumber);
}

// Removes the temporary copy of the PDF however the job ends.
class TempFile {
  public:
    char name[1024] = "";
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (name[0] != '\0') ::unlink(name);
    }
};

// Which printer-status thread the job started, so the end stops the same one.
enum class StatusThread { kNone, kUsb, kNetwork };

StatusThread startStatusThread(const DeviceUri& device) {
    if (!implementShowErrorinPrinterProxy) return StatusThread::kNone;
    if (std::strstr(connectivityType, kConnectivityUsb) != nullptr) {
        StartUsbReadThread();
        return StatusThread::kUsb;
    }
    if (!device.host.empty() && ValidateChannel(device.host.c_str()) > 0) {
        StartNpaNetworkThread(device.host.c_str());
        return StatusThread::kNetwork;
    }
    return StatusThread::kNone;
}

void stopStatusThread(StatusThread which) {
    if (which == StatusThread::kUsb) StopUsbReadThread();
    if (which == StatusThread::kNetwork) StopNpaNetworkThread();
}

bool cancelRequested() {
    return isTerminated != 0;
}

// Stops reading the raster, collects the child and turns the job's outcome
// into the exit status.  `stoppedEarly`: raster was left unread, so the
// child's end by the broken pipe is expected.
int finishJob(pid_t child, bool stoppedEarly, bool jobFailed) {
    ::close(STDIN_FILENO);
    const bool cancelled = cancelRequested();
    ChildEnd end = reapRasterChild(child, stoppedEarly || cancelled, cancelled);
    bool failed = jobFailed || hdcFailed() || end == ChildEnd::kFailed;
    msgf("END MAIN\n");
    msgf("IS terminated %d\n", static_cast<int>(isTerminated));
    return failed ? kExitFailure : kExitOk;
}

// One job from its arguments to its exit status, in named phases.  Each phase
// returns false when the job ends there, with the exit status set; whatever
// the phases made is undone in one place, finish(), in the reverse order of
// making, so every early end closes what the normal end closes.
class JobRun {
  public:
    JobRun(int argc, char** argv) : argc_(argc), argv_(argv) {}
    JobRun(const JobRun&) = delete;
    JobRun& operator=(const JobRun&) = delete;

    int run() {
        if (arguments() && input() && child() && settings() && session()) printPages();
        return finish();
    }

  private:
    bool fail(int status = kExitFailure) {
        status_ = status;
        failed_ = status != kExitOk;
        return false;
    }

    // Usage, signals and the copies count.
    bool arguments();
    // The PDF in a file (a copy of standard input when no file is named), and
    // the PDF page inspector started on it.
    bool input();
    // The pdftoraster child, after the checks that need no raster.
    bool child();
    // The first raster page header, the settings record and the geometry.
    bool settings();
    // The status thread, the output channel and the job prologue.
    bool session();
    // Every page with its copies.
    void printPages();
    // Closes the session, drains the output, stops the threads, reaps the
    // child; returns the exit status.
    int finish();

    const int argc_;
    char** const argv_;
    int status_ = kExitOk;
    bool failed_ = false;
    bool stoppedEarly_ = false;  // raster left unread: the child's broken pipe is expected

    bool bannerJob_ = false;
    DeviceUri device_;
    TempFile temp_;
    const char* inputPath_ = nullptr;
    std::thread pdfThread_;
    pid_t child_ = -1;
    std::unique_ptr<CupsRasterReader> raster_;
    cups_page_header2_t header_{};
    bool firstPage_ = false;
    std::unique_ptr<JobSetting> settings_;
    JobGeometry geometry_;
    StatusThread statusThread_ = StatusThread::kNone;
    bool channel_ = false;   // output ring made
    bool printing_ = false;  // print thread started (or tried)
    bool sessionOpen_ = false;
};

bool JobRun::arguments() {
    const char* fileType = std::getenv("CUPS_FILETYPE");
    bannerJob_ = fileType != nullptr && std::strcmp(fileType, "job-sheet") == 0;
    msgf("START MAIN\n");

    device_ = classifyDeviceUri(std::getenv("DEVICE_URI"));
    connectivityType = device_.connectivity;

    std::setvbuf(stderr, nullptr, _IONBF, 0);

    if (argc_ != 6 && argc_ != 7) {
        msgf("Usage: %s job user title copies options [filename]\n",
             argc_ > 0 ? argv_[0] : "quenzel");
        return fail();
    }

    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    action.sa_sigaction = signalAction;
    sigaction(SIGTERM, &action, &oldaction);
    // A backend that goes away must show up as a write error, not kill us.
    std::signal(SIGPIPE, SIG_IGN);

    // The spooler sends 1 to 9999; anything else is refused rather than
    // guessed at (atoi() read "abc" as 0 and huge counts overflowed).
    if (!parseCopies(argv_[4], &uncollatedCopies_Prototype)) {
        msgf("ERROR: Invalid copies count \"%s\" (%d to %d)\n", argv_[4],
             static_cast<int>(kMinCopies), static_cast<int>(kMaxCopies));
        return fail();
    }
    return true;
}

bool JobRun::input() {
    inputPath_ = argv_[6 < argc_ ? 6 : 0];
    if (argc_ == 6) {
        CopyResult copied = copyInputToTempFile(temp_.name, sizeof temp_.name, cancelRequested);
        if (copied != CopyResult::kCopied) {
            temp_.name[0] = '\0';
            if (copied == CopyResult::kFailed) return fail();
            msgf("DEBUG: The job was cancelled before its document had arrived\n");
            return fail(kExitOk);
        }
        inputPath_ = temp_.name;
    }
    try {
        pdfThread_ = std::thread(process_pdf_thread, inputPath_);
    } catch (const std::system_error&) {
        msgf("ERROR: Unable to ran process_pdf_thread!\n");
        return fail();
    }
    return true;
}

bool JobRun::child() {
    const char* serverBin = std::getenv("CUPS_SERVERBIN");
    char childPath[1024];
    int pathLength = std::snprintf(childPath, sizeof childPath, "%s/filter/pdftoraster",
                                   serverBin != nullptr ? serverBin : "/usr/lib/cups");
    if (pathLength < 0 || static_cast<size_t>(pathLength) >= sizeof childPath) {
        msgf("ERROR: The CUPS_SERVERBIN path is too long\n");
        return fail();
    }

    ticketArg = argv_[5];
    msgf("ticketArg = %s", ticketArg);
    if (std::string refusal = customSizeRefusal(ticketArg, jobPpd()); !refusal.empty()) {
        msgf("ERROR: %s\n", refusal.c_str());  // refused before the printer gets a byte
        return fail();
    }

    child_ = startRasterChild(childPath, argv_, inputPath_);
    pdfThread_.join();
    if (child_ < 0) return fail();
    return true;
}

bool JobRun::settings() {
    // Every wait for raster data looks at the cancel flag at least every 20 ms.
    raster_ = std::make_unique<CupsRasterReader>(STDIN_FILENO, cancelRequested);
    (void)getTotalPDFPages();
    firstPage_ = raster_->readHeader(&header_);
    std::string why;
    if (!firstPage_ && !cancelRequested()) {
        // No page at all (an empty, cut or unreadable document, or a stream
        // that is no raster): the job fails and the printer gets nothing, not
        // an empty job that would look like a printed one.
        msgf("ERROR: Unable to print this job: %s\n", raster_->endText().c_str());
        // Refused data leaves the rest unread; otherwise the stream has ended
        // and the child's own end (a failed pdftoraster says why) is reported.
        stoppedEarly_ =
            raster_->end() == RasterEnd::kBadSync || raster_->end() == RasterEnd::kBadHeader;
        return fail();
    }
    if (firstPage_ && !normalizeRasterHeader(&header_, &why)) {
        msgf("ERROR: Unable to print this job: %s\n", why.c_str());
        stoppedEarly_ = true;
        return fail();
    }
    if (!firstPage_) {
        // Cancelled before the first page: the job still ends with an empty,
        // closed session.  The job settings have no raster to start from; the
        // resolution is what the session start needs, the rest stays empty.
        header_.HWResolution[0] = header_.HWResolution[1] = 600;
    }

    settings_ = std::make_unique<JobSetting>();
    jobsetting = settings_.get();
    initializeJobSetting(jobsetting, &header_, ticketArg);

    if (firstPage_) {
        if (!computeJobGeometry(header_, *jobsetting, &geometry_, &why)) {
            msgf("ERROR: Unable to print this job: %s\n", why.c_str());
            stoppedEarly_ = true;
            return fail();
        }
        if (jobsetting->mediaSizeKind == kMediaSizeCustom) {
            msgf("customPixWid=%d ", static_cast<int>(geometry_.pixWid));
        } else {
            msgf("pixWid=%d ", static_cast<int>(geometry_.pixWid));
        }
        msgf("pixHt=%d\n", static_cast<int>(geometry_.pixHt));
    }
    return true;
}

bool JobRun::session() {
    if (firstPage_) statusThread_ = startStatusThread(device_);

    hdcInitialize(kHdcRingCapacity, kHdcFlushThreshold);
    channel_ = true;
    // A printer that goes away after a cancel is expected, not an error.
    hdcSetCancelFlag(&isTerminated);
    if (!hdcContext.ring.storage) {
        stoppedEarly_ = true;
        return fail();
    }
    printing_ = true;
    if (!hdcStartPrintThread(connectivityType)) {
        msgf("ERROR: Unable to start the print thread\n");
        stoppedEarly_ = true;
        return fail();
    }

    // The job prologue: the USB status requests, the PJL header, the PCL XL
    // stream header and the session start.
    if (implementShowErrorinPrinterProxy &&
        std::strstr(connectivityType, kConnectivityUsb) != nullptr) {
        writeStatusPrologue(hdcWrite);
    }
    writePjlHeader(hdcWrite, *jobsetting, argv_[3], argv_[2], bannerJob_);
    writeStreamHeader(hdcWrite);
    writeSessionStart(hdcWrite, jobsetting->resolution);
    sessionOpen_ = true;

    msgf("res(%dx%d) htwd(%dx%d) xyMar(%dx%d) orientation(%d)\n",
         static_cast<int>(header_.HWResolution[0]), static_cast<int>(header_.HWResolution[1]),
         static_cast<int>(header_.cupsHeight), static_cast<int>(header_.cupsWidth),
         static_cast<int>(header_.HWResolution[0] * header_.Margins[0] / 72),
         static_cast<int>(header_.HWResolution[1] * header_.Margins[1] / 72),
         static_cast<int>(jobsetting->orientation));
    return true;
}

void JobRun::printPages() {
    PageLoopResult loop;
    if (firstPage_) {
        PageLoopJob job;
        job.raster = raster_.get();
        job.header = &header_;
        job.geometry = geometry_;
        job.bannerJob = bannerJob_;
        job.sink = hdcWrite;
        job.settings = jobsetting;
        loop = runPageLoop(job);
    }

    // A stream that libcups refused, or that ended inside a header or a page,
    // ends the page loop like the end of the raster; the reader knows which it
    // was.  After a cancel the child's end cuts the stream, as expected.
    if (!cancelRequested() && rasterEndIsFailure(raster_->end())) {
        msgf("ERROR: Unable to print this job: %s\n", raster_->endText().c_str());
        loop.failed = true;
        if (raster_->end() == RasterEnd::kBadHeader) loop.stoppedEarly = true;
    }
    stoppedEarly_ = loop.stoppedEarly;
    failed_ = loop.failed;
}

int JobRun::finish() {
    jobsetting = nullptr;
    settings_.reset();
    if (raster_) raster_->close();

    if (sessionOpen_) {
        writeJobEnd(hdcWrite);
        hdcWaitUntilEmpty();
    }
    if (printing_) hdcStopPrintThread();
    if (channel_) hdcDestroy();
    stopStatusThread(statusThread_);
    if (pdfThread_.joinable()) pdfThread_.join();
    pdfDestroyPages(&::pages);
    // Without a child the job ended before any raster: its status stands.
    if (child_ < 0) return status_;
    return finishJob(child_, stoppedEarly_, failed_);
}

}  // namespace

int quenzelMain(int argc, char** argv) {
    JobRun job(argc, argv);
    return job.run();
}
