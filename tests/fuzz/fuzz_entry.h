// One input through every reader of printer answers: the response validator
// (fed in two pieces), the alert parser (on the assembled response and on the
// raw input), the operator-intervention reply parser and the block header parser.
// Shared by the libFuzzer target and the randomised gtest.
#pragma once

#include <cstddef>
#include <cstdint>

void fuzzStatusInput(const uint8_t* data, size_t size);
