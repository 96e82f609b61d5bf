#include "settings/ppd.h"

#include <cups/file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/messages.h"
#include "base/processstate.h"
#include "settings/jobsettings.h"

namespace {

// The job's shared handle and whether opening it has been tried: a missing or
// unreadable file is not retried by every lookup of the job.
PpdFile gJobPpd;
bool gJobPpdTried = false;
const StateReset kResetJobPpd(resetJobPpd);

}  // namespace

void PpdCloser::operator()(ppd_file_t* ppd) const {
    if (ppd != nullptr) ppdClose(ppd);
}

PpdFile openPpd(const char* path) {
    if (path == nullptr || *path == '\0') return PpdFile();
    // Opened without waiting (a FIFO would block the open until a writer
    // came), then checked before libcups reads it: a FIFO or device would
    // block the job or never end, and a huge file would take the job's time.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return PpdFile();
    struct stat info {};
    const char* refused = nullptr;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        refused = "it is not a regular file";
    } else if (info.st_size > static_cast<off_t>(kMaxPpdBytes)) {
        refused = "it is larger than 16 MiB";
    }
    if (refused != nullptr) {
        msgf("DEBUG: The PPD file %s is not read: %s\n", path, refused);
        ::close(fd);
        return PpdFile();
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // The checked descriptor itself is read, so the file cannot be swapped
    // between the check and the read; cupsFileClose() closes it.
    PpdFile ppd;
    if (cups_file_t* file = cupsFileOpenFd(fd, "r")) {
        ppd.reset(ppdOpen2(file));
        cupsFileClose(file);
    } else {
        ::close(fd);
    }
    return ppd;
}

ppd_file_t* jobPpd() {
    if (!gJobPpdTried) {
        gJobPpdTried = true;
        gJobPpd = openPpd(std::getenv("PPD"));
    }
    return gJobPpd.get();
}

void resetJobPpd() {
    gJobPpd.reset();
    gJobPpdTried = false;
}

bool ppdHasOption(ppd_file_t* ppd, const char* keyword) {
    return ppd != nullptr && keyword != nullptr && ppdFindOption(ppd, keyword) != nullptr;
}

std::optional<std::string> ppdOptionDefault(ppd_file_t* ppd, const char* keyword) {
    if (ppd == nullptr || keyword == nullptr) return std::nullopt;
    const ppd_option_t* option = ppdFindOption(ppd, keyword);
    if (option == nullptr) return std::nullopt;
    // defchoice is a fixed char[41] that libcups always terminates.
    return std::string(option->defchoice);
}

PpdAttribute ppdAttribute(ppd_file_t* ppd, const char* name) {
    PpdAttribute result;
    if (ppd == nullptr || name == nullptr) return result;
    const ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr);
    if (attr == nullptr) return result;
    if (attr->value == nullptr || *attr->value == '\0') {
        result.state = PpdAttribute::kNoValue;
    } else {
        result.state = PpdAttribute::kValue;
        result.value = attr->value;
    }
    return result;
}

int getIntAttrFromPPD(ppd_file_t* ppd, const char* name, int defaultValue) {
    const ppd_attr_t* attr =
        (ppd != nullptr && name != nullptr) ? ppdFindAttr(ppd, name, nullptr) : nullptr;
    // An attribute whose value is empty counts as one without a value.
    if (attr != nullptr && attr->value != nullptr && *attr->value != '\0') {
        // Leading decimal digits only ("612" is 612, "abc" is 0).  strtol
        // saturates on overflow; the clamp keeps the result inside int.
        long parsed = std::strtol(attr->value, nullptr, 10);
        if (parsed > INT_MAX) parsed = INT_MAX;
        if (parsed < INT_MIN) parsed = INT_MIN;
        int value = static_cast<int>(parsed);
        msgf("%s = %d\n", name, value);
        return value;
    }
    msgf("Def %s = %d\n", name != nullptr ? name : "(null)", defaultValue);
    return defaultValue;
}
