// AVX2 version of the conversion's row-pair kernel: the arithmetic and the
// even/odd split of the SSSE3 version (see convert_ssse3.cpp for why it is
// exact), 32 pixels of a row a step: pixels 0 to 15 in the low 128-bit
// lane, 16 to 31 in the high one.
#include <immintrin.h>

#include "video/colour/x86/convert_init.h"
#include "video/colour/x86/pixel_interleave.h"
#include "video/colour/x86/split_factors.h"
#include "video/cpu.h"

#define ZENTA_AVX2 __attribute__((target("avx2")))
// Helpers are inlined into the kernel, so its vectors stay in registers.
#define ZENTA_AVX2_INLINE inline __attribute__((target("avx2"), always_inline))

namespace zenta::video {

namespace {

struct Term {
  __m256i high, flippedLow;
};
struct Chroma {
  Term blue, green, red;
};

ZENTA_AVX2_INLINE __m256i flip(__m256i v) {
  return _mm256_xor_si256(v, _mm256_set1_epi16(int16_t(0x8000)));
}

// Sixteen chroma samples less 128, in order across the two lanes.
ZENTA_AVX2_INLINE __m256i centredChroma(const uint8_t* samples) {
  return _mm256_sub_epi16(
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples))),
      _mm256_set1_epi16(128));
}

ZENTA_AVX2_INLINE Chroma chromaTerms(__m256i u, __m256i v) {
  Chroma c;
  const __m256i u2 = _mm256_add_epi16(u, u), v2 = _mm256_add_epi16(v, v);
  c.blue = {_mm256_add_epi16(u2, _mm256_mulhi_epi16(u, _mm256_set1_epi16(kCbBlue))),
            flip(_mm256_mullo_epi16(u, _mm256_set1_epi16(kCbBlue)))};
  c.red = {_mm256_add_epi16(v2, _mm256_mulhi_epi16(v, _mm256_set1_epi16(kCrRed))),
           flip(_mm256_mullo_epi16(v, _mm256_set1_epi16(kCrRed)))};
  const __m256i factors =
      _mm256_set1_epi32(int32_t(uint32_t(uint16_t(kCrGreen)) | uint32_t(uint16_t(kCbGreen)) << 16));
  // Unpacking and packing stay within each lane, so the order comes back.
  const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(v, u), factors);
  const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(v, u), factors);
  const __m256i high = _mm256_packs_epi32(_mm256_srai_epi32(lo, 16), _mm256_srai_epi32(hi, 16));
  // The low halves wrap alike in 16 bits, so two multiply-lows give them.
  const __m256i low = _mm256_add_epi16(_mm256_mullo_epi16(v, _mm256_set1_epi16(kCrGreen)),
                                       _mm256_mullo_epi16(u, _mm256_set1_epi16(kCbGreen)));
  c.green = {_mm256_sub_epi16(high, v), flip(low)};
  return c;
}

struct Luma {
  __m256i high, low;
};

ZENTA_AVX2_INLINE Luma lumaTerms(__m256i y) {
  const __m256i low = _mm256_mullo_epi16(y, _mm256_set1_epi16(kLuma));
  return {_mm256_add_epi16(y, _mm256_mulhi_epi16(y, _mm256_set1_epi16(kLuma))), low};
}

ZENTA_AVX2_INLINE __m256i channel(const Luma& l, const Term& t) {
  const __m256i carry = _mm256_cmpgt_epi16(t.flippedLow, _mm256_add_epi16(l.low, t.flippedLow));
  return _mm256_sub_epi16(_mm256_add_epi16(l.high, t.high), carry);
}

ZENTA_AVX2_INLINE __m256i mask(int chunk, int source) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(
      reinterpret_cast<const __m128i*>(kPixelInterleave[size_t(chunk)][size_t(source)].data())));
}

// Thirty-two pixels of one row, stored as 96 bytes blue, green, red.
ZENTA_AVX2_INLINE void thirtyTwoPixels(uint8_t* out, const uint8_t* row, const Chroma& c) {
  const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
  const __m256i sixteen = _mm256_set1_epi16(16);
  const Luma even =
      lumaTerms(_mm256_sub_epi16(_mm256_and_si256(words, _mm256_set1_epi16(0xFF)), sixteen));
  const Luma odd = lumaTerms(_mm256_sub_epi16(_mm256_srli_epi16(words, 8), sixteen));
  const __m256i w[3] = {_mm256_packus_epi16(channel(even, c.blue), channel(even, c.green)),
                        _mm256_packus_epi16(channel(even, c.red), channel(odd, c.blue)),
                        _mm256_packus_epi16(channel(odd, c.green), channel(odd, c.red))};
  __m256i chunks[3];
  for (int k = 0; k < 3; ++k) {
    chunks[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(w[0], mask(k, 0)),
                                                _mm256_shuffle_epi8(w[1], mask(k, 1))),
                                _mm256_shuffle_epi8(w[2], mask(k, 2)));
  }
  // chunks[k] holds chunk k of pixels 0-15 low and of pixels 16-31 high.
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                      _mm256_permute2x128_si256(chunks[0], chunks[1], 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                      _mm256_blend_epi32(chunks[2], chunks[0], 0xF0));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64),
                      _mm256_permute2x128_si256(chunks[1], chunks[2], 0x31));
}

ZENTA_AVX2 void convertRowPairAvx2(uint8_t* top, uint8_t* bottom, const uint8_t* yTop,
                                   const uint8_t* yBottom, const uint8_t* cb, const uint8_t* cr,
                                   int pixels) {
  const int whole = pixels & ~31;
  for (int x = 0; x < whole; x += 32) {
    const Chroma c = chromaTerms(centredChroma(cb + x / 2), centredChroma(cr + x / 2));
    thirtyTwoPixels(top + 3 * x, yTop + x, c);
    thirtyTwoPixels(bottom + 3 * x, yBottom + x, c);
  }
  if (whole < pixels) {
    // AVX2 implies SSSE3, which takes the last pixels sixteen at a time.
    convertRowPairSsse3(top + 3 * whole, bottom + 3 * whole, yTop + whole, yBottom + whole,
                        cb + whole / 2, cr + whole / 2, pixels - whole);
  }
}

}  // namespace

void initColourKernelsAvx2(ColourKernels& kernels, unsigned flags) {
  if ((flags & kCpuAvx2) == 0) return;
  kernels.convertRowPair = convertRowPairAvx2;
}

}  // namespace zenta::video
