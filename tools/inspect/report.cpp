#include "tools/inspect/report.h"

#include <cstdio>
#include <set>

#include "tools/inspect/json.h"

namespace inspect {
namespace {

std::string format(const char* fmt, double a, double b) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

std::string mediaText(const PageInfo& p) {
    if (p.customSize) return format("custom %.2f x %.2f in", p.customWidth, p.customHeight);
    if (p.mediaSize >= 0) {
        const std::string name = mediaSizeEnumName(p.mediaSize);
        return name.empty() ? "MediaSize " + std::to_string(p.mediaSize)
                            : name + " (MediaSize " + std::to_string(p.mediaSize) + ")";
    }
    if (!p.mediaSizeName.empty()) return "\"" + p.mediaSizeName + "\"";
    return "no size";
}

std::string colorText(const PageInfo& p) {
    std::string s;
    switch (p.colorSpace) {
        case 1:
            s = p.halftone >= 0 ? "gray (halftone)" : "gray";
            break;
        case 2:
            s = "RGB";
            break;
        case 3:
            s = "black and white, threshold " + std::to_string(p.bwThreshold);
            break;
        default:
            s = "no colour space";
            break;
    }
    return s + (p.colorJob == 1 ? ", colour job" : ", gray job");
}

std::string sideName(int rasterPage) {
    if (rasterPage == kWhiteSide) return "white back side";
    if (rasterPage < 0) return "(none expected)";
    return "raster page " + std::to_string(rasterPage + 1);
}

void issues(std::string& out, const char* title, const std::vector<Issue>& list) {
    if (list.empty()) return;
    out += std::string(title) + " (" + std::to_string(list.size()) + "):\n";
    for (const Issue& i : list) {
        out += "  at offset " + std::to_string(i.offset) + ": " + i.message + "\n";
    }
}

void jsonIssues(JsonWriter& w, const char* name, const std::vector<Issue>& list) {
    w.key(name);
    w.beginArray();
    for (const Issue& i : list) {
        w.beginObject();
        w.member("offset", i.offset);
        w.member("message", i.message);
        w.endObject();
    }
    w.endArray();
}

void jsonLines(JsonWriter& w, const char* name, const std::vector<PjlLine>& lines) {
    w.key(name);
    w.beginArray();
    for (const PjlLine& l : lines) {
        w.beginObject();
        w.member("offset", l.offset);
        w.member("text", l.text);
        w.endObject();
    }
    w.endArray();
}

// -1 stands for "absent" in the page record; JSON says null.
void optionalInt(JsonWriter& w, const char* name, int v) {
    w.key(name);
    if (v < 0) {
        w.null();
    } else {
        w.value(v);
    }
}

}  // namespace

std::string textReport(const std::string& name, const InspectResult& r,
                       const RasterComparison* cmp) {
    std::string out;
    out += "Job " + name + ": " + std::to_string(r.size) + " bytes, " +
           (r.ok() ? "well-formed" : "MALFORMED") + "\n";
    if (!r.prologue.empty()) {
        out += "USB status prologue:";
        for (size_t i = 0; i < r.prologue.size(); ++i) {
            out += (i ? ", " : " ") + r.prologue[i].name;
        }
        out += "\n";
    }
    out += "PJL header (" + std::to_string(r.pjlLines.size()) + " lines):\n";
    for (const PjlLine& l : r.pjlLines)
        out += "  " + l.text + "\n";
    if (!r.streamHeader.empty()) {
        const size_t end = r.streamHeader.find_last_not_of(' ');
        out += "PCL XL stream header: " + r.streamHeader.substr(0, end + 1) + "\n";
    }
    if (r.resolution) out += "Session: " + std::to_string(r.resolution) + " units per inch\n";
    out += "Pages: " + std::to_string(r.pages.size()) + "\n";
    for (size_t i = 0; i < r.pages.size(); ++i) {
        const PageInfo& p = r.pages[i];
        out += "  page " + std::to_string(i + 1) + ": " + mediaText(p);
        out += ", source " + std::to_string(p.mediaSource);
        out += ", media " +
               (p.mediaType.empty() ? std::string("Automatic") : "\"" + p.mediaType + "\"");
        out += p.borderType == 1 ? ", no border" : ", border";
        out += ", origin " + std::to_string(p.originX) + "," + std::to_string(p.originY);
        out += ", " + colorText(p);
        out += "; " + std::to_string(p.width) + " x " + std::to_string(p.height) + " pixels in " +
               std::to_string(p.images.size()) + (p.images.size() == 1 ? " image" : " images");
        uint64_t jpeg = 0, tags = 0;
        for (const ImageInfo& im : p.images) {
            jpeg += im.jpegBytes;
            tags += im.tagBytes;
        }
        out += " (" + std::to_string(jpeg) + " JPEG + " + std::to_string(tags) + " tag bytes)";
        out += "; " + std::to_string(p.bytes()) + " bytes at offset " + std::to_string(p.offset);
        if (!p.complete) out += "; NOT CLOSED";
        out += "\n";
    }
    if (!r.trailerLines.empty()) {
        out += "PJL trailer:";
        for (const PjlLine& l : r.trailerLines)
            out += " " + l.text + ";";
        out += r.complete ? " closed\n" : " NOT CLOSED\n";
    }
    issues(out, "Errors", r.errors);
    issues(out, "Warnings", r.warnings);
    if (r.droppedIssues) out += "  ... and " + std::to_string(r.droppedIssues) + " more\n";
    if (cmp) {
        out += "Raster " + cmp->path + ": " + std::to_string(cmp->rasterPages) +
               (cmp->rasterPages == 1 ? " page" : " pages") + ", copies " +
               std::to_string(cmp->copies) + (cmp->duplex ? ", duplex" : ", simplex") + "; " +
               std::to_string(cmp->expectedSides) + " page sides expected, " +
               std::to_string(cmp->printedSides) + " printed\n";
        for (const SideComparison& s : cmp->sides) {
            out += "  side " + std::to_string(s.index + 1) + ": " + sideName(s.rasterPage);
            if (s.rasterPage >= 0 && s.psnr > 0) out += format(", PSNR %.2f dB", s.psnr, 0);
            out += s.ok ? ", ok" : ", MISMATCH";
            if (!s.message.empty()) out += " (" + s.message + ")";
            out += "\n";
        }
        for (const std::string& e : cmp->errors)
            out += "  " + e + "\n";
        out += std::string("Raster comparison: ") + (cmp->ok() ? "match" : "MISMATCH") + "\n";
    }
    return out;
}

std::string jsonReport(const std::string& name, const InspectResult& r,
                       const RasterComparison* cmp) {
    std::string out;
    JsonWriter w(out);
    w.beginObject();
    w.member("job", name);
    w.member("bytes", r.size);
    w.member("ok", r.ok());
    w.member("complete", r.complete);

    w.key("prologue");
    w.beginArray();
    for (const NpaPacket& p : r.prologue) {
        w.beginObject();
        w.member("offset", p.offset);
        w.member("length", p.length);
        w.member("name", p.name);
        w.endObject();
    }
    w.endArray();

    w.key("pjl");
    w.beginObject();
    jsonLines(w, "lines", r.pjlLines);
    w.key("settings");
    w.beginObject();
    std::set<std::string> seen;  // a repeated variable keeps its first value here
    for (const PjlSetting& s : r.pjlSettings) {
        if (seen.insert(s.name).second) w.member(s.name, s.value);
    }
    w.endObject();
    w.endObject();

    w.key("streamHeader");
    w.beginObject();
    w.member("offset", r.streamHeaderOffset);
    w.member("text", r.streamHeader);
    w.endObject();
    w.member("resolution", r.resolution);

    w.key("pages");
    w.beginArray();
    for (size_t i = 0; i < r.pages.size(); ++i) {
        const PageInfo& p = r.pages[i];
        w.beginObject();
        w.member("index", i + 1);
        w.member("offset", p.offset);
        w.member("bytes", p.bytes());
        w.member("complete", p.complete);
        optionalInt(w, "orientation", p.orientation);
        optionalInt(w, "mediaSource", p.mediaSource);
        optionalInt(w, "mediaSize", p.mediaSize);
        w.member("mediaSizeName",
                 p.mediaSize >= 0 ? mediaSizeEnumName(p.mediaSize) : p.mediaSizeName);
        w.key("customSize");
        if (p.customSize) {
            w.beginArray();
            w.value(p.customWidth);
            w.value(p.customHeight);
            w.endArray();
        } else {
            w.null();
        }
        w.member("mediaType", p.mediaType.empty() ? std::string("Automatic") : p.mediaType);
        optionalInt(w, "jobCopies", p.jobCopies);
        optionalInt(w, "borderType", p.borderType);
        w.key("origin");
        w.beginArray();
        w.value(p.originX);
        w.value(p.originY);
        w.endArray();
        optionalInt(w, "colorSpace", p.colorSpace);
        optionalInt(w, "bwThreshold", p.bwThreshold);
        optionalInt(w, "halftone", p.halftone);
        optionalInt(w, "colorJob", p.colorJob);
        optionalInt(w, "modeValue", p.modeValue);
        optionalInt(w, "pageCopies", p.pageCopies);
        w.member("color", p.isColor());
        w.member("width", p.width);
        w.member("height", p.height);
        w.key("images");
        w.beginArray();
        for (const ImageInfo& im : p.images) {
            w.beginObject();
            w.member("offset", im.offset);
            w.member("x", im.x);
            w.member("y", im.y);
            w.member("width", im.width);
            w.member("rows", im.rows);
            w.member("jpegOffset", im.jpegOffset);
            w.member("jpegBytes", im.jpegBytes);
            w.member("tagOffset", im.tagOffset);
            w.member("tagBytes", im.tagBytes);
            w.member("restartMarkers", im.restartMarkers);
            w.member("flatMarkers", im.flatMarkers);
            w.member("tableMarkers", im.tableMarkers);
            w.member("decoded", im.decoded);
            w.key("tagCounts");
            w.beginArray();
            for (uint64_t c : im.tagCounts)
                w.value(c);
            w.endArray();
            w.endObject();
        }
        w.endArray();
        w.endObject();
    }
    w.endArray();

    jsonLines(w, "trailer", r.trailerLines);
    jsonIssues(w, "errors", r.errors);
    jsonIssues(w, "warnings", r.warnings);
    w.member("droppedIssues", r.droppedIssues);

    if (cmp) {
        w.key("comparison");
        w.beginObject();
        w.member("raster", cmp->path);
        w.member("rasterPages", cmp->rasterPages);
        w.member("copies", cmp->copies);
        w.member("duplex", cmp->duplex);
        w.member("minPsnr", cmp->minPsnr);
        w.member("expectedSides", cmp->expectedSides);
        w.member("printedSides", cmp->printedSides);
        w.member("ok", cmp->ok());
        w.key("sides");
        w.beginArray();
        for (const SideComparison& s : cmp->sides) {
            w.beginObject();
            w.member("index", s.index + 1);
            w.key("rasterPage");
            if (s.rasterPage >= 0) {
                w.value(s.rasterPage + 1);
            } else {
                w.null();
            }
            w.member("white", s.rasterPage == kWhiteSide);
            w.member("ok", s.ok);
            w.key("psnr");
            if (s.rasterPage >= 0 && s.psnr > 0) {
                w.value(s.psnr);
            } else {
                w.null();
            }
            w.member("message", s.message);
            w.endObject();
        }
        w.endArray();
        w.key("errors");
        w.beginArray();
        for (const std::string& e : cmp->errors)
            w.value(e);
        w.endArray();
        w.endObject();
    }
    w.endObject();
    return out;
}

}  // namespace inspect
