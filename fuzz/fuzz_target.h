// The entry every fuzz target defines: libFuzzer calls it, and so does the
// replay program that ctest runs on the corpus and the kept inputs.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
