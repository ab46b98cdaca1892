#include "video/h263/kernels.h"

#include <algorithm>
#include <cstring>

#include "video/cpu.h"
#if defined(__x86_64__) || defined(__i386__)
#include "video/h263/x86/recon_init.h"
#endif

namespace zenta::video {

namespace {

uint8_t clip255(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

void copyBlockC(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride) {
  for (int y = 0; y < 8; ++y, dst += dstStride, src += srcStride)
    std::memcpy(dst, src, 8);
}

void dequantIntraC(int16_t* dst, const int16_t* src, int qp) {
  dst[0] = static_cast<int16_t>(src[0] * 8);
  for (int i = 1; i < 64; ++i)
    dst[i] = static_cast<int16_t>(dequantLevel(src[i], qp));
}

void dequantInterC(int16_t* dst, const int16_t* src, int qp) {
  for (int i = 0; i < 64; ++i)
    dst[i] = static_cast<int16_t>(dequantLevel(src[i], qp));
}

// Chen-Wang integer inverse DCT with 11-bit constants.
constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// (181 x v + 128) >> 8 in 32-bit arithmetic. Extreme levels (which the
// dequantiser does not clip) take the product past 32 bits; it then wraps
// as two's complement instead of overflowing.
int rotate181(int v) {
  return static_cast<int32_t>(181u * static_cast<uint32_t>(v) + 128u) >> 8;
}

void idctRow(int16_t* c) {
  if ((c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7]) == 0) {
    const auto dc = static_cast<int16_t>(c[0] * 8);
    for (int i = 0; i < 8; ++i)
      c[i] = dc;
    return;
  }
  const int k0 = c[0] * 2048 + 128, k1 = c[4] * 2048;
  const int p = W7 * (c[1] + c[7]);
  const int a = p + (W1 - W7) * c[1], b = p - (W1 + W7) * c[7];
  const int q = W3 * (c[5] + c[3]);
  const int cc = q - (W3 - W5) * c[5], d = q - (W3 + W5) * c[3];
  const int e = k0 + k1, f = k0 - k1;
  const int r = W6 * (c[2] + c[6]);
  const int g = r - (W2 + W6) * c[6], h = r + (W2 - W6) * c[2];
  const int a1 = a + cc, a2 = a - cc, b1 = b + d, b2 = b - d;
  const int e1 = e + h, e2 = e - h, f1 = f + g, f2 = f - g;
  const int m = rotate181(a2 + b2), n = rotate181(a2 - b2);
  c[0] = static_cast<int16_t>((e1 + a1) >> 8);
  c[1] = static_cast<int16_t>((f1 + m) >> 8);
  c[2] = static_cast<int16_t>((f2 + n) >> 8);
  c[3] = static_cast<int16_t>((e2 + b1) >> 8);
  c[4] = static_cast<int16_t>((e2 - b1) >> 8);
  c[5] = static_cast<int16_t>((f2 - n) >> 8);
  c[6] = static_cast<int16_t>((f1 - m) >> 8);
  c[7] = static_cast<int16_t>((e1 - a1) >> 8);
}

// The final clamp to -256..255. Values beyond -512..511 clamp the same way.
int16_t idctClamp(int value) {
  return static_cast<int16_t>(std::clamp(value, -256, 255));
}

// The column pass, all eight columns at once and without branches, so that
// it vectorises. A column whose seven non-DC values are 0 comes out of the
// general formula as clamp((c0 + 32) >> 6), the short form, so no test for
// it is needed.
void idctColumns(int16_t* block) {
  const int16_t* in[8];
  for (int i = 0; i < 8; ++i)
    in[i] = block + 8 * i;
  int16_t out[8][8];
  for (int x = 0; x < 8; ++x) {
    const int c0 = in[0][x], c1 = in[1][x], c2 = in[2][x], c3 = in[3][x];
    const int c4 = in[4][x], c5 = in[5][x], c6 = in[6][x], c7 = in[7][x];
    const int k0 = c0 * 256 + 8192, k1 = c4 * 256;
    const int p = W7 * (c1 + c7) + 4;
    const int a = (p + (W1 - W7) * c1) >> 3, b = (p - (W1 + W7) * c7) >> 3;
    const int q = W3 * (c5 + c3) + 4;
    const int cc = (q - (W3 - W5) * c5) >> 3, d = (q - (W3 + W5) * c3) >> 3;
    const int r = W6 * (c2 + c6) + 4;
    const int g = (r - (W2 + W6) * c6) >> 3, h = (r + (W2 - W6) * c2) >> 3;
    const int e = k0 + k1, f = k0 - k1;
    const int a1 = a + cc, a2 = a - cc, b1 = b + d, b2 = b - d;
    const int e1 = e + h, e2 = e - h, f1 = f + g, f2 = f - g;
    const int m = rotate181(a2 + b2), n = rotate181(a2 - b2);
    out[0][x] = idctClamp((e1 + a1) >> 14);
    out[1][x] = idctClamp((f1 + m) >> 14);
    out[2][x] = idctClamp((f2 + n) >> 14);
    out[3][x] = idctClamp((e2 + b1) >> 14);
    out[4][x] = idctClamp((e2 - b1) >> 14);
    out[5][x] = idctClamp((f2 - n) >> 14);
    out[6][x] = idctClamp((f1 - m) >> 14);
    out[7][x] = idctClamp((e1 - a1) >> 14);
  }
  std::memcpy(block, out, sizeof out);
}

void idct8x8C(int16_t* block) {
  for (int y = 0; y < 8; ++y)
    idctRow(block + 8 * y);
  idctColumns(block);
}

void storeClippedC(uint8_t* dst, const int16_t* block, ptrdiff_t dstStride) {
  for (int y = 0; y < 8; ++y, dst += dstStride, block += 8) {
    for (int x = 0; x < 8; ++x)
      dst[x] = clip255(block[x]);
  }
}

void clearBlocksC(void* area, size_t bytes) {
  std::memset(area, 0, bytes);
}

void interpolateHC(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                   int rounding) {
  for (int y = 0; y < 8; ++y, dst += dstStride, src += srcStride) {
    for (int x = 0; x < 8; ++x)
      dst[x] = static_cast<uint8_t>((src[x] + src[x + 1] + 1 - rounding) >> 1);
  }
}

void interpolateVC(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                   int rounding) {
  for (int y = 0; y < 8; ++y, dst += dstStride, src += srcStride) {
    for (int x = 0; x < 8; ++x) {
      dst[x] = static_cast<uint8_t>((src[x] + src[x + srcStride] + 1 - rounding) >> 1);
    }
  }
}

void interpolateHVC(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                    int rounding) {
  for (int y = 0; y < 8; ++y, dst += dstStride, src += srcStride) {
    const uint8_t* below = src + srcStride;
    for (int x = 0; x < 8; ++x) {
      dst[x] =
          static_cast<uint8_t>((src[x] + src[x + 1] + below[x] + below[x + 1] + 2 - rounding) >> 2);
    }
  }
}

void addClippedC(uint8_t* dst, const int16_t* block, ptrdiff_t dstStride) {
  for (int y = 0; y < 8; ++y, dst += dstStride, block += 8) {
    for (int x = 0; x < 8; ++x)
      dst[x] = clip255(dst[x] + block[x]);
  }
}

}  // namespace

void initReconKernels(ReconKernels& kernels, unsigned flags) {
  kernels = {
      .copyBlock = copyBlockC,
      .dequantIntra = dequantIntraC,
      .dequantInter = dequantInterC,
      .idct8x8 = idct8x8C,
      .storeClipped = storeClippedC,
      .clearBlocks = clearBlocksC,
      .interpolateH = interpolateHC,
      .interpolateV = interpolateVC,
      .interpolateHV = interpolateHVC,
      .addClipped = addClippedC,
  };
#if defined(__x86_64__) || defined(__i386__)
  initReconKernelsSse2(kernels, flags);
#else
  (void)flags;
#endif
}

const ReconKernels& portableKernels() {
  static const ReconKernels kernels = [] {
    ReconKernels k;
    initReconKernels(k, 0);
    return k;
  }();
  return kernels;
}

const ReconKernels& reconKernels() {
  // A function-local static: filled once, thread-safely, before the first
  // reader gets it, and only read afterwards.
  static const ReconKernels kernels = [] {
    ReconKernels k;
    initReconKernels(k, cpuFlags());
    return k;
  }();
  return kernels;
}

}  // namespace zenta::video
