#include "printstream/jobstream.h"

#include <algorithm>
#include <cstdio>

#include "base/messages.h"
#include "status/NPACommands.h"

namespace {

// PJL job header lines, in the order they are sent.  "%%" is one '%', so the
// header starts (and the trailer starts and ends) with the Universal Exit
// Language sequence ESC "%-12345X".
constexpr char PJL_START_JOB[] = "\x1b%%-12345X@PJL JOB\n";
constexpr char PJL_STRINGCODESET[] = "@PJL SET STRINGCODESET=UTF8\n";
constexpr char PJL_FDATETIME[] = "@PJL SET FDATETIME=%f\n";
constexpr char PJL_CMD_COMMENT_DRIVERNAME[] = "@PJL COMMENT %s\n";
constexpr char PJL_CMD_JOBNAME[] = "@PJL SET JOBNAME=\"%s\"\n";
constexpr char PJL_CMD_HOSTID[] = "@PJL LJOBINFO HOSTID=\"%s\"\n";
constexpr char PJL_CMD_SET_SHARPEN[] = "@PJL SET LSHARPEN=%s\n";
constexpr char PJL_CMD_SET_COLOR_MODEL[] = "@PJL SET LCOLORMODEL=%s\n";
constexpr char PJL_CMD_SET_TONER_SAVE[] = "@PJL SET ECONOMODE=%s\n";
constexpr char PJL_CMD_SET_IMPROVE_SETTINGS[] = "@PJL SET FIMPROVE=%s\n";
constexpr char PJL_CMD_SET_REDUCE_GHOSTING[] = "@PJL SET FGHOST=%s\n";
constexpr char PJL_CMD_SET_IMPROVE_DENSITY[] = "@PJL SET FDENSITY=%s\n";
constexpr char PJL_CMD_SET_COLORTABLE_PREFERENCE[] = "@PJL SET LCTPREFERENCE=%s\n";
constexpr char PJL_CMD_SET_INK_SET[] = "@PJL SET LINKSET=%s\n";
constexpr char PJL_CMD_SET_BRIGHTNESS[] = "@PJL SET LIMAGEBRIGHTNESS=%d\n";
constexpr char PJL_CMD_SET_PRINT_QUALITY[] = "@PJL SET PRINTQUALITY=%s\n";
constexpr char PJL_CMD_SET_DUPLEX[] = "@PJL SET DUPLEX=%s\n";
constexpr char PJL_CMD_SET_BINDING[] = "@PJL SET BINDING=%s\n";
constexpr char PJL_CMD_SET_COLLATION[] = "@PJL SET LCOLLATION=%s\n";
constexpr char PJL_CMD_SET_DUPLEXDRYTIME[] = "@PJL SET LDRYTIMEDELAY=%s\n";
constexpr char PJL_CMD_SET_RESOLUTION[] = "@PJL SET RESOLUTION=%d\n";
constexpr char PJL_CMD_SET_BORDERLESS[] = "@PJL SET LPAGEMODE=%s\n";
constexpr char PJL_CMD_SET_CONTRAST[] = "@PJL SET LIMAGECONTRAST=%d\n";
constexpr char PJL_MULTIPAGEPRINT[] = "@PJL SET LMULTIPAGEPRINT=OFF\n";
constexpr char PJL_ENTER_XL[] = "@PJL ENTER LANGUAGE=PCLXL\n";
constexpr char PJL_END_JOB[] = "\x1b%%-12345X@PJL EOJ\n@PJL LPORTROTATE\n\x1b%%-12345X";

// Formats PJL lines into one bounded buffer and hands exactly the formatted
// characters to the sink.
class PjlWriter {
  public:
    explicit PjlWriter(ByteSink sink) : sink_(sink) {}

    void line(const char* format) { send(std::snprintf(buf_.data(), buf_.size(), format, "")); }

    void number(const char* format, int value) {
        send(std::snprintf(buf_.data(), buf_.size(), format, value));
    }

