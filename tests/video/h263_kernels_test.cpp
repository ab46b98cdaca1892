#include "video/h263/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>

namespace zenta::video {
namespace {

using Block = std::array<int16_t, 64>;
using Pixels = std::array<uint8_t, 16 * 16>;

TEST(Kernels, DequantisationValues) {
  EXPECT_EQ(dequantLevel(1, 5), 15);
  EXPECT_EQ(dequantLevel(1, 4), 11);
  EXPECT_EQ(dequantLevel(-2, 4), -19);
  EXPECT_EQ(dequantLevel(127, 31), 7905);  // not clipped to 2047
  EXPECT_EQ(dequantLevel(-128, 31), -7967);
  EXPECT_EQ(dequantLevel(0, 17), 0);

  const ReconKernels& k = reconKernels();
  Block levels{}, out{};
  levels[0] = 128;
  levels[1] = 1;
  levels[63] = -2;
  k.dequantIntra(out.data(), levels.data(), 4);
  EXPECT_EQ(out[0], 1024);
  EXPECT_EQ(out[1], 11);
  EXPECT_EQ(out[63], -19);
  k.dequantInter(out.data(), levels.data(), 4);
  EXPECT_EQ(out[0], 128 * 8 + 3);  // an inter block has no DC rule
}

TEST(Kernels, InterpolationRounding) {
  const ReconKernels& k = reconKernels();
  Pixels src{}, dst{};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x)
      src[size_t(16 * y + x)] = uint8_t(10 + (x & 1) + 2 * (y & 1));
  }
  // a = 10, b = 11 (right), c = 12 (below), d = 13.
  k.interpolateH(dst.data(), src.data(), 16, 16, 0);
  EXPECT_EQ(dst[0], 11);
  k.interpolateH(dst.data(), src.data(), 16, 16, 1);
  EXPECT_EQ(dst[0], 10);
  k.interpolateV(dst.data(), src.data(), 16, 16, 0);
  EXPECT_EQ(dst[0], 11);
  k.interpolateV(dst.data(), src.data(), 16, 16, 1);
  EXPECT_EQ(dst[0], 11);
  k.interpolateHV(dst.data(), src.data(), 16, 16, 0);
  EXPECT_EQ(dst[0], 12);
  k.interpolateHV(dst.data(), src.data(), 16, 16, 1);
  EXPECT_EQ(dst[0], 11);
}

TEST(Kernels, ClippingAndClearing) {
  const ReconKernels& k = reconKernels();
  Pixels pixels;
  pixels.fill(250);
  Block residual;
  residual.fill(10);
  residual[1] = -300;
  k.addClipped(pixels.data(), residual.data(), 16);
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[1], 0);
  EXPECT_EQ(pixels[8], 250);  // outside the 8x8 block
  Block values{};
  values[0] = 300;
  values[1] = -5;
  values[2] = 77;
  k.storeClipped(pixels.data(), values.data(), 16);
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[1], 0);
  EXPECT_EQ(pixels[2], 77);
  std::array<int16_t, 384> area;
  area.fill(-1);
  k.clearBlocks(area.data(), sizeof area);
  EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](int16_t v) { return v == 0; }));
}

TEST(Idct, FlatAndExtremeBlocks) {
  const ReconKernels& k = reconKernels();
  Block block{};
  k.idct8x8(block.data());
  EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; }));
  block.fill(0);
  block[0] = 1024;  // INTRADC 128
  k.idct8x8(block.data());
  EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 128; }));
  // Levels far beyond the transform's range still clamp to -256..255.
  block.fill(7905);
  k.idct8x8(block.data());
  for (int16_t v : block)
    EXPECT_TRUE(v >= -256 && v <= 255);
  block.fill(-7967);
  block[0] = 7905;
  k.idct8x8(block.data());
  for (int16_t v : block)
    EXPECT_TRUE(v >= -256 && v <= 255);
}

