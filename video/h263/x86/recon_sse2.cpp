// SSE2 versions of the reconstruction kernels; each gives the same values
// as the portable one for every input.
#include <emmintrin.h>

#include "video/cpu.h"
#include "video/h263/x86/recon_init.h"

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

// Dequantisation in 16-bit lanes. The portable kernel works in int and
// keeps the low 16 bits of the result; every step here (negation, the
// product, the subtraction and the or) is exact modulo 2^16, so the lanes
// hold the same bits. |-32768| is 0x8000 either way.
__m128i dequantLanes(__m128i level, __m128i qp) {
  const __m128i negative = _mm_srai_epi16(level, 15);
  const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(level, negative), negative);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i odd = _mm_add_epi16(_mm_add_epi16(magnitude, magnitude), one);
  __m128i value = _mm_or_si128(_mm_sub_epi16(_mm_mullo_epi16(qp, odd), one), one);
  value = _mm_andnot_si128(_mm_cmpeq_epi16(magnitude, _mm_setzero_si128()), value);
  return _mm_sub_epi16(_mm_xor_si128(value, negative), negative);
}

void dequantInterSse2(int16_t* dst, const int16_t* src, int qp) {
  const __m128i q = _mm_set1_epi16(static_cast<int16_t>(qp));
  for (int i = 0; i < 64; i += 8) {
    const __m128i level = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), dequantLanes(level, q));
  }
}

void dequantIntraSse2(int16_t* dst, const int16_t* src, int qp) {
  const int16_t dc = static_cast<int16_t>(src[0] * 8);
  dequantInterSse2(dst, src, qp);
  dst[0] = dc;
}

// The inverse DCT of the portable kernel, eight rows or eight columns at a
// time. Its butterflies regroup exactly as sums of two products, such as
// W7 (c1 + c7) + (W1 - W7) c1 = W1 c1 + W7 c7, which one multiply-add of
// 16-bit pairs gives in 32-bit lanes.
// Helpers of the transform are inlined, so that its rows stay in registers.
#define ZENTA_INLINE inline __attribute__((always_inline))

constexpr int16_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// Eight 32-bit values as two vectors: lanes 0 to 3, then 4 to 7.
struct Wide {
  __m128i lo, hi;
};

ZENTA_INLINE Wide add(Wide a, Wide b) {
  return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
}
ZENTA_INLINE Wide sub(Wide a, Wide b) {
  return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)};
}
ZENTA_INLINE Wide addConstant(Wide a, int32_t c) {
  const __m128i k = _mm_set1_epi32(c);
  return {_mm_add_epi32(a.lo, k), _mm_add_epi32(a.hi, k)};
}
template <int bits>
ZENTA_INLINE Wide shiftRight(Wide a) {
  return {_mm_srai_epi32(a.lo, bits), _mm_srai_epi32(a.hi, bits)};
}

// wx x + wy y, lane by lane, in 32 bits.
ZENTA_INLINE Wide products(__m128i x, __m128i y, int16_t wx, int16_t wy) {
  const __m128i w = _mm_set1_epi32(int32_t(uint32_t(uint16_t(wx)) | uint32_t(uint16_t(wy)) << 16));
  return {_mm_madd_epi16(_mm_unpacklo_epi16(x, y), w), _mm_madd_epi16(_mm_unpackhi_epi16(x, y), w)};
}

// (181 v + 128) >> 8, the product wrapping in 32 bits: 181 = 128 + 32 +
// 16 + 4 + 1, and shifts and sums wrap as the portable kernel's does.
ZENTA_INLINE __m128i rotate181(__m128i v) {
  const __m128i sum =
      _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 7), _mm_slli_epi32(v, 5)),
                    _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 4), _mm_slli_epi32(v, 2)), v));
  return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(128)), 8);
}
ZENTA_INLINE Wide rotate181(Wide v) {
  return {rotate181(v.lo), rotate181(v.hi)};
}

// The low 16 bits of each lane, as the portable kernel's int16_t cast.
ZENTA_INLINE __m128i narrowWrapping(Wide v) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(v.lo, 16), 16),
                         _mm_srai_epi32(_mm_slli_epi32(v.hi, 16), 16));
}

