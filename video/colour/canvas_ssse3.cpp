// SSSE3 version of the colour conversion's row-pair kernel. It computes the
// same 16.16 fixed-point sums as the tables, exactly, with 32-bit lanes:
// each factor is split as 65536 x a + b with |b| < 32768, so that
//   (luma + chroma term) >> 16 = (a-part) + ((b-part) >> 16)
// where the a-part is a small 16-bit sum and the b-part comes from
// 16 x 16-bit multiply-adds.
#include "video/colour/canvas_simd.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>

#include <cstring>

namespace zenta::video {

namespace {

// 76309 = 65536 + 10773;  132201 = 2 x 65536 + 1129;
// 104597 = 2 x 65536 - 26475;  -53279 = -65536 + 12257;  -25675.
constexpr int16_t kLuma = 10773, kCbBlue = 1129, kCrRed = -26475, kCrGreen = 12257,
                  kCbGreen = -25675;

__attribute__((target("ssse3"))) __m128i pairFactors(int16_t first, int16_t second) {
  return _mm_set1_epi32(int32_t(uint32_t(uint16_t(first)) | uint32_t(uint16_t(second)) << 16));
}

// The 32-bit b-parts of the chroma terms of four chroma samples, each
// doubled for the two columns it serves: low half for pixels 0 to 3, high
// half for pixels 4 to 7.
struct ChromaTerms {
  __m128i lo, hi;
};

__attribute__((target("ssse3"))) ChromaTerms spread(__m128i four) {
  return {_mm_unpacklo_epi32(four, four), _mm_unpackhi_epi32(four, four)};
}

// (lumaPart + chromaPart) >> 16 for eight pixels, as 16-bit values.
__attribute__((target("ssse3"))) __m128i shifted(__m128i lumaLo, __m128i lumaHi,
                                                 const ChromaTerms& chroma) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lumaLo, chroma.lo), 16),
                         _mm_srai_epi32(_mm_add_epi32(lumaHi, chroma.hi), 16));
}

struct PairTerms {
  __m128i u2, v2;  // 2 (Cb - 128) and 2 (Cr - 128), per pixel, 16 bits
  __m128i v;       // Cr - 128 per pixel
  ChromaTerms blue, green, red;
};

// Eight pixels of one row, from luma - 16 and the terms of their chroma.
__attribute__((target("ssse3"))) void eightPixels(uint8_t* out, __m128i y, const PairTerms& c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i factor = pairFactors(kLuma, 0);
  const __m128i lumaLo = _mm_madd_epi16(_mm_unpacklo_epi16(y, zero), factor);
  const __m128i lumaHi = _mm_madd_epi16(_mm_unpackhi_epi16(y, zero), factor);
  const __m128i blue = _mm_add_epi16(_mm_add_epi16(y, c.u2), shifted(lumaLo, lumaHi, c.blue));
  const __m128i green = _mm_add_epi16(_mm_sub_epi16(y, c.v), shifted(lumaLo, lumaHi, c.green));
  const __m128i red = _mm_add_epi16(_mm_add_epi16(y, c.v2), shifted(lumaLo, lumaHi, c.red));

  const __m128i b8 = _mm_packus_epi16(blue, zero);
  const __m128i g8 = _mm_packus_epi16(green, zero);
  const __m128i r8 = _mm_packus_epi16(red, zero);
  const __m128i bg = _mm_unpacklo_epi8(b8, g8);  // b0 g0 b1 g1 ... b7 g7
  const __m128i first = _mm_or_si128(
      _mm_shuffle_epi8(bg, _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10)),
      _mm_shuffle_epi8(r8,
                       _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1)));
  const __m128i second = _mm_or_si128(
      _mm_shuffle_epi8(
          bg, _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
      _mm_shuffle_epi8(r8,
                       _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), second);
}

__attribute__((target("ssse3"))) void convertRowPairSsse3(uint8_t* top, uint8_t* bottom,
                                                          const uint8_t* yTop,
                                                          const uint8_t* yBottom, const uint8_t* cb,
                                                          const uint8_t* cr, int pixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i sixteen = _mm_set1_epi16(16), half = _mm_set1_epi16(128);
  const int whole = pixels & ~7;
  for (int x = 0; x < whole; x += 8) {
    int32_t cb4 = 0, cr4 = 0;
    std::memcpy(&cb4, cb + x / 2, 4);
    std::memcpy(&cr4, cr + x / 2, 4);
    const __m128i u4 = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(cb4), zero), half);
    const __m128i v4 = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(cr4), zero), half);
    PairTerms c;
    const __m128i u = _mm_unpacklo_epi16(u4, u4);  // each sample serves two columns
    c.v = _mm_unpacklo_epi16(v4, v4);
    c.u2 = _mm_add_epi16(u, u);
    c.v2 = _mm_add_epi16(c.v, c.v);
    c.blue = spread(_mm_madd_epi16(_mm_unpacklo_epi16(u4, zero), pairFactors(kCbBlue, 0)));
    c.red = spread(_mm_madd_epi16(_mm_unpacklo_epi16(v4, zero), pairFactors(kCrRed, 0)));
    c.green = spread(_mm_madd_epi16(_mm_unpacklo_epi16(v4, u4), pairFactors(kCrGreen, kCbGreen)));
    const auto luma = [&](const uint8_t* row) {
      return _mm_sub_epi16(
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x)), zero),
          sixteen);
    };
    eightPixels(top + 3 * x, luma(yTop), c);
    eightPixels(bottom + 3 * x, luma(yBottom), c);
  }
  if (whole < pixels) {
    portableColourKernels().convertRowPair(top + 3 * whole, bottom + 3 * whole, yTop + whole,
                                           yBottom + whole, cb + whole / 2, cr + whole / 2,
                                           pixels - whole);
  }
}

}  // namespace

void applySimdColourKernels(ColourKernels& kernels) {
  if (__builtin_cpu_supports("ssse3")) kernels.convertRowPair = convertRowPairSsse3;
}

}  // namespace zenta::video

#else

namespace zenta::video {
void applySimdColourKernels(ColourKernels&) {}
}  // namespace zenta::video

#endif
