// Drawing through device contexts: memory DCs, DIB sections, window DCs
// clipped to what is visible, text, and many threads on one DC.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/device/device.h"
#include "platform/screen/screen.h"
#include "platform/windows.h"

namespace {

LRESULT plainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class Gdi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    zenta::platform::configureScreen(240, 320);
    zenta::platform::registerSystemClasses();
    WNDCLASSW wc{};
    wc.lpfnWndProc = plainProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = u"Plain";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    for (HWND h : windows)
      DestroyWindow(h);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  HWND window(int x, int y, int w, int h, DWORD style = WS_VISIBLE, HWND parent = nullptr) {
    HWND hwnd =
        CreateWindowExW(0, u"Plain", u"", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
    windows.push_back(hwnd);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
    return hwnd;
  }
  static COLORREF screenPixel(int x, int y) { return zenta::platform::screen().pixel(x, y); }
  std::vector<HWND> windows;
};

BITMAPINFO header(int width, int height, int bits) {
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{40, width, height, 1, WORD(bits), BI_RGB, 0, 3780, 3780, 0, 0};
  return info;
}

TEST_F(Gdi, DibSectionBitsAreThePixels) {
  const BITMAPINFO info = header(368, 288, 24);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_NE(bits, nullptr);
  BITMAP description;
  ASSERT_EQ(GetObjectW(bitmap, sizeof description, &description), int(sizeof description));
  EXPECT_EQ(description.bmWidthBytes, 1104);
  EXPECT_EQ(description.bmBitsPixel, 24);
  // Bottom-up: the first bytes are the bottom row, blue first.
  auto* bytes = static_cast<uint8_t*>(bits);
  bytes[0] = 10;  // blue
  bytes[1] = 20;
  bytes[2] = 30;
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 0, 287), RGB(30, 20, 10));
  SetPixel(dc, 367, 0, RGB(1, 2, 3));
  EXPECT_EQ(bytes[287 * 1104 + 367 * 3], 3);
  DeleteDC(dc);
  EXPECT_TRUE(DeleteObject(bitmap));
  const BITMAPINFO bad = header(0, 10, 24);
  EXPECT_EQ(CreateDIBSection(nullptr, &bad, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);
  const BITMAPINFO topDown = header(4, -2, 16);
  HBITMAP small = CreateDIBSection(nullptr, &topDown, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(small, nullptr);
  DeleteObject(small);
}

TEST_F(Gdi, WindowDcDrawsOnlyWhereTheWindowIsVisible) {
  HWND back = window(0, 30, 100, 100);
  HWND front = window(50, 60, 100, 100);
  HWND child = window(10, 10, 20, 20, WS_CHILD | WS_VISIBLE, back);
  HDC dc = GetDC(back);
  RECT all{0, 0, 100, 100};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &all, red);
  ReleaseDC(back, dc);
  EXPECT_EQ(screenPixel(5, 35), RGB(255, 0, 0));  // back's own pixel
  EXPECT_EQ(screenPixel(60, 70), RGB(0, 0, 0));   // under the front window
  EXPECT_EQ(screenPixel(15, 45), RGB(0, 0, 0));   // its child's area
  EXPECT_EQ(screenPixel(105, 35), RGB(0, 0, 0));  // outside it
  // BeginPaint limits drawing to the invalid part.
  InvalidateRect(front, nullptr, FALSE);
  PAINTSTRUCT paint;
  RECT part{0, 0, 10, 10};
  ValidateRect(front, nullptr);
  InvalidateRect(front, &part, FALSE);
  HDC p = BeginPaint(front, &paint);
  FillRect(p, &all, red);
  EndPaint(front, &paint);
  EXPECT_EQ(screenPixel(55, 65), RGB(255, 0, 0));
  EXPECT_EQ(screenPixel(65, 75), RGB(0, 0, 0));
  DeleteObject(red);
  (void)child;
}

TEST_F(Gdi, BlitsBetweenDcsAndRectangle) {
  HWND w = window(0, 30, 200, 200);
  HDC memory = CreateCompatibleDC(nullptr);
  const BITMAPINFO info = header(4, 4, 24);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x)
      SetPixel(memory, x, y, RGB(BYTE(x * 60), BYTE(y * 60), 7));
  }
  HDC dc = GetDC(w);
  BitBlt(dc, 10, 10, 4, 4, memory, 0, 0, SRCCOPY);
  EXPECT_EQ(screenPixel(13, 42), RGB(180, 120, 7));
  StretchBlt(dc, 20, 20, 8, 8, memory, 0, 0, 4, 4, SRCCOPY);
  EXPECT_EQ(screenPixel(27, 57), RGB(180, 180, 7));
  EXPECT_EQ(screenPixel(20, 50), RGB(0, 0, 7));
  EXPECT_EQ(screenPixel(28, 50), RGB(0, 0, 0));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, 100, 100, 110, 105);
  EXPECT_EQ(screenPixel(100, 130), RGB(0, 0, 0));        // outline
  EXPECT_EQ(screenPixel(105, 132), RGB(255, 255, 255));  // inside
  EXPECT_EQ(screenPixel(110, 130), RGB(0, 0, 0));        // right edge is outside
  ReleaseDC(w, dc);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, memory, 0, 0, SRCCOPY));  // released DCs are gone
}

