#include "tools/inspect/inspect.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "tools/inspect/decode.h"
#include "tools/inspect/xlstream.h"

namespace inspect {
namespace {

// Universal Exit Language: ESC "%-12345X".
constexpr std::string_view kUel = "\x1b%-12345X";

// The USB status prologue: these four NPA requests, in this order.
constexpr std::array<uint8_t, 19> kUsbSniff = {0xA5, 0x00, 0x10, 0x80, 0xA4, 0x5B, 0xA4,
                                               0x5B, 0x10, 0xEF, 0xA4, 0x5B, 0x11, 0xEE,
                                               0x00, 0xFF, 0x13, 0xEC, 0x2E};
constexpr std::array<uint8_t, 18> kRegLangId = {0xA5, 0x00, 0x0F, 0x50, 0xE0, 0x73,
                                                0x07, 0x08, 0x00, 0x00, 0x01, 0x00,
                                                0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
constexpr std::array<uint8_t, 16> kExtErrors = {0xA5, 0x00, 0x0D, 0x50, 0xE0, 0x73, 0x03, 0x08,
                                                0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr const char* kPrologueNames[4] = {"USB_SNIFF_COMMAND", "NPA_COMMAND_REGLANGID",
                                           "USB_SNIFF_COMMAND", "NPA_DEVCOMMAND_EXT_ERRORS"};
constexpr size_t kMaxProloguePackets = 64;

constexpr std::string_view kStreamHeaderPrefix = ") HP-PCL XL;2;1;";
constexpr size_t kStreamHeaderLength = 64;
constexpr size_t kMaxStreamHeader = 256;
constexpr size_t kMaxPjlLine = 2047;
constexpr size_t kMaxPjlLines = 256;
constexpr std::string_view kCommentText = "Quodrel Enhanced XL=1.2";
constexpr uint32_t kMaxImageRows = 256;  // 32 bands of 8 lines

// The PJL header lines in the order the filter writes them.  `key` is the
// text after "@PJL " up to and including '=' (or the whole command); `exact`
// is the whole line where its value is fixed.
struct PjlEntry {
    const char* key;
    bool required;
    const char* exact;
};
constexpr PjlEntry kPjlHeader[] = {
    {"JOB", true, "@PJL JOB"},
    {"SET STRINGCODESET=", true, "@PJL SET STRINGCODESET=UTF8"},
    {"SET FDATETIME=", true, nullptr},
    {"COMMENT ", true, nullptr},
    {"SET JOBNAME=", true, nullptr},
    {"LJOBINFO HOSTID=", true, nullptr},
    {"SET LSHARPEN=", false, nullptr},
    {"SET LCOLORMODEL=", true, nullptr},
    {"SET ECONOMODE=", false, nullptr},
    {"SET FIMPROVE=", false, nullptr},
    {"SET FGHOST=", false, nullptr},
    {"SET FDENSITY=", false, nullptr},
    {"SET LCTPREFERENCE=", true, nullptr},
    {"SET LINKSET=", false, nullptr},
    {"SET LIMAGEBRIGHTNESS=", true, "@PJL SET LIMAGEBRIGHTNESS=0"},
    // Left out when the raster names no print quality (an empty OutputType).
    {"SET PRINTQUALITY=", false, nullptr},
    {"SET DUPLEX=", true, nullptr},
    {"SET BINDING=", false, nullptr},
    {"SET LCOLLATION=", true, nullptr},
    {"SET LDRYTIMEDELAY=", false, nullptr},
    {"SET RESOLUTION=", true, nullptr},
    {"SET LPAGEMODE=", true, nullptr},
    {"SET LIMAGECONTRAST=", true, "@PJL SET LIMAGECONTRAST=0"},
    {"SET LMULTIPAGEPRINT=", true, "@PJL SET LMULTIPAGEPRINT=OFF"},
    {"ENTER LANGUAGE=", true, "@PJL ENTER LANGUAGE=PCLXL"},
};
constexpr size_t kPjlEntries = sizeof kPjlHeader / sizeof kPjlHeader[0];

constexpr std::string_view kTrailerLines[] = {"@PJL EOJ", "@PJL LPORTROTATE"};

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

// Printable form of a text taken from the job, cut to a sane length.
std::string quoted(std::string_view text, size_t limit = 80) {
    std::string s = "\"";
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0x1B) {
            s += "ESC";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            s += buf;
        } else {
            s.push_back(static_cast<char>(c));
        }
    }
    if (text.size() > limit) s += "...";
    return s + "\"";
}

enum class Step {
    BeginSession,
    OpenDataSource,
    Comment,
    PageOrClose,
    PageOrigin,
    PageScale,
    ColorSpace,
    PageExtension,
    Rop,
    ImageOrEndPage,
    BeginImage,
    ReadPicture,
    ReadTags,
    EndImage,
    EndSession,
    Done,
};

const char* expectedText(Step step) {
    switch (step) {
        case Step::BeginSession:
            return "BeginSession";
        case Step::OpenDataSource:
            return "OpenDataSource";
        case Step::Comment:
            return "Comment";
        case Step::PageOrClose:
            return "BeginPage or CloseDataSource";
        case Step::PageOrigin:
            return "SetPageOrigin";
        case Step::PageScale:
            return "SetPageScale";
        case Step::ColorSpace:
            return "SetColorSpace";
        case Step::PageExtension:
            return "PageExtension";
        case Step::Rop:
            return "SetROP";
        case Step::ImageOrEndPage:
            return "SetCursor or EndPage";
        case Step::BeginImage:
            return "BeginImage";
        case Step::ReadPicture:
            return "ReadImage (JPEG bands)";
        case Step::ReadTags:
            return "ReadImage (TBRLE tags)";
        case Step::EndImage:
            return "EndImage";
        case Step::EndSession:
            return "EndSession";
        case Step::Done:
            return "the PJL trailer";
    }
    return "";
}

bool allowed(Step step, uint8_t op) {
    switch (step) {
        case Step::BeginSession:
            return op == kOpBeginSession;
        case Step::OpenDataSource:
            return op == kOpOpenDataSource;
        case Step::Comment:
            return op == kOpComment;
        case Step::PageOrClose:
            return op == kOpBeginPage || op == kOpCloseDataSource;
        case Step::PageOrigin:
            return op == kOpSetPageOrigin;
        case Step::PageScale:
            return op == kOpSetPageScale;
        case Step::ColorSpace:
            return op == kOpSetColorSpace;
        case Step::PageExtension:
            return op == kOpPageExtension;
        case Step::Rop:
            return op == kOpSetROP;
        case Step::ImageOrEndPage:
            return op == kOpSetCursor || op == kOpEndPage;
        case Step::BeginImage:
            return op == kOpBeginImage;
        case Step::ReadPicture:
        case Step::ReadTags:
            return op == kOpReadImage;
        case Step::EndImage:
            return op == kOpEndImage;
        case Step::EndSession:
            return op == kOpEndSession;
        case Step::Done:
            return false;
    }
    return false;
}

class Inspector;

// Walks the attributes of one operation in the order the filter writes them.
class AttrCursor {
  public:
    AttrCursor(Inspector& in, const XlOperation& op) : in_(in), op_(op) {}

