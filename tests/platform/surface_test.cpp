#include "platform/screen/surface.h"

#include <gtest/gtest.h>

#include <random>

namespace zenta::platform {
namespace {

const ClipList& all() {
  static const ClipList clip{RECT{-10000, -10000, 10000, 10000}};
  return clip;
}

void paint(Surface& s, uint32_t seed) {
  std::mt19937 random(seed);
  for (int y = 0; y < s.height(); ++y) {
    for (int x = 0; x < s.width(); ++x)
      s.setPixel(x, y, COLORREF(random() & 0xFFFFFF));
  }
}

TEST(Surface, PixelFormatsRoundTrip) {
  for (int bpp : {24, 32}) {
    for (bool topDown : {true, false}) {
      Surface s(5, 3, bpp, topDown);
      s.setPixel(4, 0, RGB(1, 2, 3));
      EXPECT_EQ(s.pixel(4, 0), RGB(1, 2, 3));
      EXPECT_EQ(s.pixel(5, 0), CLR_INVALID);
      // Row 0 is the top row: at the start of memory top-down, at the end bottom-up.
      const uint8_t* first = s.bits() + (topDown ? 0 : 2 * s.stride());
      EXPECT_EQ(first[4 * (bpp / 8)], 3) << bpp;  // blue first
    }
  }
  Surface s16(2, 2, 16, true);
  s16.setPixel(0, 0, RGB(255, 255, 255));
  s16.setPixel(1, 0, RGB(255, 0, 0));
  EXPECT_EQ(s16.pixel(0, 0), RGB(255, 255, 255));
  EXPECT_EQ(s16.pixel(1, 0), RGB(255, 0, 0));
  EXPECT_EQ(dibStride(368, 24), 1104);
  EXPECT_EQ(dibStride(5, 24), 16);
}

TEST(Surface, BlitCoversExactlyItsClippedRectangle) {
  std::mt19937 random(4);
  for (int trial = 0; trial < 200; ++trial) {
    const int srcBpp = trial % 3 == 0 ? 24 : 32;
    Surface src(int(random() % 20 + 1), int(random() % 20 + 1), srcBpp, trial % 2 == 0);
    Surface dst(17, 13, 32, true);
    paint(src, uint32_t(trial));
    paint(dst, uint32_t(trial + 1000));
    Surface before(17, 13, 32, true);
    blit(before, 0, 0, 17, 13, dst, 0, 0, SRCCOPY, all());
    const int x = int(random() % 30) - 8, y = int(random() % 30) - 8;
    const int w = int(random() % 25), h = int(random() % 25);
    const int sx = int(random() % 10) - 3, sy = int(random() % 10) - 3;
    const RECT clip{int(random() % 8), int(random() % 8), 9 + int(random() % 9),
                    7 + int(random() % 7)};
    blit(dst, x, y, w, h, src, sx, sy, SRCCOPY, ClipList{clip});
    for (int py = 0; py < 13; ++py) {
      for (int px = 0; px < 17; ++px) {
        const int u = px - x + sx, v = py - y + sy;
        const bool inside = px >= x && px < x + w && py >= y && py < y + h && u >= 0 && v >= 0 &&
                            u < src.width() && v < src.height() && px >= clip.left &&
                            px < clip.right && py >= clip.top && py < clip.bottom;
        ASSERT_EQ(dst.pixel(px, py), inside ? src.pixel(u, v) : before.pixel(px, py))
            << trial << " at " << px << "," << py;
      }
    }
  }
}

TEST(Surface, OrCombinesAndFillIsClipped) {
  Surface dst(4, 1, 32, true), src(4, 1, 24, false);
  for (int x = 0; x < 4; ++x) {
    dst.setPixel(x, 0, RGB(0x10, 0x01, 0x00));
    src.setPixel(x, 0, RGB(0x01, 0x10, 0x80));
  }
  blit(dst, 1, 0, 2, 1, src, 0, 0, SRCPAINT, all());
  EXPECT_EQ(dst.pixel(0, 0), RGB(0x10, 0x01, 0x00));
  EXPECT_EQ(dst.pixel(1, 0), RGB(0x11, 0x11, 0x80));
  EXPECT_EQ(dst.pixel(3, 0), RGB(0x10, 0x01, 0x00));
  fillRect(dst, RECT{-5, -5, 50, 50}, RGB(9, 9, 9), ClipList{RECT{2, 0, 3, 1}});
  EXPECT_EQ(dst.pixel(2, 0), RGB(9, 9, 9));
  EXPECT_NE(dst.pixel(1, 0), RGB(9, 9, 9));
}

TEST(Surface, StretchIsNearestNeighbourAtAnyScale) {
  Surface src(4, 3, 24, false);
  paint(src, 7);
  for (const auto& [w, h] : {std::pair{8, 6}, std::pair{2, 2}, std::pair{13, 5}, std::pair{4, 3}}) {
    Surface dst(20, 20, 32, true);
    stretchBlit(dst, 3, 2, w, h, src, 0, 0, 4, 3, SRCCOPY, all());
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(dst.pixel(3 + x, 2 + y), src.pixel(x * 4 / w, y * 3 / h)) << w << "x" << h;
      }
    }
    EXPECT_EQ(dst.pixel(3 + w, 2), RGB(0, 0, 0));
  }
  // Mirrored, and clipped at both ends of the destination.
  Surface dst(6, 3, 32, true);
  stretchBlit(dst, -1, 0, 8, 3, src, 4, 0, -4, 3, SRCCOPY, all());
  for (int x = 0; x < 6; ++x)
    EXPECT_EQ(dst.pixel(x, 1), src.pixel(3 - (x + 1) * 4 / 8, 1)) << x;
  // A source rectangle partly outside the source reads nothing outside it.
  Surface wide(10, 3, 32, true);
  stretchBlit(wide, 0, 0, 10, 3, src, 2, 0, 5, 3, SRCCOPY, all());
  EXPECT_EQ(wide.pixel(0, 0), src.pixel(2, 0));
  EXPECT_EQ(wide.pixel(9, 0), RGB(0, 0, 0));
}

TEST(Surface, TheFastStretchOntoTheScreenGivesTheSamePixels) {
  // A channel canvas (24-bit, bottom-up) onto a 32-bit screen, at the sizes
  // the skins use and a few others, mirrored and clipped, against the
  // general path.
  Surface canvas(368, 288, 24, false);
  paint(canvas, 11);
  struct Case {
    int sx, sy, sw, sh, w, h;
  };
  for (const Case& c : {Case{0, 0, 320, 240, 240, 178}, Case{0, 0, 320, 240, 120, 88},
                        Case{0, 0, 360, 288, 119, 88}, Case{0, 8, 288, 360, 240, 320},
                        Case{0, 48, 240, 320, 240, 320}, Case{0, 0, 176, 144, 240, 178},
                        Case{300, 0, -100, 50, 37, 91}, Case{-20, -10, 400, 300, 240, 178}}) {
    Surface screen(250, 330, 32, true), reference(250, 330, 32, true);
    const ClipList clip{RECT{5, 5, 245, 300}};
    stretchBlit(screen, 1, 2, c.w, c.h, canvas, c.sx, c.sy, c.sw, c.sh, SRCCOPY, clip);
    stretchBlitPortable(reference, 1, 2, c.w, c.h, canvas, c.sx, c.sy, c.sw, c.sh, SRCCOPY, clip);
    for (int y = 0; y < 330; ++y) {
      for (int x = 0; x < 250; ++x)
        ASSERT_EQ(screen.pixel(x, y), reference.pixel(x, y))
            << c.w << "x" << c.h << " at " << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace zenta::platform
