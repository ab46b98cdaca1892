// Variable-length code tables of H.263, as look-up tables indexed by a fixed
// number of peeked bits. Built once, on first use, thread-safely.
#pragma once

#include <array>
#include <cstdint>

namespace zenta::video {

struct VlcEntry {
  int16_t value = -1;  // -1: the bits start no code
  uint8_t length = 0;
};

// Coefficient event: code length without the sign bit, LAST, RUN, |LEVEL|.
// A level of 0 marks a pattern that starts no code.
struct CoefficientEntry {
  uint8_t length = 0;
  uint8_t last = 0;
  uint8_t run = 0;
  uint8_t level = 0;
};

inline constexpr int kMcbpcBits = 9;
inline constexpr int kCbpyBits = 6;
inline constexpr int kMvdBits = 12;         // the code without its sign bit
inline constexpr int kTcoefBits = 12;       // likewise
inline constexpr int kMcbpcStuffing = 255;  // value of the stuffing code

struct H263Tables {
  // MCBPC values: CBPC x 16 + macroblock type.
  std::array<VlcEntry, 1 << kMcbpcBits> mcbpcIntra;
  std::array<VlcEntry, 1 << kMcbpcBits> mcbpcInter;
  std::array<VlcEntry, 1 << kCbpyBits> cbpy;  // CBPY of an intra macroblock
  std::array<VlcEntry, 1 << kMvdBits> mvd;    // |difference| in half samples, 0 to 32
  std::array<CoefficientEntry, 1 << kTcoefBits> tcoef;
  std::array<uint8_t, 64> zigzag;
};

const H263Tables& h263Tables();

}  // namespace zenta::video
