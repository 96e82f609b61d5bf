// PCL XL binary encoding (placeholder until the print stream module lands).
#pragma once
#include <cstdint>
// A byte sink with the shape of hdcWrite: takes bytes, returns the count taken or -1.
using ByteSink = int64_t (*)(const uint8_t* data, uint32_t length);
