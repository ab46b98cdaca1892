// The desktop window's geometry and pixels: where the device screen stands
// in a window of any size, the mapping of the mouse back to device pixels,
// the scaling of changed pixels, and the kept size and place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>
#include <vector>

#include "platform/device/backends/screen_fit.h"
#include "platform/device/backends/window_scaler.h"
#include "platform/device/backends/window_state.h"
#include "platform/screen/screen.h"
#include "platform/windows.h"

using namespace zenta::platform;

namespace {

struct Device {
  int width, height;
};

}  // namespace

TEST(ScreenFit, EveryWindowFromTinyToHugeFitsKeepsTheShapeAndMapsBackExactly) {
  for (const Device d : {Device{240, 320}, Device{320, 240}}) {
    std::set<int> widths, heights;
    for (int ww = 100; ww <= 4000; ++ww) {
      for (int wh = 100; wh <= 3000; ++wh) {
        const ScreenFit f = fitScreen(ww, wh, d.width, d.height);
        // Inside the window, centred, touching two opposite sides.
        ASSERT_TRUE(f.x >= 0 && f.y >= 0 && f.x + f.width <= ww && f.y + f.height <= wh);
        ASSERT_LE(std::abs(2 * f.x + f.width - ww), 1);
        ASSERT_LE(std::abs(2 * f.y + f.height - wh), 1);
        ASSERT_TRUE(f.width == ww || f.height == wh);
        // The shape within half a pixel of rounding.
        ASSERT_LE(std::abs(int64_t(f.width) * d.height - int64_t(f.height) * d.width),
                  std::max(d.width, d.height) / 2 + 1)
            << ww << "x" << wh;
        widths.insert(f.width);
        heights.insert(f.height);
      }
    }
    // The mapping is one axis at a time: every length the fits took.
    for (const bool across : {true, false}) {
      for (const int length : across ? widths : heights) {
        const int count = across ? d.width : d.height;
        ScreenFit f{d.width, d.height, 7, 5, across ? length : d.width, across ? d.height : length};
        for (int i = 0; i < count; ++i) {
          const POINT w = deviceToWindow(f, across ? i : 0, across ? 0 : i);
          POINT back{};
          ASSERT_TRUE(windowToDevice(f, w.x, w.y, back));
          if (length >= count) {
            ASSERT_EQ(across ? back.x : back.y, i) << length << " pixels show " << count;
          } else {
            // Smaller than the device: some device pixels share a window
            // pixel, and the mapping stays in order and in range.
            ASSERT_LE(std::abs((across ? back.x : back.y) - i), count / length + 1);
          }
        }
      }
    }
  }
  // The bars map to no device pixel, but to the nearest edge one.
  const ScreenFit f = fitScreen(1000, 400, 240, 320);
  POINT p{};
  EXPECT_FALSE(windowToDevice(f, 0, 200, p));
  EXPECT_EQ(p.x, 0);
  EXPECT_FALSE(windowToDevice(f, 999, 399, p));
  EXPECT_EQ(p.x, 239);
  EXPECT_EQ(p.y, 319);
}

