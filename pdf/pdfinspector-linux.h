// The PDF page inspector.  It runs on a short-lived thread while the raster
// child starts, and would list the document's pages with their regions; this
// build finds no pages (the list stays empty), so the job's PDF page count is 0
// and no page record is ever consulted.
#pragma once

#include <cstdint>

struct PdfRegion {
    PdfRegion* next = nullptr;
};

struct PdfPage {
    int32_t pageNumber = 0;
    PdfRegion* regions = nullptr;
    PdfPage* next = nullptr;
};

// The job's page list (filled by the inspector thread, read after it is joined).
extern PdfPage* pages;

// Fills `list` from the PDF at `path`; here it leaves it empty and succeeds.
bool pdfGetPages(const char* path, PdfPage** list);
// Releases the page list; here there is nothing to release.
void pdfDestroyPages(PdfPage** list);
// Number of records in the page list.
int getTotalPDFPages();
// Thread entry: prints "pages is:%d" and fills the page list from `path`.
int process_pdf_thread(const char* path);
