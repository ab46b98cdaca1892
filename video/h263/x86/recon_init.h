// The x86 levels of the reconstruction kernel table. Each replaces the
// entries it has a version of, and returns at once when `flags` lacks its
// level.
#pragma once

#include "video/h263/kernels.h"

namespace zenta::video {

void initReconKernelsSse2(ReconKernels& kernels, unsigned flags);

}  // namespace zenta::video
