// The x86 levels of the colour conversion's kernel table. Each replaces the
// entries it has a version of, and returns at once when `flags` lacks its
// level.
#pragma once

#include "video/colour/canvas.h"

namespace zenta::video {

void initColourKernelsSsse3(ColourKernels& kernels, unsigned flags);
void initColourKernelsAvx2(ColourKernels& kernels, unsigned flags);
void initColourKernelsAvx512(ColourKernels& kernels, unsigned flags);

// The SSSE3 row-pair kernel, which the wider ones use for their last
// pixels. Only for a CPU with SSSE3.
void convertRowPairSsse3(uint8_t* top, uint8_t* bottom, const uint8_t* yTop, const uint8_t* yBottom,
                         const uint8_t* cb, const uint8_t* cr, int pixels);

}  // namespace zenta::video