// The bounding box of pixels in `colour` inside a rectangle of the screen.
RECT inkBox(const RECT& area, COLORREF colour) {
  RECT box{10000, 10000, -1, -1};
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (zenta::platform::screen().pixel(x, y) != colour) continue;
      box = RECT{std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                 std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
    }
  }
  return box;
}

TEST_F(Gdi, TextIsAlignedClippedAndOpaque) {
  HWND w = window(0, 30, 240, 200);
  HDC dc = GetDC(w);
  SetTextColor(dc, RGB(0, 255, 0));
  SetBkColor(dc, RGB(0, 0, 255));
  RECT rect{20, 20, 220, 60};
  SIZE extent;
  GetTextExtentPoint32W(dc, u"12:34", 5, &extent);
  EXPECT_GT(extent.cx, 10);
  EXPECT_GT(extent.cy, 8);
  const RECT onScreen{20, 50, 220, 90};
  const auto drawn = [&](UINT format) {
    RECT clear{0, 0, 240, 200};
    FillRect(dc, &clear, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RECT r = rect;
    DrawTextW(dc, u"12:34", -1, &r, format);
    return std::pair{inkBox(onScreen, RGB(0, 255, 0)), inkBox(onScreen, RGB(0, 0, 255))};
  };
  const auto [leftInk, leftBack] = drawn(DT_LEFT | DT_TOP | DT_SINGLELINE);
  EXPECT_EQ(leftBack.left, 20);
  EXPECT_EQ(leftBack.top, 50);
  EXPECT_EQ(leftBack.right - leftBack.left, extent.cx);
  EXPECT_EQ(leftBack.bottom - leftBack.top, extent.cy);
  EXPECT_GE(leftInk.left, 20);
  const auto [rightInk, rightBack] = drawn(DT_RIGHT | DT_SINGLELINE);
  EXPECT_EQ(rightBack.right, 220);
  const auto [centreInk, centreBack] = drawn(DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EXPECT_EQ(centreBack.left, 20 + (200 - extent.cx) / 2);
  EXPECT_EQ(centreBack.top, 50 + (40 - extent.cy) / 2);
  // Transparent: no background behind the glyphs.
  SetBkMode(dc, TRANSPARENT);
  const auto [clearInk, clearBack] = drawn(DT_LEFT | DT_SINGLELINE);
  EXPECT_EQ(clearBack.right, -1);
  EXPECT_GE(clearInk.right, clearInk.left + 5);
  // Clipped to a rectangle narrower than the text.
  SetBkMode(dc, OPAQUE);
  rect = RECT{20, 20, 30, 60};
  const auto [cutInk, cutBack] = drawn(DT_LEFT | DT_SINGLELINE);
  EXPECT_LE(cutBack.right, 30);
  EXPECT_LE(cutInk.right, 30);
  RECT calc{5, 5, 5, 5};
  DrawTextW(dc, u"12:34", 5, &calc, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(calc.right - calc.left, extent.cx);
  ReleaseDC(w, dc);
}

TEST_F(Gdi, SixteenThreadsDrawOnOneWindowDcWhileTheUiThreadPaints) {
  HWND w = window(0, 26, 240, 268);
  HDC shared = GetDC(w);
  std::vector<HBITMAP> bitmaps;
  std::vector<HDC> memories;
  for (int i = 0; i < 16; ++i) {
    const BITMAPINFO info = header(368, 288, 24);
    void* bits = nullptr;
    bitmaps.push_back(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    memories.push_back(CreateCompatibleDC(nullptr));
    SelectObject(memories.back(), bitmaps.back());
    std::memset(bits, i * 15, 368 * 288 * 3);
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&, i] {
      const int x = (i % 4) * 60, y = (i / 4) * 60;
      RECT text{x, y + 50, x + 60, y + 60};
      for (int n = 0; n < 200 && !stop; ++n) {
        StretchBlt(shared, x, y, 60, 50, memories[size_t(i)], 0, 0, 360, 288, SRCCOPY);
        SetTextColor(shared, RGB(0, 255, 0));
        DrawTextW(shared, u"03/15 12:00:00", 14, &text, DT_LEFT | DT_TOP);
      }
    });
  }
  for (int n = 0; n < 100; ++n) {
    InvalidateRect(w, nullptr, TRUE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  stop = true;
  for (auto& t : threads)
    t.join();
  // Every quarter shows its own picture.
  for (int i = 0; i < 16; ++i) {
    StretchBlt(shared, (i % 4) * 60, (i / 4) * 60, 60, 50, memories[size_t(i)], 0, 0, 360, 288,
               SRCCOPY);
    const BYTE v = BYTE(i * 15);
    EXPECT_EQ(screenPixel((i % 4) * 60 + 5, 26 + (i / 4) * 60 + 5), RGB(v, v, v));
  }
  ReleaseDC(w, shared);
  for (int i = 0; i < 16; ++i) {
    DeleteDC(memories[size_t(i)]);
    DeleteObject(bitmaps[size_t(i)]);
  }
}

}  // namespace