TEST(WindowScaler, SharpAtWholeMultiplesSmoothBetweenOnlyWhatChanged) {
  Surface screen(240, 320, 32, true);
  for (int y = 0; y < 320; ++y) {
    for (int x = 0; x < 240; ++x)
      screen.setPixel(x, y, RGB((x * 7) & 255, (y * 5) & 255, (x + y) & 255));
  }
  const uint32_t untouched = 0x123456;
  for (const auto& [ww, wh] : {std::pair{720, 960}, std::pair{600, 700}, std::pair{500, 500}}) {
    const ScreenFit f = fitScreen(ww, wh, 240, 320);
    std::vector<uint32_t> window(size_t(ww) * wh, untouched);
    const RECT changed{40, 50, 90, 60};
    const RECT drawn = scaleToWindow(screen, changed, f, window.data(), ww);
    const RECT expected = windowAreaOf(f, changed, f.wholeMultiple() ? 0 : 1);
    EXPECT_EQ(drawn.left, expected.left);
    EXPECT_EQ(drawn.bottom, expected.bottom);
    for (int y = 0; y < wh; ++y) {
      for (int x = 0; x < ww; ++x) {
        const uint32_t got = window[size_t(y) * ww + x];
        const bool inside =
            x >= drawn.left && x < drawn.right && y >= drawn.top && y < drawn.bottom;
        ASSERT_EQ(got == untouched, !inside) << x << "," << y;
        if (!inside) continue;
        POINT d{};
        windowToDevice(f, x, y, d);
        const COLORREF c = screen.pixel(d.x, d.y);
        const uint32_t exact = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        if (f.wholeMultiple()) {
          ASSERT_EQ(got, exact) << x << "," << y;
        } else {
          // Each channel between the neighbours it was mixed from.
          for (int shift : {0, 8, 16}) {
            int lo = 255, hi = 0;
            for (int dy = -1; dy <= 1; ++dy) {
              for (int dx = -1; dx <= 1; ++dx) {
                const COLORREF n = screen.pixel(std::clamp<int>(d.x + dx, 0, 239),
                                                std::clamp<int>(d.y + dy, 0, 319));
                const uint32_t v =
                    (((GetRValue(n) << 16) | (GetGValue(n) << 8) | GetBValue(n)) >> shift) & 255;
                lo = std::min<int>(lo, int(v));
                hi = std::max<int>(hi, int(v));
              }
            }
            const int v = int((got >> shift) & 255);
            ASSERT_TRUE(v >= lo - 1 && v <= hi + 1) << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(WindowPlace, KeptWholeAndMalformedFilesIgnored) {
  const auto folder = std::filesystem::temp_directory_path() / "zenta-window-place-test";
  std::filesystem::remove_all(folder);
  const std::string path = (folder / "deeper" / "window-240x320").string();
  ASSERT_TRUE(writeWindowPlace(path, WindowPlace{-20, 30, 1280, 960, true}));
  const auto back = readWindowPlace(path);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->x, -20);
  EXPECT_EQ(back->height, 960);
  EXPECT_TRUE(back->maximised);
  for (const char* bad :
       {"", "1 2 3", "1 2 0 5 0", "1 2 3 4 0 extra", "1 2 99999 4 0", "a b c d e", "1 2 3 4 7"}) {
    std::ofstream(path) << bad << '\n';
    EXPECT_FALSE(readWindowPlace(path).has_value()) << bad;
  }
  EXPECT_FALSE(readWindowPlace((folder / "none").string()).has_value());
  std::filesystem::remove_all(folder);
}

TEST(WindowPlace, APlaceOffEveryScreenComesBackToTheMainOne) {
  const std::vector<RECT> screens{{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};
  const auto inside = [](const WindowPlace& p, const RECT& s) {
    return p.x >= s.left && p.y >= s.top && p.x + p.width <= s.right && p.y + p.height <= s.bottom;
  };
  // On either screen, or mostly on one, a place stays as it was.
  for (const WindowPlace kept :
       {WindowPlace{100, 50, 720, 960, false}, WindowPlace{2500, 10, 720, 960, true},
        WindowPlace{1800, 500, 720, 960, false}}) {
    const WindowPlace p = placeOnScreens(kept, screens);
    EXPECT_EQ(std::tie(p.x, p.y, p.width, p.height),
              std::tie(kept.x, kept.y, kept.width, kept.height));
  }
  // Off them (a monitor unplugged), above them, or with a corner showing: the
  // middle of the main screen, the size kept where it fits.
  for (const WindowPlace kept :
       {WindowPlace{3300, 100, 720, 960, false}, WindowPlace{-700, 1000, 720, 960, false},
        WindowPlace{500, -900, 720, 960, false}, WindowPlace{3150, 1000, 720, 960, false},
        WindowPlace{4000, 0, 2400, 1600, true}}) {
    const WindowPlace p = placeOnScreens(kept, screens);
    EXPECT_TRUE(inside(p, screens[0])) << kept.x << ',' << kept.y;
    EXPECT_NEAR(p.x + p.width / 2.0, 960, 1) << kept.x;
    EXPECT_EQ(p.width, std::min(kept.width, 1920));
    EXPECT_EQ(p.maximised, kept.maximised);
  }
}

TEST(ScreenDamage, DrawingMarksWhatItChangedOnly) {
  configureScreen(240, 320);
  RECT changed{};
  takeScreenChanged(changed);
  HDC dc = GetDC(nullptr);
  const RECT box{10, 20, 30, 25};
  FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetPixel(dc, 100, 200, RGB(1, 2, 3));
  ASSERT_TRUE(takeScreenChanged(changed));
  EXPECT_EQ(changed.left, 10);
  EXPECT_EQ(changed.top, 20);
  EXPECT_EQ(changed.right, 101);
  EXPECT_EQ(changed.bottom, 201);
  GetPixel(dc, 5, 5);  // reading changes nothing
  EXPECT_FALSE(takeScreenChanged(changed));
  ReleaseDC(nullptr, dc);
}
