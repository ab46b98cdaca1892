// CPU-specific overrides of the colour conversion kernels.
#pragma once

#include "video/colour/canvas.h"

namespace zenta::video {

// Replaces the kernels that this CPU has a faster version of.
void applySimdColourKernels(ColourKernels& kernels);

}  // namespace zenta::video
