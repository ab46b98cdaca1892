// The conversion's 16.16 factors, each split into a whole part and a 16-bit
// rest (65536 a + b), as the vector kernels compute them: the whole parts
// are the small multiples that they add, the rests the 16-bit factors here.
// 76309 = 65536 + 10773;  132201 = 2 x 65536 + 1129;
// 104597 = 2 x 65536 - 26475;  -53279 = -65536 + 12257;  -25675.
#pragma once

#include <cstdint>

namespace zenta::video {

inline constexpr int16_t kLuma = 10773, kCbBlue = 1129, kCrRed = -26475, kCrGreen = 12257,
                         kCbGreen = -25675;

}  // namespace zenta::video
