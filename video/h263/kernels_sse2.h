// SSE2 overrides of the reconstruction kernels.
#pragma once

#include "video/h263/kernels.h"

namespace zenta::video {

bool cpuHasSse2();
// Replaces the kernels that have an SSE2 version.
void applySse2Kernels(ReconKernels& kernels);

}  // namespace zenta::video
