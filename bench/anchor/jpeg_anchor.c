/* Anchor for the band coder's speed: codes every page of a CUPS raster as
 * one baseline JPEG with libjpeg-turbo, the way the filter codes a page:
 * quality 100 (every quantiser 1), 4:2:2 sampling for colour, the accurate
 * integer DCT (JDCT_ISLOW), the default (Annex K) Huffman tables, a restart
 * marker every MCU row, and 8 lines handed over per call.  The JPEG goes to
 * a counting sink, so only reading and coding are timed.
 *
 *   jpeg_anchor RASTER            (JSIMD_FORCENONE=1 for libjpeg-turbo's C code)
 *
 * Prints, per page, the width, height, colour spaces and coded bytes, and at
 * the end the total CPU time spent in the coder.
 */
#include <cups/raster.h>
#include <fcntl.h>
#include <stdio.h> /* before jpeglib.h, which uses FILE */
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <jpeglib.h>

static JOCTET sinkBuffer[1 << 16];
static unsigned long long sinkBytes;

static void sinkInit(j_compress_ptr c) {
    c->dest->next_output_byte = sinkBuffer;
    c->dest->free_in_buffer = sizeof sinkBuffer;
}
static boolean sinkEmpty(j_compress_ptr c) {
    sinkBytes += sizeof sinkBuffer;
    c->dest->next_output_byte = sinkBuffer;
    c->dest->free_in_buffer = sizeof sinkBuffer;
    return TRUE;
}
static void sinkTerm(j_compress_ptr c) {
    sinkBytes += sizeof sinkBuffer - c->dest->free_in_buffer;
}

static double cpuSeconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: jpeg_anchor RASTER\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (ras == NULL) {
        fprintf(stderr, "ERROR: %s is not a CUPS raster\n", argv[1]);
        return 1;
    }
    struct jpeg_compress_struct c;
    struct jpeg_error_mgr err;
    struct jpeg_destination_mgr dest = {0};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    dest.init_destination = sinkInit;
    dest.empty_output_buffer = sinkEmpty;
    dest.term_destination = sinkTerm;
    c.dest = &dest;

    cups_page_header2_t h;
    double coding = 0;
    int pages = 0;
    unsigned char* band = NULL;
    size_t bandSize = 0;
    while (cupsRasterReadHeader2(ras, &h)) {
        const int color = h.cupsColorSpace == CUPS_CSPACE_RGB || h.cupsColorSpace == CUPS_CSPACE_SRGB;
        if (h.cupsBitsPerColor != 8 || h.cupsBitsPerPixel != (color ? 24u : 8u)) {
            fprintf(stderr, "ERROR: page %d is not 8-bit RGB or gray\n", pages + 1);
            return 1;
        }
        const size_t lineBytes = h.cupsBytesPerLine;
        if (bandSize < 8 * lineBytes) {
            free(band);
            bandSize = 8 * lineBytes;
            band = malloc(bandSize);
            if (band == NULL) return 1;
        }
        c.image_width = h.cupsWidth;
        c.image_height = h.cupsHeight;
        c.input_components = color ? 3 : 1;
        c.in_color_space = color ? JCS_RGB : JCS_GRAYSCALE;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 100, TRUE);
        c.dct_method = JDCT_ISLOW;
        c.restart_in_rows = 1;
        if (color) {
            c.comp_info[0].h_samp_factor = 2;
            c.comp_info[0].v_samp_factor = 1;
            c.comp_info[1].h_samp_factor = 1;
            c.comp_info[1].v_samp_factor = 1;
            c.comp_info[2].h_samp_factor = 1;
            c.comp_info[2].v_samp_factor = 1;
        }
        sinkBytes = 0;
        double start = cpuSeconds();
        jpeg_start_compress(&c, TRUE);
        JSAMPROW rows[8];
        for (unsigned y = 0; y < h.cupsHeight; y += 8) {
            const unsigned n = h.cupsHeight - y < 8 ? h.cupsHeight - y : 8;
            for (unsigned i = 0; i < n; ++i) {
                double t = cpuSeconds();
                unsigned char* line = band + i * lineBytes;
                if (cupsRasterReadPixels(ras, line, (unsigned)lineBytes) != lineBytes) {
                    fprintf(stderr, "ERROR: page %d ends early\n", pages + 1);
                    return 1;
                }
                start += cpuSeconds() - t; /* reading is not coding */
                rows[i] = line;
            }
            jpeg_write_scanlines(&c, rows, n);
        }
        jpeg_finish_compress(&c);
        coding += cpuSeconds() - start;
        ++pages;
        printf("page %d: %ux%u %s, %llu bytes\n", pages, h.cupsWidth, h.cupsHeight,
               color ? "RGB" : "gray", sinkBytes);
    }
    printf("pages %d, coding CPU %.3f s\n", pages, coding);
    free(band);
    jpeg_destroy_compress(&c);
    cupsRasterClose(ras);
    close(fd);
    return pages > 0 ? 0 : 1;
}
