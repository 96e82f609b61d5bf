// The bytes that frame a job on the printer stream: the USB status prologue,
// the PJL job header, the PCL XL stream header and session start, and after the
// last page the session end and the PJL trailer.  Each writer takes the byte
// sink first (the job run passes the output ring's writer).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "printstream/pclxl.h"
#include "settings/record.h"

// Every PJL line is formatted into one buffer of this size; a line never has
// more than kPjlBufferSize - 1 characters.
inline constexpr size_t kPjlBufferSize = 2048;

namespace jobstream_detail {
// The bytes of a text literal without its terminating NUL.
template <size_t N>
consteval std::array<uint8_t, N - 1> textBytes(const char (&text)[N]) {
    std::array<uint8_t, N - 1> bytes{};
    for (size_t i = 0; i + 1 < N; ++i)
        bytes[i] = static_cast<uint8_t>(text[i]);
    return bytes;
}

// A Comment operator whose CommentData is the ubyte_array `text`.
template <size_t N>
consteval std::array<uint8_t, N - 1 + 6> commentRecord(const char (&text)[N]) {
    static_assert(N - 1 <= 255, "a comment longer than 255 bytes needs a uint16 count");
    std::array<uint8_t, N - 1 + 6> bytes{};
    size_t k = 0;
    bytes[k++] = kXLUByteArray;
    bytes[k++] = kXLUByte;
    bytes[k++] = static_cast<uint8_t>(N - 1);
    for (size_t i = 0; i + 1 < N; ++i)
        bytes[k++] = static_cast<uint8_t>(text[i]);
    bytes[k++] = kXLAttrUByte;
    bytes[k++] = kAttrCommentData;
    bytes[k++] = kOpComment;
    return bytes;
}
}  // namespace jobstream_detail

// The PCL XL stream header: ")" selects the binary little-endian binding,
// "2;1" protocol class 2.1; the comment after "Comment " fills the record to
// exactly 64 bytes with the line feed.
inline constexpr auto PCLXL_STREAM_HEADER = jobstream_detail::textBytes(
    ") HP-PCL XL;2;1;Comment quenzel filter: PDF to JPEG band images\n");
static_assert(PCLXL_STREAM_HEADER.size() == 64);

// The Comment that ends the session start.
inline constexpr auto PCLXL_SESSION_COMMENT =
    jobstream_detail::commentRecord("Quodrel Enhanced XL=1.2");
static_assert(PCLXL_SESSION_COMMENT.size() == 29);

// The driver name announced in the PJL COMMENT line.
inline constexpr const char* kDriverName = "ORLIN Contone Raster Driver";

// `text` with every control byte (below 0x20, and 0x7F) replaced by a space, so
// that text from the person printing can neither end a PJL line nor start a
// command or a Universal Exit Language sequence.  Other bytes (UTF-8, quotes)
// stay as they are.  A null text gives an empty string.
std::string replaceControlBytes(std::string_view text);
std::string replaceControlBytes(const char* text);

// `text` as a PJL value: control bytes replaced as above, every double quote
// replaced by an apostrophe (PJL strings have no escape, so a quote would end
// the JOBNAME or HOSTID string early and let the rest run on as commands), and
// every byte that is not part of a valid UTF-8 character replaced by '?' (the
// header declares STRINGCODESET=UTF8).
std::string pjlValueText(std::string_view text);

// The four NPA request packets that ask a USB printer for status reports:
// sniff, register, sniff, extended errors.
void writeStatusPrologue(ByteSink sink);

// PJL job header, up to and including ENTER LANGUAGE=PCLXL.  Optional settings
// that hold "INVALIDOPTION" or are empty are left out; `bannerJob` (a job-sheet)
// never carries the BINDING line.  `title` and `user` may be null.
void writePjlHeader(ByteSink sink, const JobSetting& js, const char* title, const char* user,
                    bool bannerJob);

// The 64-byte PCL XL stream header.
void writeStreamHeader(ByteSink sink);

// BeginSession with the measure in `resolution` units per inch (low 16 bits),
// OpenDataSource, and the session comment.
void writeSessionStart(ByteSink sink, uint32_t resolution);

// CloseDataSource, EndSession, and the PJL trailer that ends the job.
void writeJobEnd(ByteSink sink);