    // The next attribute when it has this id; it must have one of the types.
    // A missing required attribute, or one of another type, is an error and
    // gives null.
    const XlAttr* take(uint16_t id, std::initializer_list<uint8_t> types, bool required = true);
    // take() for a single value, checked against the allowed values.
    std::optional<double> value(uint16_t id, uint8_t type, std::initializer_list<double> allowed,
                                const char* meaning = nullptr, bool required = true);
    // Any further attribute is an error.
    void done();

  private:
    Inspector& in_;
    const XlOperation& op_;
    size_t next_ = 0;
};

class Inspector {
  public:
    Inspector(std::span<const uint8_t> job, const InspectOptions& options)
        : job_(job), opt_(options) {
        result_.size = job.size();
    }

    InspectResult run();

    void error(uint64_t offset, std::string message) { add(result_.errors, offset, message); }
    void warning(uint64_t offset, std::string message) { add(result_.warnings, offset, message); }

  private:
    void add(std::vector<Issue>& list, uint64_t offset, std::string& message) {
        if (result_.errors.size() + result_.warnings.size() >= opt_.maxIssues) {
            ++result_.droppedIssues;
            return;
        }
        list.push_back({offset, std::move(message)});
    }
    bool startsWith(size_t pos, std::string_view text) const {
        return pos <= job_.size() && job_.size() - pos >= text.size() &&
               std::memcmp(job_.data() + pos, text.data(), text.size()) == 0;
    }

    size_t readPrologue(size_t pos);
    bool readPjlHeader(size_t& pos);
    void checkPjlLine(const PjlLine& line, size_t& cursor);
    bool readStreamHeader(size_t& pos);
    void readSession(size_t pos);
    void readTrailer(size_t pos);

    void onOperation(const XlOperation& op);
    void beginSession(const XlOperation& op);
    void openDataSource(const XlOperation& op);
    void comment(const XlOperation& op);
    void beginPage(const XlOperation& op);
    void setPageOrigin(const XlOperation& op);
    void setPageScale(const XlOperation& op);
    void setColorSpace(const XlOperation& op);
    void pageExtension(const XlOperation& op);
    void setRop(const XlOperation& op);
    void setCursor(const XlOperation& op);
    void beginImage(const XlOperation& op);
    void readImage(const XlOperation& op);
    void endImage(const XlOperation& op);
    void endPage(const XlOperation& op);
    void noAttributes(const XlOperation& op);
    void finishPage(uint64_t end, bool complete);
    void decodeImage(ImageInfo& image, std::span<const uint8_t> picture,
                     std::span<const uint8_t> tags);

    std::span<const uint8_t> job_;
    const InspectOptions& opt_;
    InspectResult result_;

    Step step_ = Step::BeginSession;
    int pjlResolution_ = 0;
    uint64_t pjlResolutionOffset_ = 0;

