#include "video/h263/tables.h"

#include <cstddef>

namespace zenta::video {

namespace {

struct Code {
  uint16_t bits;
  uint8_t length;
  int16_t value;
};

template <size_t N>
void fill(std::array<VlcEntry, N>& table, int indexBits, const Code& code) {
  const int spare = indexBits - code.length;
  const size_t first = size_t{code.bits} << spare;
  for (size_t i = 0; i < (size_t{1} << spare); ++i) {
    table[first + i] = VlcEntry{code.value, code.length};
  }
}

// Macroblock types: 0 INTER, 1 INTER+Q, 2 INTER4V, 3 INTRA, 4 INTRA+Q.
constexpr Code kMcbpcIntra[] = {
    {0b1, 1, 0x03},      {0b001, 3, 0x13},    {0b010, 3, 0x23},
    {0b011, 3, 0x33},    {0b0001, 4, 0x04},   {0b000001, 6, 0x14},
    {0b000010, 6, 0x24}, {0b000011, 6, 0x34}, {0b000000001, 9, kMcbpcStuffing},
};

constexpr Code kMcbpcInter[] = {
    {0b1, 1, 0x00},         {0b0011, 4, 0x10},      {0b0010, 4, 0x20},
    {0b000101, 6, 0x30},    {0b011, 3, 0x01},       {0b0000111, 7, 0x11},
    {0b0000110, 7, 0x21},   {0b000000101, 9, 0x31}, {0b010, 3, 0x02},
    {0b0000101, 7, 0x12},   {0b0000100, 7, 0x22},   {0b00000101, 8, 0x32},
    {0b00011, 5, 0x03},     {0b00000100, 8, 0x13},  {0b00000011, 8, 0x23},
    {0b0000011, 7, 0x33},   {0b000100, 6, 0x04},    {0b000000100, 9, 0x14},
    {0b000000011, 9, 0x24}, {0b000000010, 9, 0x34}, {0b000000001, 9, kMcbpcStuffing},
};

// Indexed by the CBPY of an intra macroblock.
constexpr Code kCbpy[] = {
    {0b0011, 4, 0},  {0b00101, 5, 1},  {0b00100, 5, 2},  {0b1001, 4, 3},
    {0b00011, 5, 4}, {0b0111, 4, 5},   {0b000010, 6, 6}, {0b1011, 4, 7},
    {0b00010, 5, 8}, {0b000011, 6, 9}, {0b0101, 4, 10},  {0b1010, 4, 11},
    {0b0100, 4, 12}, {0b1000, 4, 13},  {0b0110, 4, 14},  {0b11, 2, 15},
};

// Magnitude 0 to 32 of a vector difference; a sign bit follows every code
// but that of 0.
constexpr Code kMvd[] = {
    {1, 1, 0},    {1, 2, 1},    {1, 3, 2},    {1, 4, 3},    {3, 6, 4},    {5, 7, 5},
    {4, 7, 6},    {3, 7, 7},    {11, 9, 8},   {10, 9, 9},   {9, 9, 10},   {17, 10, 11},
    {16, 10, 12}, {15, 10, 13}, {14, 10, 14}, {13, 10, 15}, {12, 10, 16}, {11, 10, 17},
    {10, 10, 18}, {9, 10, 19},  {8, 10, 20},  {7, 10, 21},  {6, 10, 22},  {5, 10, 23},
    {4, 10, 24},  {7, 11, 25},  {6, 11, 26},  {5, 11, 27},  {4, 11, 28},  {3, 11, 29},
    {2, 11, 30},  {3, 12, 31},  {2, 12, 32},
};

// The 102 TCOEF codes (without the sign bit); the first 58 have LAST 0.
constexpr struct {
  uint8_t bits, length, run, level;
} kTcoef[102] = {
    {0x2, 2, 0, 1},
    {0xf, 4, 0, 2},
    {0x15, 6, 0, 3},
    {0x17, 7, 0, 4},
    {0x1f, 8, 0, 5},
    {0x25, 9, 0, 6},
    {0x24, 9, 0, 7},
    {0x21, 10, 0, 8},
    {0x20, 10, 0, 9},
    {0x7, 11, 0, 10},
    {0x6, 11, 0, 11},
    {0x20, 11, 0, 12},
    {0x6, 3, 1, 1},
    {0x14, 6, 1, 2},
    {0x1e, 8, 1, 3},
    {0xf, 10, 1, 4},
    {0x21, 11, 1, 5},
    {0x50, 12, 1, 6},
    {0xe, 4, 2, 1},
    {0x1d, 8, 2, 2},
    {0xe, 10, 2, 3},
    {0x51, 12, 2, 4},
    {0xd, 5, 3, 1},
    {0x23, 9, 3, 2},
    {0xd, 10, 3, 3},
    {0xc, 5, 4, 1},
    {0x22, 9, 4, 2},
    {0x52, 12, 4, 3},
    {0xb, 5, 5, 1},
    {0xc, 10, 5, 2},
    {0x53, 12, 5, 3},
    {0x13, 6, 6, 1},
    {0xb, 10, 6, 2},
    {0x54, 12, 6, 3},
    {0x12, 6, 7, 1},
    {0xa, 10, 7, 2},
    {0x11, 6, 8, 1},
    {0x9, 10, 8, 2},
    {0x10, 6, 9, 1},
    {0x8, 10, 9, 2},
    {0x16, 7, 10, 1},
    {0x55, 12, 10, 2},
    {0x15, 7, 11, 1},
    {0x14, 7, 12, 1},
    {0x1c, 8, 13, 1},
    {0x1b, 8, 14, 1},
    {0x21, 9, 15, 1},
    {0x20, 9, 16, 1},
    {0x1f, 9, 17, 1},
    {0x1e, 9, 18, 1},
    {0x1d, 9, 19, 1},
    {0x1c, 9, 20, 1},
    {0x1b, 9, 21, 1},
    {0x1a, 9, 22, 1},
    {0x22, 11, 23, 1},
    {0x23, 11, 24, 1},
    {0x56, 12, 25, 1},
    {0x57, 12, 26, 1},
    // LAST 1
    {0x7, 4, 0, 1},
    {0x19, 9, 0, 2},
    {0x5, 11, 0, 3},
    {0xf, 6, 1, 1},
    {0x4, 11, 1, 2},
    {0xe, 6, 2, 1},
    {0xd, 6, 3, 1},
    {0xc, 6, 4, 1},
    {0x13, 7, 5, 1},
    {0x12, 7, 6, 1},
    {0x11, 7, 7, 1},
    {0x10, 7, 8, 1},
    {0x1a, 8, 9, 1},
    {0x19, 8, 10, 1},
    {0x18, 8, 11, 1},
    {0x17, 8, 12, 1},
    {0x16, 8, 13, 1},
    {0x15, 8, 14, 1},
    {0x14, 8, 15, 1},
    {0x13, 8, 16, 1},
    {0x18, 9, 17, 1},
    {0x17, 9, 18, 1},
    {0x16, 9, 19, 1},
    {0x15, 9, 20, 1},
    {0x14, 9, 21, 1},
    {0x13, 9, 22, 1},
    {0x12, 9, 23, 1},
    {0x11, 9, 24, 1},
    {0x7, 10, 25, 1},
    {0x6, 10, 26, 1},
    {0x5, 10, 27, 1},
    {0x4, 10, 28, 1},
    {0x24, 11, 29, 1},
    {0x25, 11, 30, 1},
    {0x26, 11, 31, 1},
    {0x27, 11, 32, 1},
    {0x58, 12, 33, 1},
    {0x59, 12, 34, 1},
    {0x5a, 12, 35, 1},
    {0x5b, 12, 36, 1},
    {0x5c, 12, 37, 1},
    {0x5d, 12, 38, 1},
    {0x5e, 12, 39, 1},
    {0x5f, 12, 40, 1},
};

H263Tables build() {
  H263Tables t{};
  for (const Code& c : kMcbpcIntra)
    fill(t.mcbpcIntra, kMcbpcBits, c);
  for (const Code& c : kMcbpcInter)
    fill(t.mcbpcInter, kMcbpcBits, c);
  for (const Code& c : kCbpy)
    fill(t.cbpy, kCbpyBits, c);
  for (const Code& c : kMvd)
    fill(t.mvd, kMvdBits, c);
  for (size_t i = 0; i < std::size(kTcoef); ++i) {
    const auto& c = kTcoef[i];
    const int spare = kTcoefBits - c.length;
    const size_t first = size_t{c.bits} << spare;
    for (size_t j = 0; j < (size_t{1} << spare); ++j) {
      t.tcoef[first + j] =
          CoefficientEntry{c.length, static_cast<uint8_t>(i >= 58), c.run, c.level};
    }
  }
  constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  for (size_t i = 0; i < 64; ++i)
    t.zigzag[i] = kZigzag[i];
  return t;
}

}  // namespace

const H263Tables& h263Tables() {
  static const H263Tables tables = build();
  return tables;
}

}  // namespace zenta::video