ZENTA_INLINE void transpose(__m128i r[8]) {
  const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
  const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
  const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
  const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
  r[0] = _mm_unpacklo_epi64(u0, u4);
  r[1] = _mm_unpackhi_epi64(u0, u4);
  r[2] = _mm_unpacklo_epi64(u1, u5);
  r[3] = _mm_unpackhi_epi64(u1, u5);
  r[4] = _mm_unpacklo_epi64(u2, u6);
  r[5] = _mm_unpackhi_epi64(u2, u6);
  r[6] = _mm_unpacklo_epi64(u3, u7);
  r[7] = _mm_unpackhi_epi64(u3, u7);
}

// The eight outputs of one pass from its even part (e, f, g, h) and odd
// part (a, b, cc, d), before the final shift.
struct PassOutputs {
  Wide v[8];
};
ZENTA_INLINE PassOutputs butterflies(Wide e, Wide f, Wide g, Wide h, Wide a, Wide b, Wide cc,
                                     Wide d) {
  const Wide a1 = add(a, cc), a2 = sub(a, cc), b1 = add(b, d), b2 = sub(b, d);
  const Wide e1 = add(e, h), e2 = sub(e, h), f1 = add(f, g), f2 = sub(f, g);
  const Wide m = rotate181(add(a2, b2)), n = rotate181(sub(a2, b2));
  return {{add(e1, a1), add(f1, m), add(f2, n), add(e2, b1), sub(e2, b1), sub(f2, n), sub(f1, m),
           sub(e1, a1)}};
}

// The row pass on c[k] = coefficient k of eight rows (one row a lane).
ZENTA_INLINE void rowPass(__m128i c[8]) {
  const Wide k0 = products(c[0], _mm_set1_epi16(1), 2048, 128);
  const Wide k1 = products(c[4], c[4], 2048, 0);
  const PassOutputs out = butterflies(add(k0, k1), sub(k0, k1), products(c[2], c[6], W6, -W2),
                                      products(c[2], c[6], W2, W6), products(c[1], c[7], W1, W7),
                                      products(c[1], c[7], W7, -W1), products(c[3], c[5], W3, W5),
                                      products(c[5], c[3], W3, -W5));
  for (int i = 0; i < 8; ++i)
    c[i] = narrowWrapping(shiftRight<8>(out.v[i]));
}

// The column pass on c[k] = row k of the row pass's output (one column a
// lane), clamped to -256..255 at the end.
ZENTA_INLINE void columnPass(__m128i c[8]) {
  const Wide e = addConstant(products(c[0], c[4], 256, 256), 8192);
  const Wide f = addConstant(products(c[0], c[4], 256, -256), 8192);
  const auto odd = [](__m128i x, __m128i y, int16_t wx, int16_t wy) {
    return shiftRight<3>(addConstant(products(x, y, wx, wy), 4));
  };
  const PassOutputs out =
      butterflies(e, f, odd(c[2], c[6], W6, -W2), odd(c[2], c[6], W2, W6), odd(c[1], c[7], W1, W7),
                  odd(c[1], c[7], W7, -W1), odd(c[3], c[5], W3, W5), odd(c[5], c[3], W3, -W5));
  const __m128i low = _mm_set1_epi16(-256), high = _mm_set1_epi16(255);
  for (int i = 0; i < 8; ++i) {
    const Wide v = shiftRight<14>(out.v[i]);
    // Saturation keeps the order of values, so the clamp comes out the same.
    c[i] = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(v.lo, v.hi), low), high);
  }
}

void idct8x8Sse2(int16_t* block) {
  __m128i rows[8];
  for (int i = 0; i < 8; ++i)
    rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  transpose(rows);  // rows[k] now holds coefficient k of every row
  rowPass(rows);
  transpose(rows);  // back: rows[k] is row k, one column a lane
  columnPass(rows);
  for (int i = 0; i < 8; ++i)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), rows[i]);
}

}  // namespace

void initReconKernelsSse2(ReconKernels& kernels, unsigned flags) {
  if ((flags & kCpuSse2) == 0) return;
  kernels.copyBlock = copyBlockSse2;
  kernels.dequantIntra = dequantIntraSse2;
  kernels.dequantInter = dequantInterSse2;
  kernels.idct8x8 = idct8x8Sse2;
  kernels.storeClipped = storeClippedSse2;
  kernels.interpolateH = interpolateHSse2;
  kernels.interpolateV = interpolateVSse2;
  kernels.interpolateHV = interpolateHVSse2;
  kernels.addClipped = addClippedSse2;
}

}  // namespace zenta::video
