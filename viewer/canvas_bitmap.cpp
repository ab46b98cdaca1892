#include "viewer/canvas_bitmap.h"

namespace zenta::viewer {

HBITMAP createCanvas(int width, int height, uint8_t*& pixels) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = DWORD(width) * 3 * DWORD(height);
  info.bmiHeader.biXPelsPerMeter = 3780;
  info.bmiHeader.biYPelsPerMeter = 3780;
  HDC screen = GetDC(nullptr);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  pixels = static_cast<uint8_t*>(bits);
  return bitmap;
}

HDC memoryDC(HBITMAP bitmap) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  SelectObject(dc, bitmap);
  return dc;
}

}  // namespace zenta::viewer
