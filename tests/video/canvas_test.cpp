#include "video/colour/canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace zenta::video {
namespace {

struct Bgr {
  int b, g, r;
  bool operator==(const Bgr&) const = default;
};

// The BT.601 equations in 16.16 fixed point, computed directly.
Bgr reference(int y, int cb, int cr) {
  const auto fix = [](int64_t v) { return std::clamp(int(v >> 16), 0, 255); };
  const int64_t luma = int64_t(y - 16) * 76309;
  return {fix(luma + int64_t(cb - 128) * 132201),
          fix(luma - int64_t(cr - 128) * 53279 - int64_t(cb - 128) * 25675),
          fix(luma + int64_t(cr - 128) * 104597)};
}

Bgr at(const std::vector<uint8_t>& canvas, int x, int screenRow) {
  const uint8_t* p = canvas.data() + size_t(287 - screenRow) * kCanvasStride + 3 * size_t(x);
  return {p[0], p[1], p[2]};
}

Bgr convertOne(int y, int cb, int cr) {
  std::vector<uint8_t> canvas(kCanvasBytes, 0);
  const std::array<uint8_t, 4> luma = {uint8_t(y), uint8_t(y), uint8_t(y), uint8_t(y)};
  const uint8_t u = uint8_t(cb), v = uint8_t(cr);
  ConvertPlanarToCanvas(canvas.data(), luma.data(), &u, &v, 2, 2);
  return at(canvas, 1, 1);
}

TEST(Colour, EdgeValues) {
  EXPECT_EQ(convertOne(16, 128, 128), (Bgr{0, 0, 0}));
  EXPECT_EQ(convertOne(235, 128, 128), (Bgr{254, 254, 254}));
  EXPECT_EQ(convertOne(81, 90, 240), (Bgr{0, 0, 254}));
  EXPECT_EQ(convertOne(255, 255, 255), (Bgr{255, 125, 255}));
  EXPECT_EQ(convertOne(0, 0, 0), (Bgr{0, 135, 0}));
  const YuvToRgbTables& t = yuvToRgbTables();
  EXPECT_EQ(t.clamp(-384), 0);
  EXPECT_EQ(t.clamp(639), 255);
  EXPECT_EQ(t.clamp(128), 128);
}

struct Picture {
  int width, height;
  std::vector<uint8_t> y, cb, cr;
};

Picture randomPicture(std::mt19937& random, int width, int height) {
  Picture p{width, height, {}, {}, {}};
  const auto fill = [&](std::vector<uint8_t>& plane, size_t size) {
    plane.resize(size);
    for (auto& v : plane)
      v = uint8_t(random());
  };
  fill(p.y, size_t(width) * size_t(height));
  fill(p.cb, size_t(width / 2) * size_t(height / 2));
  fill(p.cr, p.cb.size());
  return p;
}

// Every pixel of the picture's corner against the equations; every byte
// outside it unchanged.
void expectConverted(const std::vector<uint8_t>& canvas, const std::vector<uint8_t>& before,
                     const Picture& p) {
  const int w = std::min(p.width, kCanvasWidth) & ~1, h = std::min(p.height, kCanvasHeight) & ~1;
  for (int row = 0; row < kCanvasHeight; ++row) {
    for (int x = 0; x < kCanvasWidth; ++x) {
      if (row < h && x < w) {
        const size_t c = size_t(row / 2) * size_t(p.width / 2) + size_t(x / 2);
        ASSERT_EQ(at(canvas, x, row),
                  reference(p.y[size_t(row) * size_t(p.width) + size_t(x)], p.cb[c], p.cr[c]))
            << x << "," << row;
      } else {
        ASSERT_EQ(at(canvas, x, row), at(before, x, row)) << x << "," << row;
      }
    }
  }
}

TEST(Colour, RandomPicturesMatchTheEquations) {
  std::mt19937 random(11);
  const std::pair<int, int> sizes[] = {{368, 288}, {176, 144}, {128, 96}, {320, 240}, {352, 288},
                                       {8, 2},     {6, 3},     {7, 5},    {704, 576}};
  for (const auto& [w, h] : sizes) {
    const Picture p = randomPicture(random, w, h);
    // Guard bytes around the canvas catch writes outside it.
    std::vector<uint8_t> buffer(kCanvasBytes + 2 * 64, 0xEE);
    for (size_t i = 64; i < 64 + kCanvasBytes; ++i)
      buffer[i] = uint8_t(random());
    std::vector<uint8_t> before(buffer.begin() + 64, buffer.end() - 64);
    ConvertPlanarToCanvas(buffer.data() + 64, p.y.data(), p.cb.data(), p.cr.data(), w, h);
    std::vector<uint8_t> canvas(buffer.begin() + 64, buffer.end() - 64);
    expectConverted(canvas, before, p);
    for (size_t i = 0; i < 64; ++i) {
      ASSERT_EQ(buffer[i], 0xEE);
      ASSERT_EQ(buffer[buffer.size() - 1 - i], 0xEE);
    }
  }
}

TEST(Colour, PaddedStrideAndBadArguments) {
  std::mt19937 random(5);
  const Picture p = randomPicture(random, 192, 144);  // decoded 176 wide, stride 192
  std::vector<uint8_t> canvas(kCanvasBytes, 7), viaStride = canvas;
  ConvertPlanarToCanvas(viaStride.data(), p.y.data(), p.cb.data(), p.cr.data(), 176, 144, 192);
  Picture cropped{176, 144, {}, {}, {}};
  for (int row = 0; row < 144; ++row) {
    cropped.y.insert(cropped.y.end(), p.y.begin() + row * 192, p.y.begin() + row * 192 + 176);
  }
  for (int row = 0; row < 72; ++row) {
    cropped.cb.insert(cropped.cb.end(), p.cb.begin() + row * 96, p.cb.begin() + row * 96 + 88);
    cropped.cr.insert(cropped.cr.end(), p.cr.begin() + row * 96, p.cr.begin() + row * 96 + 88);
  }
  expectConverted(viaStride, canvas, cropped);

  std::vector<uint8_t> untouched = canvas;
  ConvertPlanarToCanvas(canvas.data(), p.y.data(), p.cb.data(), p.cr.data(), 176, 0);
  ConvertPlanarToCanvas(canvas.data(), p.y.data(), p.cb.data(), p.cr.data(), 0, 144);
  ConvertPlanarToCanvas(canvas.data(), nullptr, p.cb.data(), p.cr.data(), 176, 144);
  ConvertPlanarToCanvas(canvas.data(), p.y.data(), p.cb.data(), p.cr.data(), 176, 144, 100);
  EXPECT_EQ(canvas, untouched);
}

TEST(Colour, LargerPicturesAreScaledDownWholeToFitTheCanvas) {
  EXPECT_EQ(canvasScaleFactor(352, 288), 1);
  EXPECT_EQ(canvasScaleFactor(368, 288), 1);
  EXPECT_EQ(canvasScaleFactor(704, 576), 2);
  EXPECT_EQ(canvasScaleFactor(1408, 1152), 4);
  EXPECT_EQ(canvasScaleFactor(320, 600), 3);
  for (int w = 16; w <= 2048; w += 112) {
    for (int h = 16; h <= 1152; h += 80) {
      const int f = canvasScaleFactor(w, h);
      EXPECT_LE(w / f, kCanvasWidth) << w << "x" << h;
      EXPECT_LE(h / f, kCanvasHeight) << w << "x" << h;
      // No smaller factor would do.
      EXPECT_TRUE(f == 1 || w > kCanvasWidth * (f - 1) || h > kCanvasHeight * (f - 1));
    }
  }
  // Planes exactly as large as the picture (a sanitizer sees any read past
  // them); each output sample the rounded mean of its box.
  std::mt19937 random(7);
  for (const auto [w, h, f] : {std::array{704, 576, 2}, std::array{1408, 1152, 4},
                               std::array{720, 300, 3}, std::array{50, 30, 5}}) {
    std::vector<uint8_t> y(size_t(w) * h), cb(size_t(w / 2) * (h / 2)), cr(cb.size());
    for (auto* plane : {&y, &cb, &cr})
      for (uint8_t& v : *plane)
        v = uint8_t(random());
    ScaledPlanes out;
    scalePlanesDown(out, y.data(), cb.data(), cr.data(), w, h, w, f);
    ASSERT_EQ(out.width, (w / f) & ~1);
    ASSERT_EQ(out.height, (h / f) & ~1);
    for (int oy = 0; oy < out.height; oy += 7) {
      for (int ox = 0; ox < out.width; ox += 5) {
        int sum = 0;
        for (int dy = 0; dy < f; ++dy)
          for (int dx = 0; dx < f; ++dx)
            sum += y[size_t(oy * f + dy) * w + size_t(ox * f + dx)];
        EXPECT_EQ(out.y()[size_t(oy) * out.width + ox], (sum + f * f / 2) / (f * f));
      }
    }
    int sum = 0;
    for (int dy = 0; dy < f; ++dy)
      for (int dx = 0; dx < f; ++dx)
        sum += cr[size_t(dy) * (w / 2) + size_t(dx)];
    EXPECT_EQ(out.cr()[0], (sum + f * f / 2) / (f * f));
  }
}

TEST(Colour, ConversionIntoAPictureOfItsOwnSize) {
  // 6 x 4 of one colour into a bottom-up picture of exactly that size.
  const std::vector<uint8_t> y(24, 120), cb(6, 90), cr(6, 200);
  std::vector<uint8_t> picture(6 * 3 * 4 + 1, 0xEE);
  ConvertPlanarToBgr(picture.data(), 18, 4, y.data(), cb.data(), cr.data(), 6, 4, 6);
  const Bgr want = reference(120, 90, 200);
  for (int i = 0; i < 24; ++i)
    EXPECT_EQ((Bgr{picture[size_t(3 * i)], picture[size_t(3 * i + 1)], picture[size_t(3 * i + 2)]}),
              want);
  EXPECT_EQ(picture.back(), 0xEE);  // nothing past it
}

TEST(Colour, RotationCorners) {
  std::vector<uint8_t> canvas(kCanvasBytes), rotated(kCanvasBytes, 0);
  std::mt19937 random(2);
  for (auto& v : canvas)
    v = uint8_t(random());
  RotateCanvas(rotated.data(), canvas.data());
  const auto canvasPixel = [&](int x, int screenRow) {
    const uint8_t* p = canvas.data() + size_t(287 - screenRow) * kCanvasStride + 3 * size_t(x);
    return Bgr{p[0], p[1], p[2]};
  };
  const auto rotatedPixel = [&](int x, int screenRow) {
    const uint8_t* p = rotated.data() + size_t(367 - screenRow) * kRotatedStride + 3 * size_t(x);
    return Bgr{p[0], p[1], p[2]};
  };
  EXPECT_EQ(rotatedPixel(0, 0), canvasPixel(367, 0));      // top-right becomes top-left
  EXPECT_EQ(rotatedPixel(0, 367), canvasPixel(0, 0));      // top-left becomes bottom-left
  EXPECT_EQ(rotatedPixel(287, 367), canvasPixel(0, 287));  // bottom-left becomes bottom-right
  EXPECT_EQ(rotatedPixel(287, 0), canvasPixel(367, 287));
  for (int i = 0; i < 1000; ++i) {
    const int x = int(random() % 368), y = int(random() % 288);
    ASSERT_EQ(rotatedPixel(y, 367 - x), canvasPixel(x, y));
  }
}

}  // namespace
}  // namespace zenta::video