    void real(const char* format, double value) {
        send(std::snprintf(buf_.data(), buf_.size(), format, value));
    }

    // A line with one text value.  The value is made safe (pjlValueText);
    // when the line would not fit the buffer, the value (not the line) is cut,
    // at a UTF-8 character boundary, so the line keeps its closing quote and
    // line feed and the next command still starts a line of its own.
    void text(const char* format, std::string_view value) {
        std::string safe = pjlValueText(value);
        int fixed = std::snprintf(buf_.data(), buf_.size(), format, "");
        if (fixed < 0) return;
        size_t room = static_cast<size_t>(fixed) < kPjlBufferSize - 1
                          ? kPjlBufferSize - 1 - static_cast<size_t>(fixed)
                          : 0;
        if (safe.size() > room) {
            size_t cut = room;
            // Never leave the first bytes of a multi-byte character behind.
            while (cut > 0 && (static_cast<uint8_t>(safe[cut]) & 0xC0) == 0x80)
                --cut;
            safe.resize(cut);
        }
        send(std::snprintf(buf_.data(), buf_.size(), format, safe.c_str()));
    }

  private:
    void send(int formatted) {
        if (formatted <= 0 || sink_ == nullptr) return;
        size_t length = std::min(static_cast<size_t>(formatted), kPjlBufferSize - 1);
        sink_(reinterpret_cast<const uint8_t*>(buf_.data()), static_cast<uint32_t>(length));
    }

    ByteSink sink_;
    std::array<char, kPjlBufferSize> buf_{};
};

// An optional setting is sent only when an option offered it.
bool offered(const std::string& value) {
    return !value.empty() && value != kInvalidOption;
}

// A setting that is always sent still needs a value to make a valid command.
void textIfSet(PjlWriter& pjl, const char* format, const std::string& value) {
    if (!value.empty()) pjl.text(format, value);
}

template <size_t N>
void writeRecord(ByteSink sink, const std::array<uint8_t, N>& record) {
    outputBytes(sink, record.data(), static_cast<uint32_t>(record.size()));
}

}  // namespace

std::string replaceControlBytes(std::string_view text) {
    std::string safe(text);
    for (char& c : safe) {
        auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F) c = ' ';
    }
    return safe;
}

