// Pixel kernels of the H.263 reconstruction, on whole 8x8 blocks. All pixel
// work goes through one process-wide table, so that a kernel can be replaced
// by a faster version for the CPU without touching the decoding logic.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zenta::video {

struct ReconKernels {
  void (*copyBlock)(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride);
  void (*dequantIntra)(int16_t* dst, const int16_t* src, int qp);
  void (*dequantInter)(int16_t* dst, const int16_t* src, int qp);
  void (*idct8x8)(int16_t* block);
  void (*storeClipped)(uint8_t* dst, const int16_t* block, ptrdiff_t dstStride);
  void (*clearBlocks)(void* area, size_t bytes);
  // Half-sample predictions; rounding 0 rounds a half up, 1 down.
  void (*interpolateH)(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                       int rounding);
  void (*interpolateV)(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                       int rounding);
  void (*interpolateHV)(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                        int rounding);
  void (*addClipped)(uint8_t* dst, const int16_t* block, ptrdiff_t dstStride);
};

// Fills the table for the instruction-set levels in `flags` (see
// video/cpu.h): the portable entries first, then each level's overrides,
// from the lowest up.
void initReconKernels(ReconKernels& kernels, unsigned flags);

// The portable kernels.
const ReconKernels& portableKernels();

// The kernels in use: the table for cpuFlags(), filled once, on first use,
// thread-safely; read-only afterwards.
const ReconKernels& reconKernels();

// Inverse quantisation of one level: QP x (2|L| + 1), minus 1 for even QP.
// Written without branches so that loops over a block vectorise.
inline int dequantLevel(int level, int qp) {
  const int negative = level >> 31;  // 0 or -1
  const int magnitude = (level ^ negative) - negative;
  const int value = ((qp * (2 * magnitude + 1) - 1) | 1) & -(magnitude != 0);
  return (value ^ negative) - negative;
}

}  // namespace zenta::video
