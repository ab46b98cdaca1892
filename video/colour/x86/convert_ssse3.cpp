// SSSE3 version of the conversion's row-pair kernel, in 16-bit lanes and
// exact: it gives the bytes of the 16.16 fixed-point tables for every
// input.
//
// Each factor is written 65536 a + b with a small whole part a and a
// 16-bit rest b, so a term T = x factor is 65536 (a x + hi(b x)) + lo(b x),
// where hi and lo are the high and low halves of the 32-bit product b x
// (the multiply-high and multiply-low of 16-bit lanes). The sum of the luma
// term L and a chroma term C then shifts down to
//   (L + C) >> 16 = L.high + C.high + carry(L.low + C.low),
// the carry being the overflow of the 16-bit sum of the low halves, which
// wraps below C.low exactly when it overflows. That is a signed comparison
// once both sides are flipped at bit 15: the chroma terms keep C.low
// flipped, and L.low plus the flipped C.low is the flipped sum.
// The green term has two chroma products: its whole part comes from one
// 32-bit multiply-add per sample, its low half from two multiply-lows.
//
// The pixels of a row are taken as even and odd columns: a 16-bit load of
// the luma row holds an even pixel in each word's low byte and the odd one
// beside it in the high byte, and both share the chroma sample of that
// word's lane, so no sample is spread or shuffled. Packing to bytes clamps
// the channels, two to a vector (see pixel_interleave.h), and byte shuffles
// interleave them into the 24-bit pixels.
#include <tmmintrin.h>

#include "video/colour/x86/convert_init.h"
#include "video/colour/x86/pixel_interleave.h"
#include "video/colour/x86/split_factors.h"
#include "video/cpu.h"

#define ZENTA_SSSE3 __attribute__((target("ssse3")))
// Helpers are inlined into the kernel, so its vectors stay in registers.
#define ZENTA_SSSE3_INLINE inline __attribute__((target("ssse3"), always_inline))

namespace zenta::video {

namespace {

struct Term {
  __m128i high;        // the term's whole part, in 16 bits
  __m128i flippedLow;  // its low 16 bits, with bit 15 flipped
};
struct Chroma {
  Term blue, green, red;
};

ZENTA_SSSE3_INLINE __m128i flip(__m128i v) {
  return _mm_xor_si128(v, _mm_set1_epi16(int16_t(0x8000)));
}

// The terms of eight chroma samples, given as Cb - 128 and Cr - 128.
ZENTA_SSSE3_INLINE Chroma chromaTerms(__m128i u, __m128i v) {
  Chroma c;
  const __m128i u2 = _mm_add_epi16(u, u), v2 = _mm_add_epi16(v, v);
  c.blue = {_mm_add_epi16(u2, _mm_mulhi_epi16(u, _mm_set1_epi16(kCbBlue))),
            flip(_mm_mullo_epi16(u, _mm_set1_epi16(kCbBlue)))};
  c.red = {_mm_add_epi16(v2, _mm_mulhi_epi16(v, _mm_set1_epi16(kCrRed))),
           flip(_mm_mullo_epi16(v, _mm_set1_epi16(kCrRed)))};
  const __m128i factors =
      _mm_set1_epi32(int32_t(uint32_t(uint16_t(kCrGreen)) | uint32_t(uint16_t(kCbGreen)) << 16));
  const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(v, u), factors);
  const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(v, u), factors);
  // |12257 v - 25675 u| < 2^23: the high halves fit 16 bits.
  const __m128i high = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
  // The low halves wrap alike in 16 bits, so two multiply-lows give them.
  const __m128i low = _mm_add_epi16(_mm_mullo_epi16(v, _mm_set1_epi16(kCrGreen)),
                                    _mm_mullo_epi16(u, _mm_set1_epi16(kCbGreen)));
  c.green = {_mm_sub_epi16(high, v), flip(low)};
  return c;
}

struct Luma {
  __m128i high, low;
};

// The luma terms of Y - 16 in each lane.
ZENTA_SSSE3_INLINE Luma lumaTerms(__m128i y) {
  const __m128i low = _mm_mullo_epi16(y, _mm_set1_epi16(kLuma));
  return {_mm_add_epi16(y, _mm_mulhi_epi16(y, _mm_set1_epi16(kLuma))), low};
}

// One channel of a pixel in each lane, before the clamp to 0..255 that
// packing to bytes does.
ZENTA_SSSE3_INLINE __m128i channel(const Luma& l, const Term& t) {
  const __m128i carry = _mm_cmpgt_epi16(t.flippedLow, _mm_add_epi16(l.low, t.flippedLow));
  return _mm_sub_epi16(_mm_add_epi16(l.high, t.high), carry);
}

ZENTA_SSSE3_INLINE __m128i mask(int chunk, int source) {
  return _mm_loadu_si128(
      reinterpret_cast<const __m128i*>(kPixelInterleave[size_t(chunk)][size_t(source)].data()));
}

// Sixteen pixels of one row (eight pairs sharing the eight chroma samples
// of `c`), stored as 48 bytes blue, green, red.
ZENTA_SSSE3_INLINE void sixteenPixels(uint8_t* out, const uint8_t* row, const Chroma& c) {
  const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
  const __m128i sixteen = _mm_set1_epi16(16);
  const Luma even = lumaTerms(_mm_sub_epi16(_mm_and_si128(words, _mm_set1_epi16(0xFF)), sixteen));
  const Luma odd = lumaTerms(_mm_sub_epi16(_mm_srli_epi16(words, 8), sixteen));
  const __m128i w[3] = {_mm_packus_epi16(channel(even, c.blue), channel(even, c.green)),
                        _mm_packus_epi16(channel(even, c.red), channel(odd, c.blue)),
                        _mm_packus_epi16(channel(odd, c.green), channel(odd, c.red))};
  for (int chunk = 0; chunk < 3; ++chunk) {
    const __m128i bytes = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(w[0], mask(chunk, 0)),
                                                    _mm_shuffle_epi8(w[1], mask(chunk, 1))),
                                       _mm_shuffle_epi8(w[2], mask(chunk, 2)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * chunk), bytes);
  }
}

ZENTA_SSSE3_INLINE __m128i centredChroma(const uint8_t* samples) {
  return _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples)),
                                         _mm_setzero_si128()),
                       _mm_set1_epi16(128));
}

}  // namespace

ZENTA_SSSE3 void convertRowPairSsse3(uint8_t* top, uint8_t* bottom, const uint8_t* yTop,
                                     const uint8_t* yBottom, const uint8_t* cb, const uint8_t* cr,
                                     int pixels) {
  const int whole = pixels & ~15;
  for (int x = 0; x < whole; x += 16) {
    const Chroma c = chromaTerms(centredChroma(cb + x / 2), centredChroma(cr + x / 2));
    sixteenPixels(top + 3 * x, yTop + x, c);
    sixteenPixels(bottom + 3 * x, yBottom + x, c);
  }
  if (whole < pixels) {
    portableColourKernels().convertRowPair(top + 3 * whole, bottom + 3 * whole, yTop + whole,
                                           yBottom + whole, cb + whole / 2, cr + whole / 2,
                                           pixels - whole);
  }
}

void initColourKernelsSsse3(ColourKernels& kernels, unsigned flags) {
  if ((flags & kCpuSsse3) == 0) return;
  kernels.convertRowPair = convertRowPairSsse3;
}

}  // namespace zenta::video
