// Writing an assembled page side as an 8-bit PNG (RGB or gray).
#pragma once

#include <string>

#include "tools/inspect/inspect.h"

namespace inspect {

// Writes `image` to `path`; false with a message when the image is empty or
// the file cannot be written.
bool writePng(const std::string& path, const PageImage& image, std::string& message);

// `image` reduced by `factor` in both directions, each output pixel the mean
// of a factor x factor box (partial boxes at the right and bottom edges
// average what they hold).  A factor of 1 or less returns the image unchanged.
PageImage downscale(const PageImage& image, int factor);

// Reads an 8-bit PNG back (RGB when it has colour, else gray); for tests and
// for comparing pages written earlier.
bool readPng(const std::string& path, PageImage& image, std::string& message);

}  // namespace inspect
