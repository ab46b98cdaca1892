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

void ConvertPlanarToBgr(uint8_t* picture, int stride, int rows, const uint8_t* y, const uint8_t* cb,
                        const uint8_t* cr, int width, int height, int lumaStride) {
  if (picture == nullptr || y == nullptr || cb == nullptr || cr == nullptr) return;
  if (width < 1 || height < 1 || lumaStride < width || stride < 3 || rows < 1) return;
  const ColourKernels& k = colourKernels();
  const int pixels = std::min(width, stride / 3) & ~1;
  const int pairs = std::min(height, rows) & ~1;
  const ptrdiff_t chromaStride = lumaStride / 2;
  for (int row = 0; row < pairs; row += 2) {
    uint8_t* top = picture + ptrdiff_t(rows - 1 - row) * stride;
    const uint8_t* yTop = y + ptrdiff_t(row) * lumaStride;
    const uint8_t* cbRow = cb + ptrdiff_t(row / 2) * chromaStride;
    const uint8_t* crRow = cr + ptrdiff_t(row / 2) * chromaStride;
    k.convertRowPair(top, top - stride, yTop, yTop + lumaStride, cbRow, crRow, pixels);
  }
}

void ConvertPlanarToCanvas(uint8_t* canvas, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                           int width, int height, int lumaStride) {
  ConvertPlanarToBgr(canvas, kCanvasStride, kCanvasHeight, y, cb, cr, width, height, lumaStride);
}

int canvasScaleFactor(int width, int height) {
  if (width < 1 || height < 1) return 1;
  return std::max(
      {1, (width + kCanvasWidth - 1) / kCanvasWidth, (height + kCanvasHeight - 1) / kCanvasHeight});
}

namespace {

// One plane: each output sample the rounded mean of a factor x factor box.
void scalePlane(uint8_t* out, int outWidth, int outHeight, const uint8_t* in, ptrdiff_t inStride,
                int factor) {
  const uint32_t area = uint32_t(factor * factor);
  for (int oy = 0; oy < outHeight; ++oy, out += outWidth) {
    const uint8_t* top = in + ptrdiff_t(oy) * factor * inStride;
    for (int ox = 0; ox < outWidth; ++ox) {
      uint32_t sum = 0;
      const uint8_t* box = top + ptrdiff_t(ox) * factor;
      for (int dy = 0; dy < factor; ++dy, box += inStride) {
        for (int dx = 0; dx < factor; ++dx)
          sum += box[dx];
      }
      out[ox] = uint8_t((sum + area / 2) / area);
    }
  }
}

}  // namespace

void scalePlanesDown(ScaledPlanes& out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                     int width, int height, int lumaStride, int factor) {
  factor = std::max(factor, 1);
  const int w = (width / factor) & ~1, h = (height / factor) & ~1;
  const size_t bytes = size_t(w) * size_t(h) * 3 / 2;
  if (out.bytes.size() != bytes) out.bytes.assign(bytes, 0);
  out.width = w;
  out.height = h;
  if (w < 2 || h < 2) return;
  scalePlane(out.bytes.data(), w, h, y, lumaStride, factor);
  uint8_t* cbOut = out.bytes.data() + size_t(w) * size_t(h);
  uint8_t* crOut = cbOut + size_t(w / 2) * size_t(h / 2);
  scalePlane(cbOut, w / 2, h / 2, cb, lumaStride / 2, factor);
  scalePlane(crOut, w / 2, h / 2, cr, lumaStride / 2, factor);
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