// The accuracy test of IEEE 1180-1990, with its random number generator.
class Ieee1180 {
 public:
  explicit Ieee1180(long seed) : state_(seed) {}
  int next(int low, int high) {
    state_ = (state_ * 1103515245 + 12345) & 0xFFFFFFFFL;
    const long i = state_ & 0x7FFFFFFE;
    const double x = double(i) / double(0x7FFFFFFF) * (low + high + 1);
    return int(x) - low;
  }

 private:
  long state_;
};

double cosine(int i, int j) {
  static const auto table = [] {
    std::array<double, 64> t{};
    for (int a = 0; a < 8; ++a) {
      for (int b = 0; b < 8; ++b) {
        const double scale = a == 0 ? std::sqrt(0.125) : 0.5;
        t[size_t(8 * a + b)] = scale * std::cos((2 * b + 1) * a * M_PI / 16);
      }
    }
    return t;
  }();
  return table[size_t(8 * i + j)];
}

// Separable double-precision transforms; forward when `inverse` is false.
void referenceTransform(const double in[64], double out[64], bool inverse) {
  double tmp[64];
  for (int y = 0; y < 8; ++y) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int x = 0; x < 8; ++x) {
        sum += in[8 * y + x] * (inverse ? cosine(x, u) : cosine(u, x));
      }
      tmp[8 * y + u] = sum;
    }
  }
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int y = 0; y < 8; ++y)
        sum += tmp[8 * y + u] * (inverse ? cosine(y, v) : cosine(v, y));
      out[8 * v + u] = sum;
    }
  }
}

struct Range {
  int low, high, sign;
};

class Accuracy : public ::testing::TestWithParam<Range> {};

TEST_P(Accuracy, MeetsTheLimits) {
  const Range r = GetParam();
  const ReconKernels& k = reconKernels();
  Ieee1180 random(1);
  constexpr int kBlocks = 10000;
  double error[64] = {}, squared[64] = {};
  int peak = 0;
  for (int n = 0; n < kBlocks; ++n) {
    double pixels[64], coefficients[64], reference[64];
    for (double& p : pixels)
      p = r.sign * random.next(r.low, r.high);
    referenceTransform(pixels, coefficients, false);
    Block block;
    double rounded[64];
    for (int i = 0; i < 64; ++i) {
      rounded[i] = std::clamp(std::floor(coefficients[i] + 0.5), -2048.0, 2047.0);
      block[size_t(i)] = int16_t(rounded[i]);
    }
    referenceTransform(rounded, reference, true);
    k.idct8x8(block.data());
    for (int i = 0; i < 64; ++i) {
      const double expected = std::clamp(std::floor(reference[i] + 0.5), -256.0, 255.0);
      const int e = block[size_t(i)] - int(expected);
      peak = std::max(peak, std::abs(e));
      error[i] += e;
      squared[i] += e * e;
    }
  }
  double totalError = 0, totalSquared = 0, worstMean = 0, worstSquared = 0;
  for (int i = 0; i < 64; ++i) {
    worstMean = std::max(worstMean, std::abs(error[i]) / kBlocks);
    worstSquared = std::max(worstSquared, squared[i] / kBlocks);
    totalError += error[i];
    totalSquared += squared[i];
  }
  std::printf("[%d, %d] x %d: peak %d, mse %.4f worst %.4f, mean %.5f worst %.4f\n", -r.low, r.high,
              r.sign, peak, totalSquared / (64.0 * kBlocks), worstSquared,
              std::abs(totalError) / (64.0 * kBlocks), worstMean);
  EXPECT_LE(peak, 1);
  EXPECT_LE(worstSquared, 0.06);
  EXPECT_LE(totalSquared / (64.0 * kBlocks), 0.02);
  EXPECT_LE(worstMean, 0.015);
  EXPECT_LE(std::abs(totalError) / (64.0 * kBlocks), 0.0015);
}

INSTANTIATE_TEST_SUITE_P(Ieee1180Ranges, Accuracy,
                         ::testing::Values(Range{256, 255, 1}, Range{5, 5, 1}, Range{300, 300, 1},
                                           Range{256, 255, -1}, Range{5, 5, -1},
                                           Range{300, 300, -1}));

}  // namespace
}  // namespace zenta::video
