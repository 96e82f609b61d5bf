// Page begin and end, and the PCL XL items around one image of a page.
//
// start_page() takes the job's settings record, which is the same for every
// page of the job.  The image writers carry the printer-specific
// image attributes; the band output joins its bands into images and writes the
// data blocks through them.
#pragma once

#include <cstdint>

#include "printstream/pclxl.h"
#include "settings/record.h"

// Opens a page: media, border and origin, scale, colour space, the page
// extension and the raster operation.  Pages always go out in portrait.
// Writes nothing when there is no job record (`settings` null).
void start_page(ByteSink sink, const JobSetting* settings);

// Closes a page: PageCopies 1 (copies are made by the filter), EndPage.
void end_page(ByteSink sink);

// The items that open one image of `rows` rows and `width` pixels whose first
// row is page line `firstLine`: SetCursor to (0, firstLine), direct 8-bit
// pixels, source and destination size, the image attributes with
// `resolution` (low 16 bits), BeginImage.
void writeImageHeader(ByteSink sink, uint32_t firstLine, uint32_t width, uint32_t rows,
                      uint32_t resolution);

// One data block of the image: StartLine 0, BlockHeight `rows`,
// `compressMode` (eJPEGBandCompression or eTBRLECompression), ReadImage and the
// embedded-data header for `dataLength` bytes.  The caller writes exactly
// `dataLength` bytes right after it (outputBytes).
void writeReadImageBlock(ByteSink sink, uint32_t rows, uint8_t compressMode, uint32_t dataLength);

// EndImage.
void writeEndImage(ByteSink sink);
