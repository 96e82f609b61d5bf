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

#include "channel/hdc.h"
#include "base/messages.h"
#include "filter/deviceuri.h"
#include "filter/geometry.h"
#include "printstream/jobstream.h"
#include "filter/pageloop.h"
#include "filter/rasterchild.h"
#include "filter/rasterinput.h"
#include "pdf/pdfinspector-linux.h"
#include "settings/jobsettings.h"
#include "settings/options.h"
#include "settings/papersize.h"
#include "settings/ppd.h"

const char* connectivityType = kConnectivityBonjour;
std::atomic<int> isTerminated{0};
struct sigaction oldaction;
const char* ticketArg = nullptr;
int32_t uncollatedCopies_Prototype = 0;

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

}  // namespace

int quenzelMain(int argc, char** argv) {
    const char* fileType = std::getenv("CUPS_FILETYPE");
    const bool bannerJob = fileType != nullptr && std::strcmp(fileType, "job-sheet") == 0;
    msgf("START MAIN\n");

    const DeviceUri device = classifyDeviceUri(std::getenv("DEVICE_URI"));
    connectivityType = device.connectivity;

    std::setvbuf(stderr, nullptr, _IONBF, 0);

    if (argc != 6 && argc != 7) {
        msgf("Usage: %s job user title copies options [filename]\n",
             argc > 0 ? argv[0] : "quenzel");
        return kExitFailure;
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
    if (!parseCopies(argv[4], &uncollatedCopies_Prototype)) {
        msgf("ERROR: Invalid copies count \"%s\" (%d to %d)\n", argv[4],
             static_cast<int>(kMinCopies), static_cast<int>(kMaxCopies));
        return kExitFailure;
    }

    TempFile temp;
    const char* inputPath = argv[6 < argc ? 6 : 0];
    if (argc == 6) {
        CopyResult copied = copyInputToTempFile(temp.name, sizeof temp.name, cancelRequested);
        if (copied != CopyResult::kCopied) {
            temp.name[0] = '\0';
            if (copied == CopyResult::kFailed) return kExitFailure;
            msgf("DEBUG: The job was cancelled before its document had arrived\n");
            return kExitOk;
        }
        inputPath = temp.name;
    }

    std::thread pdfThread;
    try {
        pdfThread = std::thread(process_pdf_thread, inputPath);
    } catch (const std::system_error&) {
        msgf("ERROR: Unable to ran process_pdf_thread!\n");
        return kExitFailure;
    }

    const char* serverBin = std::getenv("CUPS_SERVERBIN");
    char childPath[1024];
    int pathLength = std::snprintf(childPath, sizeof childPath, "%s/filter/pdftoraster",
                                   serverBin != nullptr ? serverBin : "/usr/lib/cups");
    if (pathLength < 0 || static_cast<size_t>(pathLength) >= sizeof childPath) {
        msgf("ERROR: The CUPS_SERVERBIN path is too long\n");
        pdfThread.join();
        return kExitFailure;
    }

    ticketArg = argv[5];
    msgf("ticketArg = %s", ticketArg);
    if (std::string refusal = customSizeRefusal(ticketArg, jobPpd()); !refusal.empty()) {
        msgf("ERROR: %s\n", refusal.c_str());  // refused before the printer gets a byte
        pdfThread.join();
        return kExitFailure;
    }

    const pid_t child = startRasterChild(childPath, argv, inputPath);
    pdfThread.join();
    if (child < 0) return kExitFailure;

    // Every wait for raster data looks at the cancel flag at least every 20 ms.
    CupsRasterReader raster(STDIN_FILENO, cancelRequested);
    (void)getTotalPDFPages();
    cups_page_header2_t header{};
    const bool firstPage = raster.readHeader(&header);
    std::string why;
    if (!firstPage && !cancelRequested()) {
        // No page at all (an empty, cut or unreadable document, or a stream
        // that is no raster): the job fails and the printer gets nothing, not
        // an empty job that would look like a printed one.
        msgf("ERROR: Unable to print this job: %s\n", raster.endText().c_str());
        // Refused data leaves the rest unread; otherwise the stream has ended
        // and the child's own end (a failed pdftoraster says why) is reported.
        const bool unread =
            raster.end() == RasterEnd::kBadSync || raster.end() == RasterEnd::kBadHeader;
        return finishJob(child, unread, true);
    }
    if (firstPage && !normalizeRasterHeader(&header, &why)) {
        msgf("ERROR: Unable to print this job: %s\n", why.c_str());
        return finishJob(child, true, true);
    }
    if (!firstPage) {
        // Cancelled before the first page: the job still ends with an empty,
        // closed session.  The job settings have no raster to start from; the
        // resolution is what the session start needs, the rest stays empty.
        header.HWResolution[0] = header.HWResolution[1] = 600;
    }

    auto settings = std::make_unique<JobSetting>();
    jobsetting = settings.get();
    initializeJobSetting(jobsetting, &header, ticketArg);

    JobGeometry geometry;
    if (firstPage) {
        if (!computeJobGeometry(header, *jobsetting, &geometry, &why)) {
            msgf("ERROR: Unable to print this job: %s\n", why.c_str());
            return finishJob(child, true, true);
        }
        if (jobsetting->mediaSizeKind == kMediaSizeCustom) {
            msgf("customPixWid=%d ", static_cast<int>(geometry.pixWid));
        } else {
            msgf("pixWid=%d ", static_cast<int>(geometry.pixWid));
        }
        msgf("pixHt=%d\n", static_cast<int>(geometry.pixHt));
    }

    const StatusThread statusThread = firstPage ? startStatusThread(device) : StatusThread::kNone;

    hdcInitialize(kHdcRingCapacity, kHdcFlushThreshold);
    // A printer that goes away after a cancel is expected, not an error.
    hdcSetCancelFlag(&isTerminated);
    if (!hdcContext.ring.storage) {
        stopStatusThread(statusThread);
        return finishJob(child, true, true);
    }
    if (!hdcStartPrintThread(connectivityType)) {
        msgf("ERROR: Unable to start the print thread\n");
        stopStatusThread(statusThread);
        return finishJob(child, true, true);
    }

    // The job prologue: the USB status requests, the PJL header, the PCL XL
    // stream header and the session start.
    if (implementShowErrorinPrinterProxy &&
        std::strstr(connectivityType, kConnectivityUsb) != nullptr) {
        writeStatusPrologue(hdcWrite);
    }
    writePjlHeader(hdcWrite, *jobsetting, argv[3], argv[2], bannerJob);
    writeStreamHeader(hdcWrite);
    writeSessionStart(hdcWrite, jobsetting->resolution);

    msgf("res(%dx%d) htwd(%dx%d) xyMar(%dx%d) orientation(%d)\n",
         static_cast<int>(header.HWResolution[0]), static_cast<int>(header.HWResolution[1]),
         static_cast<int>(header.cupsHeight), static_cast<int>(header.cupsWidth),
         static_cast<int>(header.HWResolution[0] * header.Margins[0] / 72),
         static_cast<int>(header.HWResolution[1] * header.Margins[1] / 72),
         static_cast<int>(jobsetting->orientation));

    PageLoopResult loop;
    if (firstPage) {
        PageLoopJob job;
        job.raster = &raster;
        job.header = &header;
        job.geometry = geometry;
        job.bannerJob = bannerJob;
        job.sink = hdcWrite;
        job.settings = jobsetting;
        loop = runPageLoop(job);
    }

    // A stream that libcups refused, or that ended inside a header or a page,
    // ends the page loop like the end of the raster; the reader knows which it
    // was.  After a cancel the child's end cuts the stream, as expected.
    if (!cancelRequested() && rasterEndIsFailure(raster.end())) {
        msgf("ERROR: Unable to print this job: %s\n", raster.endText().c_str());
        loop.failed = true;
        if (raster.end() == RasterEnd::kBadHeader) loop.stoppedEarly = true;
    }

    jobsetting = nullptr;
    settings.reset();
    raster.close();

    writeJobEnd(hdcWrite);
    hdcWaitUntilEmpty();
    hdcStopPrintThread();
    hdcDestroy();
    stopStatusThread(statusThread);
    pdfDestroyPages(&pages);
    return finishJob(child, loop.stoppedEarly, loop.failed);
}
