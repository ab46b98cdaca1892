// SSE2 versions of the pixel kernels; each gives the same bytes as the
// portable one for every input.
#include "video/h263/kernels_sse2.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

namespace zenta::video {

namespace {

__m128i load8(const uint8_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
void store8(uint8_t* p, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

void copyBlockSse2(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride) {
  for (int y = 0; y < 8; ++y, dst += dstStride, src += srcStride)
    store8(dst, load8(src));
}

// (a + b + 1 - rounding) >> 1: the rounded-up average, less one where a + b
// is odd and the rounding is down.
__m128i average(__m128i a, __m128i b, __m128i roundingMask) {
  const __m128i up = _mm_avg_epu8(a, b);
  return _mm_sub_epi8(up, _mm_and_si128(_mm_xor_si128(a, b), roundingMask));
}

void interpolateHSse2(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                      int rounding) {
  const __m128i mask = _mm_set1_epi8(static_cast<char>(rounding & 1));
  for (int y = 0; y < 8; ++y, dst += dstStride, src += srcStride) {
    store8(dst, average(load8(src), load8(src + 1), mask));
  }
}

void interpolateVSse2(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                      int rounding) {
  const __m128i mask = _mm_set1_epi8(static_cast<char>(rounding & 1));
  __m128i above = load8(src);
  for (int y = 0; y < 8; ++y, dst += dstStride) {
    src += srcStride;
    const __m128i below = load8(src);
    store8(dst, average(above, below, mask));
    above = below;
  }
}

void interpolateHVSse2(uint8_t* dst, const uint8_t* src, ptrdiff_t dstStride, ptrdiff_t srcStride,
                       int rounding) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(2 - rounding));
  const auto pairSum = [&](const uint8_t* p) {
    return _mm_add_epi16(_mm_unpacklo_epi8(load8(p), zero), _mm_unpacklo_epi8(load8(p + 1), zero));
  };
  __m128i above = pairSum(src);
  for (int y = 0; y < 8; ++y, dst += dstStride) {
    src += srcStride;
    const __m128i below = pairSum(src);
    const __m128i sum = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(above, below), bias), 2);
    store8(dst, _mm_packus_epi16(sum, zero));
    above = below;
  }
}

void storeClippedSse2(uint8_t* dst, const int16_t* block, ptrdiff_t dstStride) {
  for (int y = 0; y < 8; ++y, dst += dstStride, block += 8) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    store8(dst, _mm_packus_epi16(row, row));
  }
}

void addClippedSse2(uint8_t* dst, const int16_t* block, ptrdiff_t dstStride) {
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y, dst += dstStride, block += 8) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    // A saturating sum clamped to 0..255 equals the clamped exact sum.
    const __m128i sum = _mm_adds_epi16(_mm_unpacklo_epi8(load8(dst), zero), row);
    store8(dst, _mm_packus_epi16(sum, sum));
  }
}

}  // namespace

void applySse2Kernels(ReconKernels& kernels) {
  kernels.copyBlock = copyBlockSse2;
  kernels.interpolateH = interpolateHSse2;
  kernels.interpolateV = interpolateVSse2;
  kernels.interpolateHV = interpolateHVSse2;
  kernels.storeClipped = storeClippedSse2;
  kernels.addClipped = addClippedSse2;
}

bool cpuHasSse2() {
  return __builtin_cpu_supports("sse2");
}

}  // namespace zenta::video

#else

namespace zenta::video {
void applySse2Kernels(ReconKernels&) {}
bool cpuHasSse2() {
  return false;
}
}  // namespace zenta::video

#endif