namespace {

// Length of the valid UTF-8 character at the start of `text` (1 to 4), or 0
// when the bytes there are none (stray continuation byte, overlong form,
// surrogate, beyond U+10FFFF, or cut off).
size_t utf8CharLength(std::string_view text) {
    auto at = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = at(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // at most U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    if (at(1) < low || at(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((at(i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::string pjlValueText(std::string_view text) {
    std::string safe;
    safe.reserve(text.size());
    while (!text.empty()) {
        size_t length = utf8CharLength(text);
        if (length == 0) {
            safe += '?';
            text.remove_prefix(1);
            continue;
        }
        if (length == 1) {
            char c = text[0];
            auto byte = static_cast<uint8_t>(c);
            if (byte < 0x20 || byte == 0x7F) c = ' ';
            if (c == '"') c = '\'';
            safe += c;
        } else {
            safe.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return safe;
}

std::string replaceControlBytes(const char* text) {
    return text == nullptr ? std::string() : replaceControlBytes(std::string_view(text));
}

void writeStatusPrologue(ByteSink sink) {
    writeRecord(sink, USB_SNIFF_COMMAND);
    writeRecord(sink, NPA_COMMAND_REGLANGID);
    writeRecord(sink, USB_SNIFF_COMMAND);
    writeRecord(sink, NPA_DEVCOMMAND_EXT_ERRORS);
}

void writePjlHeader(ByteSink sink, const JobSetting& js, const char* title, const char* user,
                    bool bannerJob) {
    PjlWriter pjl(sink);
    pjl.line(PJL_START_JOB);
    pjl.line(PJL_STRINGCODESET);
    pjl.real(PJL_FDATETIME, js.fDateTime);
    pjl.text(PJL_CMD_COMMENT_DRIVERNAME, kDriverName);
    pjl.text(PJL_CMD_JOBNAME, title == nullptr ? "" : title);
    pjl.text(PJL_CMD_HOSTID, user == nullptr ? "" : user);
    if (offered(js.sharpen)) pjl.text(PJL_CMD_SET_SHARPEN, js.sharpen);
    textIfSet(pjl, PJL_CMD_SET_COLOR_MODEL, js.colorModel);

    if (offered(js.tonersave)) {
        pjl.text(PJL_CMD_SET_TONER_SAVE, js.tonersave);
    } else {
        msgf("jobsetting->tonersave in start_doc is not NULL\n");
    }
    if (offered(js.improvementSettings)) {
        msgf("inside improvementSettings ");
        pjl.text(PJL_CMD_SET_IMPROVE_SETTINGS, js.improvementSettings);
    } else {
        msgf("jobsetting->improvementSettings in start_doc is not NULL\n");
    }
    if (offered(js.ghosting)) {
        pjl.text(PJL_CMD_SET_REDUCE_GHOSTING, js.ghosting);
    } else {
        msgf("jobsetting->ghosting in start_doc is not NULL\n");
    }
    if (offered(js.printDensity)) {
        pjl.text(PJL_CMD_SET_IMPROVE_DENSITY, js.printDensity);
    } else {
        msgf("jobsetting->printDensity in start_doc is not NULL\n");
    }

    textIfSet(pjl, PJL_CMD_SET_COLORTABLE_PREFERENCE, js.colorPreference);
    if (offered(js.inkToUse)) pjl.text(PJL_CMD_SET_INK_SET, js.inkToUse);
    pjl.number(PJL_CMD_SET_BRIGHTNESS, 0);
    textIfSet(pjl, PJL_CMD_SET_PRINT_QUALITY, js.printQuality);
    textIfSet(pjl, PJL_CMD_SET_DUPLEX, js.duplex);
    if (!bannerJob && js.duplex == "ON") textIfSet(pjl, PJL_CMD_SET_BINDING, js.binding);
    textIfSet(pjl, PJL_CMD_SET_COLLATION, js.collation);
    if (offered(js.duplexDryTime)) pjl.text(PJL_CMD_SET_DUPLEXDRYTIME, js.duplexDryTime);
    pjl.number(PJL_CMD_SET_RESOLUTION, static_cast<int>(js.resolution));
    textIfSet(pjl, PJL_CMD_SET_BORDERLESS, js.pageMode);
    pjl.number(PJL_CMD_SET_CONTRAST, 0);
    pjl.line(PJL_MULTIPAGEPRINT);
    pjl.line(PJL_ENTER_XL);
}

void writeStreamHeader(ByteSink sink) {
    writeRecord(sink, PCLXL_STREAM_HEADER);
}

void writeSessionStart(ByteSink sink, uint32_t resolution) {
    // Units per inch = the print resolution, so page coordinates are in dots.
    auto units = static_cast<uint16_t>(resolution);
    outputXLAttrUInt16XY(sink, kAttrUnitsPerMeasure, units, units);
    outputXLAttrByte(sink, kAttrMeasure, eInch);
    outputXLAttrByte(sink, kAttrErrorReport, eBackChAndErrPage);
    outputOperator(sink, kOpBeginSession);
    outputXLAttrByte(sink, kAttrSourceType, eDefaultDataSource);
    outputXLAttrByte(sink, kAttrDataOrg, eBinaryLowByteFirst);
    outputOperator(sink, kOpOpenDataSource);
    writeRecord(sink, PCLXL_SESSION_COMMENT);
}

void writeJobEnd(ByteSink sink) {
    outputOperator(sink, kOpCloseDataSource);
    outputOperator(sink, kOpEndSession);
    PjlWriter pjl(sink);
    pjl.line(PJL_END_JOB);
}
