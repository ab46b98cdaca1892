// Byte-shuffle masks that turn the channels of sixteen pixels into 48 bytes
// blue, green, red. The channels come as three 16-byte vectors, each two
// channels of eight pixels side by side:
//   P0 = blue of the even pixels, then their green;
//   P1 = red of the even pixels, then blue of the odd ones;
//   P2 = green of the odd pixels, then their red.
// The output's 16-byte chunk k (of three) is the or of the shuffles of P0,
// P1 and P2 by kPixelInterleave[k][0], [1] and [2] (-1: no byte).
#pragma once

#include <array>
#include <cstdint>

namespace zenta::video {

using ShuffleMask = std::array<int8_t, 16>;

inline constexpr std::array<std::array<ShuffleMask, 3>, 3> kPixelInterleave = [] {
  std::array<std::array<ShuffleMask, 3>, 3> masks{};
  for (auto& chunk : masks) {
    for (auto& mask : chunk)
      mask.fill(-1);
  }
  // Where each channel of pixel 2i (+1) lies: which vector, and which half.
  constexpr int kVector[2][3] = {{0, 0, 1}, {1, 2, 2}};  // [odd][channel]
  constexpr int kHalf[2][3] = {{0, 8, 0}, {8, 0, 8}};
  for (int position = 0; position < 48; ++position) {
    const int pixel = position / 3, channel = position % 3;
    const int odd = pixel & 1, i = pixel / 2;
    masks[size_t(position / 16)][size_t(kVector[odd][channel])][size_t(position % 16)] =
        int8_t(kHalf[odd][channel] + i);
  }
  return masks;
}();

}  // namespace zenta::video
