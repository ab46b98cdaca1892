// AVX-512 version of the conversion's row-pair kernel (AVX-512 BW and VL
// for the 16-bit lanes and masked loads, VBMI for the byte permutes): the arithmetic and the
// even/odd split of the SSSE3 version (see convert_ssse3.cpp for why it is
// exact), 64 pixels of a row a step. Packing gives three vectors of channel
// bytes; six two-source byte permutes put them straight into 192 bytes of
// blue, green, red. The last pixels of a row go through the same step with
// masked loads and stores, which never touch a byte past the row.
#include <immintrin.h>

#include <array>

#include "video/colour/x86/convert_init.h"
#include "video/colour/x86/pixel_interleave.h"
#include "video/colour/x86/split_factors.h"
#include "video/cpu.h"

#define ZENTA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))
// Helpers are inlined into the kernel, so its vectors stay in registers.
#define ZENTA_AVX512_INLINE \
  inline __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"), always_inline))

namespace zenta::video {

namespace {

// Where output byte q (0 to 191) of 64 pixels comes from. The channel
// vectors are packed as the SSSE3 kernel packs them, lane by lane: 128-bit
// lane L of each holds the 16-pixel group L in the layout that
// kPixelInterleave describes. For output vector k, `pair` picks bytes of
// vectors 0 and 1 (bit 6 chooses the second), and `third` the bytes of
// vector 2, which `fromThird` marks.
struct OutputPermute {
  std::array<std::array<uint8_t, 64>, 3> pair{};
  std::array<std::array<uint8_t, 64>, 3> third{};
  std::array<uint64_t, 3> fromThird{};
};

constexpr OutputPermute kOutputPermute = [] {
  OutputPermute p{};
  for (int q = 0; q < 192; ++q) {
    const int group = q / 48, inGroup = q % 48;
    const int chunk = inGroup / 16, position = inGroup % 16;
    int source = -1, byte = 0;
    for (int v = 0; v < 3; ++v) {
      const int8_t at = kPixelInterleave[size_t(chunk)][size_t(v)][size_t(position)];
      if (at >= 0) source = v, byte = 16 * group + at;
    }
    const auto k = size_t(q / 64), r = size_t(q % 64);
    if (source == 2) {
      p.third[k][r] = uint8_t(byte);
      p.fromThird[k] |= uint64_t(1) << r;
    } else {
      p.pair[k][r] = uint8_t(byte | source << 6);
    }
  }
  return p;
}();

// Word p of the green term's high halves: lane L's four sums from the
// unpacked low words, then its four from the high words (bit 5 picks the
// second source).
constexpr std::array<uint16_t, 32> kHighHalves = [] {
  std::array<uint16_t, 32> index{};
  for (int p = 0; p < 32; ++p) {
    const int lane = p / 8, i = p % 8;
    index[size_t(p)] = uint16_t(i < 4 ? 8 * lane + 2 * i + 1 : 32 + 8 * lane + 2 * (i - 4) + 1);
  }
  return index;
}();

struct Term {
  __m512i high, flippedLow;
};
struct Chroma {
  Term blue, green, red;
};

ZENTA_AVX512_INLINE __m512i flip(__m512i v) {
  return _mm512_xor_si512(v, _mm512_set1_epi16(int16_t(0x8000)));
}

// Thirty-two chroma samples less 128; the masked bytes read as zero.
ZENTA_AVX512_INLINE __m512i centredChroma(const uint8_t* samples, __mmask32 keep) {
  return _mm512_sub_epi16(_mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(keep, samples)),
                          _mm512_set1_epi16(128));
}

ZENTA_AVX512_INLINE Chroma chromaTerms(__m512i u, __m512i v) {
  Chroma c;
  const __m512i u2 = _mm512_add_epi16(u, u), v2 = _mm512_add_epi16(v, v);
  c.blue = {_mm512_add_epi16(u2, _mm512_mulhi_epi16(u, _mm512_set1_epi16(kCbBlue))),
            flip(_mm512_mullo_epi16(u, _mm512_set1_epi16(kCbBlue)))};
  c.red = {_mm512_add_epi16(v2, _mm512_mulhi_epi16(v, _mm512_set1_epi16(kCrRed))),
           flip(_mm512_mullo_epi16(v, _mm512_set1_epi16(kCrRed)))};
  const __m512i factors =
      _mm512_set1_epi32(int32_t(uint32_t(uint16_t(kCrGreen)) | uint32_t(uint16_t(kCbGreen)) << 16));
  // Unpacking stays within each lane; the permute below restores the order.
  const __m512i lo = _mm512_madd_epi16(_mm512_unpacklo_epi16(v, u), factors);
  const __m512i hi = _mm512_madd_epi16(_mm512_unpackhi_epi16(v, u), factors);
  // The high halves of the sums, in the order that packing them would
  // give, by one word permute: they fit in 16 bits, so packing would not
  // saturate.
  const __m512i high = _mm512_permutex2var_epi16(lo, _mm512_loadu_si512(kHighHalves.data()), hi);
  // The low halves wrap alike in 16 bits, so two multiply-lows give them.
  const __m512i low = _mm512_add_epi16(_mm512_mullo_epi16(v, _mm512_set1_epi16(kCrGreen)),
                                       _mm512_mullo_epi16(u, _mm512_set1_epi16(kCbGreen)));
  c.green = {_mm512_sub_epi16(high, v), flip(low)};
  return c;
}

struct Luma {
  __m512i high, low;
};

ZENTA_AVX512_INLINE Luma lumaTerms(__m512i y) {
  const __m512i low = _mm512_mullo_epi16(y, _mm512_set1_epi16(kLuma));
  return {_mm512_add_epi16(y, _mm512_mulhi_epi16(y, _mm512_set1_epi16(kLuma))), low};
}

// The carry of the two rests adds one where the flipped sum is below the
// flipped chroma rest.
ZENTA_AVX512_INLINE __m512i channel(const Luma& l, const Term& t) {
  const __mmask32 carry =
      _mm512_cmpgt_epi16_mask(t.flippedLow, _mm512_add_epi16(l.low, t.flippedLow));
  const __m512i sum = _mm512_add_epi16(l.high, t.high);
  return _mm512_mask_sub_epi16(sum, carry, sum, _mm512_set1_epi16(-1));
}

// The low `count` bits set, up to all 64.
constexpr uint64_t lowBits(int count) {
  return count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
}

ZENTA_AVX512_INLINE __m512i loadIndex(const std::array<uint8_t, 64>& index) {
  return _mm512_loadu_si512(index.data());
}

// Up to 64 pixels of one row; `count` below 64 masks the loads and stores.
ZENTA_AVX512_INLINE void sixtyFourPixels(uint8_t* out, const uint8_t* row, const Chroma& c,
                                         int count) {
  const __m512i words =
      count == 64 ? _mm512_loadu_si512(row) : _mm512_maskz_loadu_epi8(lowBits(count), row);
  const __m512i sixteen = _mm512_set1_epi16(16);
  const Luma even =
      lumaTerms(_mm512_sub_epi16(_mm512_and_si512(words, _mm512_set1_epi16(0xFF)), sixteen));
  const Luma odd = lumaTerms(_mm512_sub_epi16(_mm512_srli_epi16(words, 8), sixteen));
  const __m512i w0 = _mm512_packus_epi16(channel(even, c.blue), channel(even, c.green));
  const __m512i w1 = _mm512_packus_epi16(channel(even, c.red), channel(odd, c.blue));
  const __m512i w2 = _mm512_packus_epi16(channel(odd, c.green), channel(odd, c.red));
  for (int k = 0; k < 3; ++k) {
    const __m512i bytes = _mm512_mask_permutexvar_epi8(
        _mm512_permutex2var_epi8(w0, loadIndex(kOutputPermute.pair[size_t(k)]), w1),
        kOutputPermute.fromThird[size_t(k)], loadIndex(kOutputPermute.third[size_t(k)]), w2);
    if (count == 64) {
      _mm512_storeu_si512(out + 64 * k, bytes);
    } else {
      const int left = 3 * count - 64 * k;
      if (left <= 0) break;
      _mm512_mask_storeu_epi8(out + 64 * k, lowBits(left), bytes);
    }
  }
}

ZENTA_AVX512 void convertRowPairAvx512(uint8_t* top, uint8_t* bottom, const uint8_t* yTop,
                                       const uint8_t* yBottom, const uint8_t* cb, const uint8_t* cr,
                                       int pixels) {
  const int whole = pixels & ~63;
  for (int x = 0; x < whole; x += 64) {
    const Chroma c = chromaTerms(centredChroma(cb + x / 2, ~__mmask32(0)),
                                 centredChroma(cr + x / 2, ~__mmask32(0)));
    sixtyFourPixels(top + 3 * x, yTop + x, c, 64);
    sixtyFourPixels(bottom + 3 * x, yBottom + x, c, 64);
  }
  if (whole < pixels) {
    const int left = pixels - whole;
    const auto keep = __mmask32(lowBits(left / 2));
    const Chroma c =
        chromaTerms(centredChroma(cb + whole / 2, keep), centredChroma(cr + whole / 2, keep));
    sixtyFourPixels(top + 3 * whole, yTop + whole, c, left);
    sixtyFourPixels(bottom + 3 * whole, yBottom + whole, c, left);
  }
}

}  // namespace

void initColourKernelsAvx512(ColourKernels& kernels, unsigned flags) {
  if ((flags & kCpuAvx512) == 0) return;
  kernels.convertRowPair = convertRowPairAvx512;
}

}  // namespace zenta::video
