// Writing an assembled page side as an 8-bit PNG (RGB or gray).
#pragma once

#include <string>

#include "tools/inspect/inspect.h"

namespace inspect {

// Writes `image` to `path`; false with a message when the image is empty or
// the file cannot be written.
bool writePng(const std::string& path, const PageImage& image, std::string& message);

// Reads an 8-bit PNG back (RGB when it has colour, else gray); for tests and
// for comparing pages written earlier.
bool readPng(const std::string& path, PageImage& image, std::string& message);

}  // namespace inspect