    // Page and image in progress.
    bool inPage_ = false;
    PageInfo page_;
    bool inImage_ = false;
    ImageInfo image_;
    bool imageUsable_ = false;  // the image header is sound enough to decode
    std::span<const uint8_t> picture_, tags_;
    bool havePicture_ = false, haveTags_ = false;
    PageImage canvas_;
    bool canvasUsable_ = true;
};

const XlAttr* AttrCursor::take(uint16_t id, std::initializer_list<uint8_t> types, bool required) {
    const auto& attrs = op_.attrs;
    if (next_ < attrs.size() && attrs[next_].id == id) {
        const XlAttr& a = attrs[next_++];
        if (a.longId) {
            in_.error(a.offset,
                      xlAttributeName(id) + " is written with the two-byte attribute tag");
        }
        if (std::find(types.begin(), types.end(), a.type) == types.end()) {
            std::string want;
            for (uint8_t t : types)
                want += (want.empty() ? "" : " or ") + xlTypeName(t);
            in_.error(a.offset, xlAttributeName(id) + " has type " + xlTypeName(a.type) +
                                    ", expected " + want);
            return nullptr;
        }
        return &a;
    }
    if (required) {
        if (next_ < attrs.size()) {
            in_.error(attrs[next_].offset, "expected " + xlAttributeName(id) + " for " +
                                               xlOperatorName(op_.op) + ", found " +
                                               xlAttributeName(attrs[next_].id));
        } else {
            in_.error(op_.opOffset,
                      "expected " + xlAttributeName(id) + " before " + xlOperatorName(op_.op));
        }
    }
    return nullptr;
}

std::optional<double> AttrCursor::value(uint16_t id, uint8_t type,
                                        std::initializer_list<double> allowedValues,
                                        const char* meaning, bool required) {
    const XlAttr* a = take(id, {type}, required);
    if (!a || a->values.empty()) return std::nullopt;
    const double v = a->values[0];
    if (allowedValues.size() > 0 &&
        std::find(allowedValues.begin(), allowedValues.end(), v) == allowedValues.end()) {
        std::string want;
        for (double w : allowedValues)
            want += (want.empty() ? "" : " or ") + num(w);
        if (meaning) want += std::string(" (") + meaning + ")";
        in_.error(a->offset, xlAttributeName(id) + " is " + num(v) + ", expected " + want);
    }
    return v;
}

void AttrCursor::done() {
    for (; next_ < op_.attrs.size(); ++next_) {
        in_.error(op_.attrs[next_].offset, "unexpected " + xlAttributeName(op_.attrs[next_].id) +
                                               " before " + xlOperatorName(op_.op));
    }
}

InspectResult Inspector::run() {
    size_t pos = readPrologue(0);
    if (!readPjlHeader(pos)) return std::move(result_);
    if (!readStreamHeader(pos)) return std::move(result_);
    readSession(pos);
    return std::move(result_);
}

size_t Inspector::readPrologue(size_t pos) {
    size_t index = 0;
    bool matches = true;
    while (pos < job_.size() && job_[pos] == 0xA5) {
        if (result_.prologue.size() >= kMaxProloguePackets) {
            error(pos, "more than " + std::to_string(kMaxProloguePackets) +
                           " NPA packets before the PJL header");
            return job_.size();
        }
        if (job_.size() - pos < 3) {
            error(pos, "truncated NPA packet header");
            return job_.size();
        }
        const size_t length = size_t{3} + (size_t{job_[pos + 1]} << 8 | job_[pos + 2]);
        if (length > job_.size() - pos) {
            error(pos, "NPA packet of " + std::to_string(length) +
                           " bytes runs past the end of the job");
            return job_.size();
        }
        const std::span<const uint8_t> packet = job_.subspan(pos, length);
        auto same = [&](std::span<const uint8_t> tmpl) {
            return packet.size() == tmpl.size() &&
                   std::equal(packet.begin(), packet.end(), tmpl.begin());
        };
        std::string name = "unknown";
        if (same(kUsbSniff)) {
            name = "USB_SNIFF_COMMAND";
        } else if (same(kRegLangId)) {
            name = "NPA_COMMAND_REGLANGID";
        } else if (same(kExtErrors)) {
            name = "NPA_DEVCOMMAND_EXT_ERRORS";
        }
        if (index >= 4 || name != kPrologueNames[index]) {
            if (matches) {
                error(pos, "NPA packet " + std::to_string(index + 1) +
                               " of the status prologue is " + name + ", expected " +
                               (index < 4 ? kPrologueNames[index] : "the PJL header"));
            }
            matches = false;
        }
        result_.prologue.push_back({pos, static_cast<uint32_t>(length), name});
        ++index;
        pos += length;
    }
    if (matches && index > 0 && index < 4) {
        error(pos, "status prologue ends after " + std::to_string(index) + " of 4 NPA packets");
    }
    return pos;
}

bool Inspector::readPjlHeader(size_t& pos) {
    if (pos >= job_.size()) {
        error(pos, "job ends before the PJL header");
        return false;
    }
    if (!startsWith(pos, kUel)) {
        error(pos, "expected the PJL job header, ESC \"%-12345X@PJL JOB\"");
        return false;
    }
    pos += kUel.size();
    size_t cursor = 0;
    bool entered = false;
    while (!entered) {
        if (pos >= job_.size()) {
            error(pos, "job ends inside the PJL header, before @PJL ENTER LANGUAGE=PCLXL");
            return false;
        }
        if (!startsWith(pos, "@PJL")) {
            // The header has ended without its last line; the stream header may
            // still follow here.
            error(pos, "the PJL header ends without @PJL ENTER LANGUAGE=PCLXL");
            break;
        }
        const uint8_t* begin = job_.data() + pos;
        const auto* lf = static_cast<const uint8_t*>(std::memchr(begin, '\n', job_.size() - pos));
        if (!lf) {
            error(pos, "PJL line without a line feed");
            return false;
        }
        const size_t length = static_cast<size_t>(lf - begin);
        if (length > kMaxPjlLine) {
            error(pos, "PJL line of " + std::to_string(length) + " bytes, longer than " +
                           std::to_string(kMaxPjlLine));
        }
        if (result_.pjlLines.size() >= kMaxPjlLines) {
            error(pos, "more than " + std::to_string(kMaxPjlLines) + " PJL header lines");
            return false;
        }
        PjlLine line{
            pos, std::string(reinterpret_cast<const char*>(begin), std::min(length, kMaxPjlLine))};
        checkPjlLine(line, cursor);
        entered = line.text == "@PJL ENTER LANGUAGE=PCLXL";
        result_.pjlLines.push_back(std::move(line));
        pos += length + 1;
    }
    for (; cursor < kPjlEntries; ++cursor) {
        if (kPjlHeader[cursor].required && !(entered && cursor == kPjlEntries - 1)) {
            error(pos,
                  std::string("the PJL header has no @PJL ") + kPjlHeader[cursor].key + " line");
        }
    }
    return true;
}

void Inspector::checkPjlLine(const PjlLine& line, size_t& cursor) {
    std::string_view text = line.text;
    std::string_view command;
    if (text.size() > 5 && text.substr(0, 5) == "@PJL ") command = text.substr(5);
    auto matches = [&](size_t k) {
        std::string_view key = kPjlHeader[k].key;
        return command.substr(0, key.size()) == key || (key == "JOB" && command == "JOB");
    };
    size_t found = cursor;
    while (found < kPjlEntries && !matches(found))
        ++found;
    if (found == kPjlEntries) {
        bool earlier = false;
        for (size_t k = 0; k < cursor; ++k)
            earlier = earlier || matches(k);
        error(line.offset, std::string(earlier ? "PJL line out of order or repeated: "
                                               : "unexpected PJL line: ") +
                               quoted(text));
    } else {
        for (size_t k = cursor; k < found; ++k) {
            if (kPjlHeader[k].required) {
                error(line.offset, std::string("missing @PJL ") + kPjlHeader[k].key +
                                       " line before " + quoted(text));
            }
        }
        if (kPjlHeader[found].exact && text != kPjlHeader[found].exact) {
            error(line.offset,
                  "PJL line " + quoted(text) + ", expected " + quoted(kPjlHeader[found].exact));
        }
        cursor = found + 1;
    }
    if (command.substr(0, 4) == "SET ") {
        const std::string_view assignment = command.substr(4);
        const size_t eq = assignment.find('=');
        if (eq == std::string_view::npos) {
            error(line.offset, "PJL SET without a value: " + quoted(text));
            return;
        }
        std::string value(assignment.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        PjlSetting setting{std::string(assignment.substr(0, eq)), value};
        if (setting.name == "RESOLUTION") {
            char* end = nullptr;
            const long r = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || r <= 0 || r > 65535) {
                error(line.offset, "PJL RESOLUTION " + quoted(value) + " is not a resolution");
            } else {
                pjlResolution_ = static_cast<int>(r);
                pjlResolutionOffset_ = line.offset;
            }
        }
        result_.pjlSettings.push_back(std::move(setting));
    }
}

bool Inspector::readStreamHeader(size_t& pos) {
    result_.streamHeaderOffset = pos;
    if (pos >= job_.size()) {
        error(pos, "job ends before the PCL XL stream header");
        return false;
    }
    const size_t window = std::min(job_.size() - pos, kMaxStreamHeader);
    const uint8_t* begin = job_.data() + pos;
    const auto* lf = static_cast<const uint8_t*>(std::memchr(begin, '\n', window));
    if (!startsWith(pos, kStreamHeaderPrefix)) {
        std::string_view seen(reinterpret_cast<const char*>(begin),
                              std::min<size_t>(window, kStreamHeaderPrefix.size()));
        error(pos, "expected the PCL XL stream header " + quoted(kStreamHeaderPrefix) +
                       " (binary little-endian, protocol class 2.1), found " + quoted(seen));
        return false;
    }
    if (!lf) {
        error(pos, "PCL XL stream header has no line feed within " +
                       std::to_string(kMaxStreamHeader) + " bytes");
        return false;
    }
    const size_t length = static_cast<size_t>(lf - begin) + 1;
    result_.streamHeader.assign(reinterpret_cast<const char*>(begin), length - 1);
    if (length != kStreamHeaderLength) {
        error(pos, "PCL XL stream header is " + std::to_string(length) + " bytes, expected " +
                       std::to_string(kStreamHeaderLength));
    }
    pos += length;
    return true;
}

void Inspector::readSession(size_t pos) {
    XlReader reader(job_, pos);
    XlOperation op;
    while (true) {
        const XlReader::Status status = reader.next(op);
        if (status == XlReader::Status::Operation) {
            onOperation(op);
            continue;
        }
        const uint64_t where =
            status == XlReader::Status::Error ? reader.errorOffset() : reader.position();
        if (status == XlReader::Status::Error) error(reader.errorOffset(), reader.error());
        if (inPage_) {
            if (inImage_) error(where, "the page's last image has no EndImage");
            error(where, "page " + std::to_string(result_.pages.size() + 1) + " has no EndPage");
            finishPage(where, false);
        }
        if (status == XlReader::Status::Error) return;
        if (step_ != Step::Done) {
            error(reader.position(), std::string("the PCL XL session ends where ") +
                                         expectedText(step_) + " was expected");
        }
        if (status == XlReader::Status::EndOfInput) {
            error(reader.position(), "job ends without the PJL trailer");
            return;
        }
        readTrailer(reader.position());
        return;
    }
}

void Inspector::readTrailer(size_t pos) {
    if (!startsWith(pos, kUel)) {
        error(pos, "expected the PJL trailer, ESC \"%-12345X@PJL EOJ\"");
        return;
    }
    pos += kUel.size();
    size_t index = 0;
    while (pos < job_.size() && job_[pos] != 0x1B) {
        const uint8_t* begin = job_.data() + pos;
        const auto* lf = static_cast<const uint8_t*>(std::memchr(begin, '\n', job_.size() - pos));
        if (!lf) {
            error(pos, "PJL trailer line without a line feed");
            return;
        }
        const size_t length = static_cast<size_t>(lf - begin);
        if (result_.trailerLines.size() >= kMaxPjlLines) {
            error(pos, "more than " + std::to_string(kMaxPjlLines) + " PJL trailer lines");
            return;
        }
        PjlLine line{
            pos, std::string(reinterpret_cast<const char*>(begin), std::min(length, kMaxPjlLine))};
        if (index >= std::size(kTrailerLines)) {
            error(pos, "unexpected PJL trailer line " + quoted(line.text));
        } else if (line.text != kTrailerLines[index]) {
            error(pos, "PJL trailer line " + quoted(line.text) + ", expected " +
                           quoted(kTrailerLines[index]));
        }
        result_.trailerLines.push_back(std::move(line));
        ++index;
        pos += length + 1;
    }
    if (index < std::size(kTrailerLines)) {
        error(pos, "the PJL trailer has no " + quoted(kTrailerLines[index]) + " line");
    }
    if (!startsWith(pos, kUel)) {
        error(pos, "job ends without the closing ESC \"%-12345X\" of the PJL trailer");
        return;
    }
    pos += kUel.size();
    result_.complete = true;
    if (pos != job_.size()) {
        error(pos, std::to_string(job_.size() - pos) + " bytes after the end of the job");
    }
}

void Inspector::onOperation(const XlOperation& op) {
    if (!allowed(step_, op.op)) {
        error(op.opOffset,
              std::string("expected ") + expectedText(step_) + ", found " + xlOperatorName(op.op));
    }
    if (op.hasData && op.op != kOpReadImage) {
        error(op.dataOffset, "unexpected embedded data after " + xlOperatorName(op.op));
    }
    // Every operator is handled as what it is, so that one fault does not
    // hide everything after it.
    switch (op.op) {
        case kOpBeginSession:
            beginSession(op);
            break;
        case kOpOpenDataSource:
            openDataSource(op);
            break;
        case kOpComment:
            comment(op);
            break;
        case kOpBeginPage:
            beginPage(op);
            break;
        case kOpSetPageOrigin:
            setPageOrigin(op);
            break;
        case kOpSetPageScale:
            setPageScale(op);
            break;
        case kOpSetColorSpace:
            setColorSpace(op);
            break;
        case kOpPageExtension:
            pageExtension(op);
            break;
        case kOpSetROP:
            setRop(op);
            break;
        case kOpSetCursor:
            setCursor(op);
            break;
        case kOpBeginImage:
            beginImage(op);
            break;
        case kOpReadImage:
            readImage(op);
            break;
        case kOpEndImage:
            endImage(op);
            break;
        case kOpEndPage:
            endPage(op);
            break;
        case kOpCloseDataSource:
            noAttributes(op);
            step_ = Step::EndSession;
            break;
        case kOpEndSession:
            noAttributes(op);
            step_ = Step::Done;
            break;
        default:
            break;  // reported above as unexpected
    }
}

void Inspector::noAttributes(const XlOperation& op) {
    AttrCursor(*this, op).done();
}

void Inspector::beginSession(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (const XlAttr* units = a.take(kAtUnitsPerMeasure, {kXlUint16Xy})) {
        const double x = units->values[0], y = units->values[1];
        if (x != y || x == 0) {
            error(units->offset, "UnitsPerMeasure is " + num(x) + " x " + num(y) +
                                     ", expected the same non-zero resolution twice");
        }
        result_.resolution = static_cast<int>(x);
        if (pjlResolution_ != 0 && pjlResolution_ != result_.resolution) {
            error(units->offset, "UnitsPerMeasure " + num(x) + " differs from PJL RESOLUTION " +
                                     std::to_string(pjlResolution_));
        }
    }
    a.value(kAtMeasure, kXlUbyte, {0}, "eInch");
    a.value(kAtErrorReport, kXlUbyte, {3}, "eBackChAndErrPage");
    a.done();
    step_ = Step::OpenDataSource;
}

void Inspector::openDataSource(const XlOperation& op) {
    AttrCursor a(*this, op);
    a.value(kAtSourceType, kXlUbyte, {0}, "eDefaultDataSource");
    a.value(kAtDataOrg, kXlUbyte, {1}, "eBinaryLowByteFirst");
    a.done();
    step_ = Step::Comment;
}

void Inspector::comment(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (const XlAttr* data = a.take(kAtCommentData, {kXlUbyteArray})) {
        if (data->text() != kCommentText) {
            error(data->offset,
                  "CommentData is " + quoted(data->text()) + ", expected " + quoted(kCommentText));
        }
    }
    a.done();
    step_ = Step::PageOrClose;
}

void Inspector::beginPage(const XlOperation& op) {
    if (inPage_) {
        error(op.offset, "BeginPage inside page " + std::to_string(result_.pages.size() + 1));
        finishPage(op.offset, false);
    }
    inPage_ = true;
    page_ = PageInfo{};
    page_.offset = op.offset;
    canvas_ = PageImage{};
    canvasUsable_ = true;

    AttrCursor a(*this, op);
    if (auto v = a.value(kAtOrientation, kXlUbyte, {0}, "ePortraitOrientation")) {
        page_.orientation = static_cast<int>(*v);
    }
    if (auto v = a.value(kAtMediaSource, kXlUbyte, {})) page_.mediaSource = static_cast<int>(*v);
    if (op.find(kAtCustomMediaSize)) {
        if (const XlAttr* size = a.take(kAtCustomMediaSize, {kXlReal32Xy})) {
            page_.customSize = true;
            page_.customWidth = size->values[0];
            page_.customHeight = size->values[1];
            if (!(page_.customWidth > 0) || !(page_.customHeight > 0)) {
                error(size->offset, "CustomMediaSize " + num(page_.customWidth) + " x " +
                                        num(page_.customHeight) + " is not a page size");
            }
        }
        a.value(kAtCustomMediaSizeUnits, kXlUbyte, {0}, "eInch");
    } else if (const XlAttr* size = a.take(kAtMediaSize, {kXlUbyte, kXlUbyteArray})) {
        if (size->type == kXlUbyte) {
            page_.mediaSize = static_cast<int>(size->values[0]);
        } else {
            page_.mediaSizeName = size->text();
        }
    }
    if (const XlAttr* type = a.take(kAtMediaType, {kXlUbyteArray}, false)) {
        page_.mediaType = type->text();
        if (page_.mediaType == "Automatic") {
            error(type->offset, "MediaType \"Automatic\" is sent; it should be left out");
        }
    }
    if (auto v = a.value(kAtJobCopies, kXlUint16, {1})) page_.jobCopies = static_cast<int>(*v);
    if (auto v = a.value(kAtBorderType, kXlUbyte, {1, 2}, "eNoBorder or eWithBorder")) {
        page_.borderType = static_cast<int>(*v);
    }
    a.done();
    step_ = Step::PageOrigin;
}

void Inspector::setPageOrigin(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (const XlAttr* origin = a.take(kAtPageOrigin, {kXlSint16Xy})) {
        page_.originX = static_cast<int>(origin->values[0]);
        page_.originY = static_cast<int>(origin->values[1]);
        const bool zero = page_.originX == 0 && page_.originY == 0;
        const bool margin =
            page_.originX == page_.originY && (page_.originX == 50 || page_.originX == 100);
        if (page_.borderType == 1 && !zero) {
            error(origin->offset, "PageOrigin " + std::to_string(page_.originX) + "," +
                                      std::to_string(page_.originY) +
                                      " on a page without border, expected 0,0");
        } else if (page_.borderType == 2 && !margin) {
            error(origin->offset, "PageOrigin " + std::to_string(page_.originX) + "," +
                                      std::to_string(page_.originY) +
                                      " on a page with border, expected 50,50 or 100,100");
        }
    }
    a.done();
    step_ = Step::PageScale;
}

void Inspector::setPageScale(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (const XlAttr* scale = a.take(kAtPageScale, {kXlReal32Xy})) {
        if (scale->values[0] != 1.0 || scale->values[1] != 1.0) {
            error(scale->offset, "PageScale is " + num(scale->values[0]) + " x " +
                                     num(scale->values[1]) + ", expected 1 x 1");
        }
    }
    a.done();
    step_ = Step::ColorSpace;
}

void Inspector::setColorSpace(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (auto v =
            a.value(kAtColorSpace, kXlUbyte, {1, 2, 3}, "eGray, eRGB or eBlackAndWhite", false)) {
        page_.colorSpace = static_cast<int>(*v);
    }
    if (page_.colorSpace == 3) {
        if (auto v = a.value(kAtBWThreshold, kXlUbyte, {}))
            page_.bwThreshold = static_cast<int>(*v);
    } else if (page_.colorSpace == 1) {
        if (auto v = a.value(kAtHalftone, kXlUbyte, {0}, nullptr, false)) {
            page_.halftone = static_cast<int>(*v);
        }
    }
    a.done();
    step_ = Step::PageExtension;
}

void Inspector::pageExtension(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (auto v = a.value(kAtModeValue, kXlUbyte, {80})) page_.modeValue = static_cast<int>(*v);
    if (auto v = a.value(kAtColorJob, kXlUbyte, {0, 1})) page_.colorJob = static_cast<int>(*v);
    a.done();
    step_ = Step::Rop;
}

void Inspector::setRop(const XlOperation& op) {
    AttrCursor a(*this, op);
    a.value(kAtROP3, kXlUbyte, {204}, "source copy");
    a.done();
    step_ = Step::ImageOrEndPage;
}

void Inspector::setCursor(const XlOperation& op) {
    if (inImage_) error(op.offset, "SetCursor inside an image, before its EndImage");
    if (!inPage_) error(op.offset, "image outside a page");
    inImage_ = true;
    image_ = ImageInfo{};
    image_.offset = op.offset;
    imageUsable_ = false;
    havePicture_ = haveTags_ = false;
    picture_ = tags_ = {};
    AttrCursor a(*this, op);
    if (const XlAttr* point = a.take(kAtPoint, {kXlSint16Xy})) {
        image_.x = static_cast<int>(point->values[0]);
        image_.y = static_cast<int>(point->values[1]);
        if (image_.x != 0 || image_.y != static_cast<int64_t>(page_.height)) {
            error(point->offset, "image placed at " + std::to_string(image_.x) + "," +
                                     std::to_string(image_.y) + ", expected 0," +
                                     std::to_string(page_.height) +
                                     " (right below the previous image)");
        }
    }
    a.done();
    step_ = Step::BeginImage;
}

void Inspector::beginImage(const XlOperation& op) {
    AttrCursor a(*this, op);
    a.value(kAtColorMapping, kXlUbyte, {0}, "eDirectPixel");
    a.value(kAtColorDepth, kXlUbyte, {2}, "e8Bit");
    const auto width = a.value(kAtSourceWidth, kXlUint16, {});
    const auto rows = a.value(kAtSourceHeight, kXlUint16, {});
    const XlAttr* dest = a.take(kAtDestinationSize, {kXlUint16Xy});
    a.value(kAtImageFA, kXlUbyte, {8});
    a.value(kAtImageF9, kXlUbyte, {2});
    a.value(kAtImageF8, kXlUint16, {0});
    if (const XlAttr* res = a.take(kAtImageF7, {kXlUint16})) {
        if (result_.resolution != 0 && res->values[0] != result_.resolution) {
            error(res->offset, "attribute 0xF7 is " + num(res->values[0]) +
                                   ", expected the session resolution " +
                                   std::to_string(result_.resolution));
        }
    }
    a.value(kAtImageF6, kXlUint16, {6});
    a.done();
    step_ = Step::ReadPicture;

    if (!width || !rows) return;
    image_.width = static_cast<uint32_t>(*width);
    image_.rows = static_cast<uint32_t>(*rows);
    if (dest && (dest->values[0] != *width || dest->values[1] != *rows)) {
        error(dest->offset, "DestinationSize " + num(dest->values[0]) + " x " +
                                num(dest->values[1]) + " differs from the source size " +
                                num(*width) + " x " + num(*rows));
    }
    const bool color = page_.colorJob == 1 || (page_.colorJob < 0 && page_.colorSpace == 2);
    const uint32_t widthStep = color ? 16 : 8;
    bool sound = true;
    if (image_.width == 0 || image_.width % widthStep != 0) {
        error(op.offset, "SourceWidth " + std::to_string(image_.width) +
                             " is not a positive multiple of " + std::to_string(widthStep) +
                             (color ? " (colour)" : " (gray)"));
        sound = false;
    }
    if (image_.rows == 0 || image_.rows % 8 != 0 || image_.rows > kMaxImageRows) {
        error(op.offset, "SourceHeight " + std::to_string(image_.rows) +
                             " is not a multiple of 8 from 8 to " + std::to_string(kMaxImageRows));
        sound = false;
    }
    if (!page_.images.empty() && page_.images.front().width != image_.width) {
        error(op.offset, "image width " + std::to_string(image_.width) +
                             " differs from the page's first image (" +
                             std::to_string(page_.images.front().width) + ")");
        sound = false;
    }
    if (image_.y < 0) sound = false;
    imageUsable_ = sound;
}

void Inspector::readImage(const XlOperation& op) {
    AttrCursor a(*this, op);
    a.value(kAtStartLine, kXlUint16, {0});
    if (auto height = a.value(kAtBlockHeight, kXlUint16, {})) {
        if (image_.rows != 0 && *height != image_.rows) {
            error(op.offset, "BlockHeight " + num(*height) + " differs from SourceHeight " +
                                 std::to_string(image_.rows));
        }
    }
    // Which block this is follows from its CompressMode; without one, from
    // where it stands.
    double mode = step_ == Step::ReadTags ? kCompressTbrle : kCompressJpegBands;
    if (const XlAttr* m = a.take(kAtCompressMode, {kXlUbyte})) {
        mode = m->values[0];
        const double want = step_ == Step::ReadTags ? kCompressTbrle : kCompressJpegBands;
        if ((step_ == Step::ReadPicture || step_ == Step::ReadTags) && mode != want) {
            error(m->offset, "CompressMode is " + num(mode) + ", expected " + num(want) +
                                 (want == kCompressTbrle ? " (TBRLE tag plane)" : " (JPEG bands)"));
        } else if (mode != kCompressJpegBands && mode != kCompressTbrle) {
            error(m->offset, "CompressMode is " + num(mode) + ", expected 246 or 247");
        }
    }
    a.done();
    if (!op.hasData) error(op.end, "ReadImage without embedded data");
    if (!inImage_) return;
    if (mode == kCompressTbrle) {
        tags_ = op.data;
        haveTags_ = op.hasData;
        image_.tagOffset = op.dataOffset;
        image_.tagBytes = op.data.size();
        step_ = Step::EndImage;
    } else {
        picture_ = op.data;
        havePicture_ = op.hasData;
        image_.jpegOffset = op.dataOffset;
        image_.jpegBytes = op.data.size();
        step_ = Step::ReadTags;
    }
}

void Inspector::endImage(const XlOperation& op) {
    noAttributes(op);
    step_ = Step::ImageOrEndPage;
    if (!inImage_) return;
    inImage_ = false;
    if (imageUsable_ && havePicture_ && haveTags_) decodeImage(image_, picture_, tags_);
    if (image_.y >= 0) {
        page_.height =
            std::max<uint32_t>(page_.height, static_cast<uint32_t>(image_.y) + image_.rows);
    }
    if (page_.width == 0) page_.width = image_.width;
    page_.images.push_back(image_);
}

void Inspector::decodeImage(ImageInfo& image, std::span<const uint8_t> picture,
                            std::span<const uint8_t> tags) {
    const BandScan scan = scanBandStream(picture, image.jpegOffset + 5, image.rows / 8);
    image.restartMarkers = scan.restarts;
    image.flatMarkers = scan.flatMarkers;
    image.tableMarkers = scan.tableMarkers;
    for (const Issue& p : scan.problems)
        error(p.offset, p.message);
    if (!opt_.decode || !canvasUsable_) return;

    // The page limit bounds the work and the memory of one page; it is
    // checked before anything is decoded.
    const uint64_t height = uint64_t{static_cast<uint32_t>(image.y)} + image.rows;
    if (uint64_t{image.width} * height > opt_.maxPagePixels) {
        error(image.offset, "page of " + std::to_string(image.width) + " x " +
                                std::to_string(height) + " pixels is larger than the limit of " +
                                std::to_string(opt_.maxPagePixels) + " pixels; not decoded");
        canvasUsable_ = false;
        canvas_ = PageImage{};
        return;
    }

    std::string message;
    bool ok = scan.problems.empty();
    if (!decodeTagBlock(tags, image.width, image.rows, image.tagCounts, message)) {
        error(image.tagOffset, message);
        ok = false;
    } else if (image.tagCounts[0] + image.tagCounts[1] + image.tagCounts[2] > 0) {
        warning(image.tagOffset, "tag plane holds values other than 3");
    }
    // Picture data whose restart structure is broken cannot decode; leave
    // its rows white.
    if (!scan.problems.empty()) return;

    const bool color = page_.colorJob == 1 || (page_.colorJob < 0 && page_.colorSpace == 2);
    std::vector<uint8_t> pixels;
    if (!decodePictureBlock(picture, image.width, image.rows, color, pixels, message)) {
        error(image.jpegOffset, message);
        return;
    }
    image.decoded = ok;
    if (!opt_.onPage) return;

    // Place the image on the page: rows [y, y + rows) of the canvas.
    const int channels = color ? 3 : 1;
    if (canvas_.width == 0) {
        canvas_.width = image.width;
        canvas_.channels = channels;
    }
    if (canvas_.width != image.width || canvas_.channels != channels) return;
    if (height > canvas_.height) {
        canvas_.height = static_cast<uint32_t>(height);
        canvas_.pixels.resize(size_t{canvas_.width} * canvas_.height * channels, 0xFF);
    }
    std::copy(
        pixels.begin(), pixels.end(),
        canvas_.pixels.begin() + static_cast<ptrdiff_t>(size_t{static_cast<uint32_t>(image.y)} *
                                                        image.width * channels));
}

void Inspector::endPage(const XlOperation& op) {
    AttrCursor a(*this, op);
    if (auto v = a.value(kAtPageCopies, kXlUint16, {1})) page_.pageCopies = static_cast<int>(*v);
    a.done();
    if (inImage_) {
        error(op.offset, "EndPage inside an image, before its EndImage");
        inImage_ = false;
    }
    if (!inPage_) {
        error(op.offset, "EndPage outside a page");
    } else {
        finishPage(op.end, true);
    }
    step_ = Step::PageOrClose;
}

void Inspector::finishPage(uint64_t end, bool complete) {
    page_.end = end;
    page_.complete = complete;
    inPage_ = false;
    if (page_.images.empty()) {
        warning(page_.offset,
                "page " + std::to_string(result_.pages.size() + 1) + " has no images");
    }
    if (opt_.onPage && opt_.decode) {
        // Pixels no image covered stay white; a page with no image, or one
        // too large to assemble, is handed over empty (0 x 0).  Images that
        // were not decoded still count for the page's height, so the limit
        // is checked again here.
        if (canvasUsable_ && uint64_t{canvas_.width} * page_.height > opt_.maxPagePixels) {
            error(page_.offset, "page of " + std::to_string(canvas_.width) + " x " +
                                    std::to_string(page_.height) +
                                    " pixels is larger than the limit of " +
                                    std::to_string(opt_.maxPagePixels) + " pixels; not decoded");
            canvasUsable_ = false;
        }
        if (!canvasUsable_) canvas_ = PageImage{};
        if (canvas_.width != 0 && canvas_.height < page_.height) {
            canvas_.height = page_.height;
            canvas_.pixels.resize(size_t{canvas_.width} * canvas_.height * canvas_.channels, 0xFF);
        }
        opt_.onPage(result_.pages.size(), page_, canvas_);
    }
    canvas_ = PageImage{};
    result_.pages.push_back(std::move(page_));
    page_ = PageInfo{};
}

}  // namespace

std::string InspectResult::pjl(const std::string& name) const {
    for (const auto& s : pjlSettings) {
        if (s.name == name) return s.value;
    }
    return {};
}

std::string mediaSizeEnumName(int value) {
    // The MediaSize enumeration of PCL XL class 2.0 and later, as far as this
    // system sends it.
    static constexpr const char* kNames[] = {"Letter",
                                             "Legal",
                                             "A4",
                                             "Executive",
                                             "Ledger",
                                             "A3",
                                             "COM10 envelope",
                                             "Monarch envelope",
                                             "C5 envelope",
                                             "DL envelope",
                                             "JIS B4",
                                             "JIS B5",
                                             "B5 envelope",
                                             nullptr,
                                             "Japanese postcard",
                                             "Japanese double postcard",
                                             "A5"};
    if (value < 0 || value >= static_cast<int>(std::size(kNames)) || !kNames[value]) return {};
    return kNames[value];
}

InspectResult inspectJob(std::span<const uint8_t> job, const InspectOptions& options) {
    return Inspector(job, options).run();
}

}  // namespace inspect
