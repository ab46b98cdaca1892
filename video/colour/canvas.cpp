#include "video/colour/canvas.h"

#include <algorithm>
#include <cstring>

#include "video/cpu.h"
#if defined(__x86_64__) || defined(__i386__)
#include "video/colour/x86/convert_init.h"
#endif

namespace zenta::video {

namespace {

YuvToRgbTables buildTables() {
  YuvToRgbTables t{};
  for (int i = 0; i < 256; ++i) {
    t.luma[i] = (i - 16) * 76309;
    t.crRed[i] = (i - 128) * 104597;
    t.cbGreen[i] = (i - 128) * 25675;
    t.crGreen[i] = (i - 128) * 53279;
    t.cbBlue[i] = (i - 128) * 132201;
  }
  for (int i = -384; i < 640; ++i) {
    t.clampStorage[i + 384] = static_cast<uint8_t>(std::clamp(i, 0, 255));
  }
  return t;
}

// One pixel from its luma term and the chroma terms it shares.
inline void pixel(uint8_t* out, const YuvToRgbTables& t, int32_t luma, int32_t blue, int32_t green,
                  int32_t red) {
  out[0] = t.clamp((luma + blue) >> 16);
  out[1] = t.clamp((luma - green) >> 16);
  out[2] = t.clamp((luma + red) >> 16);
}

void convertRowPairC(uint8_t* top, uint8_t* bottom, const uint8_t* yTop, const uint8_t* yBottom,
                     const uint8_t* cb, const uint8_t* cr, int pixels) {
  const YuvToRgbTables& t = yuvToRgbTables();
  for (int x = 0; x < pixels; x += 2, top += 6, bottom += 6) {
    const int c = x / 2;
    const int32_t blue = t.cbBlue[cb[c]];
    const int32_t green = t.crGreen[cr[c]] + t.cbGreen[cb[c]];
    const int32_t red = t.crRed[cr[c]];
    pixel(top, t, t.luma[yTop[x]], blue, green, red);
    pixel(top + 3, t, t.luma[yTop[x + 1]], blue, green, red);
    pixel(bottom, t, t.luma[yBottom[x]], blue, green, red);
    pixel(bottom + 3, t, t.luma[yBottom[x + 1]], blue, green, red);
  }
}

}  // namespace

const YuvToRgbTables& yuvToRgbTables() {
  static const YuvToRgbTables tables = buildTables();
  return tables;
}

void initColourKernels(ColourKernels& kernels, unsigned flags) {
  kernels = {.convertRowPair = convertRowPairC};
#if defined(__x86_64__) || defined(__i386__)
  initColourKernelsSsse3(kernels, flags);
  initColourKernelsAvx2(kernels, flags);
  initColourKernelsAvx512(kernels, flags);
#else
  (void)flags;
#endif
}

const ColourKernels& portableColourKernels() {
  static const ColourKernels kernels = [] {
    ColourKernels k;
    initColourKernels(k, 0);
    return k;
  }();
  return kernels;
}

const ColourKernels& colourKernels() {
  static const ColourKernels kernels = [] {
    ColourKernels k;
    initColourKernels(k, cpuFlags());
    return k;
  }();
  return kernels;
}

void ConvertPlanarToCanvas(uint8_t* canvas, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                           int width, int height, int lumaStride) {
  if (canvas == nullptr || y == nullptr || cb == nullptr || cr == nullptr) return;
  if (width < 1 || height < 1 || lumaStride < width) return;
  const ColourKernels& k = colourKernels();
  const int pixels = std::min(width, kCanvasWidth) & ~1;
  const int rows = std::min(height, kCanvasHeight) & ~1;
  const ptrdiff_t chromaStride = lumaStride / 2;
  for (int row = 0; row < rows; row += 2) {
    uint8_t* top = canvas + ptrdiff_t(kCanvasHeight - 1 - row) * kCanvasStride;
    const uint8_t* yTop = y + ptrdiff_t(row) * lumaStride;
    const uint8_t* cbRow = cb + ptrdiff_t(row / 2) * chromaStride;
    const uint8_t* crRow = cr + ptrdiff_t(row / 2) * chromaStride;
    k.convertRowPair(top, top - kCanvasStride, yTop, yTop + lumaStride, cbRow, crRow, pixels);
  }
}

void RotateCanvas(uint8_t* rotated, const uint8_t* canvas) {
  // Rotated memory row c holds canvas column c, from the top screen row
  // (canvas memory row 287) down to the bottom one.
  for (int c = 0; c < kCanvasWidth; ++c) {
    uint8_t* out = rotated + ptrdiff_t(c) * kRotatedStride;
    const uint8_t* in = canvas + ptrdiff_t(kCanvasHeight - 1) * kCanvasStride + 3 * c;
    for (int r = 0; r < kCanvasHeight; ++r, out += 3, in -= kCanvasStride) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }
}

}  // namespace zenta::video
