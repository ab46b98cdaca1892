// The channel canvases and the conversion of decoded YUV 4:2:0 pictures
// into them.
//
// DecodedFrame: 368 x 288 pixels, three bytes each (blue, green, red), rows
// of 1104 bytes stored bottom-up (memory row 0 is the bottom screen row).
// A picture occupies the canvas's top-left corner. RotatedFrame: the same
// turned on its side, 288 x 368 pixels, rows of 864 bytes, bottom-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zenta::video {

inline constexpr int kCanvasWidth = 368;
inline constexpr int kCanvasHeight = 288;
inline constexpr int kCanvasStride = kCanvasWidth * 3;                         // 1104 bytes
inline constexpr size_t kCanvasBytes = size_t{kCanvasStride} * kCanvasHeight;  // 317,952
inline constexpr int kRotatedStride = kCanvasHeight * 3;                       // 864 bytes

// BT.601 studio-range conversion tables in 16.16 fixed point, and the clamp
// table indexed from -384 to 639.
struct YuvToRgbTables {
  int32_t luma[256];
  int32_t crRed[256];
  int32_t cbGreen[256];
  int32_t crGreen[256];
  int32_t cbBlue[256];
  uint8_t clampStorage[1024];
  // The clamp table's entry i, for i from -384 to 639.
  uint8_t clamp(int i) const { return clampStorage[i + 384]; }
};

// Built on first use, thread-safely; read-only afterwards.
const YuvToRgbTables& yuvToRgbTables();

// Converts a decoded picture into the canvas's top-left corner. `lumaStride`
// is the Y plane's row stride (the width unless the decoder padded it);
// chroma rows are lumaStride / 2. Pictures larger than the canvas are
// cropped to it; nothing outside the canvas is written. Every chroma sample
// serves two columns and two rows, so an odd last column or row (which no
// H.263 picture has) has no chroma of its own and is left out; nothing
// outside the planes is read.
void ConvertPlanarToCanvas(uint8_t* canvas, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                           int width, int height, int lumaStride);
inline void ConvertPlanarToCanvas(uint8_t* canvas, const uint8_t* y, const uint8_t* cb,
                                  const uint8_t* cr, int width, int height) {
  ConvertPlanarToCanvas(canvas, y, cb, cr, width, height, width);
}

// The same conversion into any bottom-up picture of three bytes a pixel:
// `rows` rows of `stride` bytes, the picture in its top-left corner,
// cropped to `stride` / 3 columns and `rows` rows.
void ConvertPlanarToBgr(uint8_t* picture, int stride, int rows, const uint8_t* y, const uint8_t* cb,
                        const uint8_t* cr, int width, int height, int lumaStride);

// A picture larger than the canvas goes into it scaled down by a whole
// factor, each output sample the mean of `factor` x `factor` samples: the
// smallest factor that makes width x height fit 368 x 288 (1 for a picture
// that fits already).
int canvasScaleFactor(int width, int height);

// The columns of a picture (one that fits the canvas) that are shown and
// saved: a 368-wide picture shows 360, a wider one its left 320, a narrower
// one its own width.
inline int shownColumns(int width) {
  return width == 368 ? 360 : width < 320 ? width : 320;
}

// Scales YUV 4:2:0 planes down by `factor` into `out` (resized as needed;
// its size changes only with the picture's). The result's luma stride is
// its width, `width` / `factor` rounded down to even, and likewise the
// height; chroma rows are half as long. Reads only width x height luma
// samples and their chroma.
struct ScaledPlanes {
  std::vector<uint8_t> bytes;
  int width = 0, height = 0;
  const uint8_t* y() const { return bytes.data(); }
  const uint8_t* cb() const { return bytes.data() + size_t(width) * size_t(height); }
  const uint8_t* cr() const { return cb() + size_t(width / 2) * size_t(height / 2); }
};
void scalePlanesDown(ScaledPlanes& out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                     int width, int height, int lumaStride, int factor);

// Turns the whole canvas 90 degrees anticlockwise into the rotated frame:
// the canvas pixel at column x, screen row y lands at column y, screen row
// 367 - x.
void RotateCanvas(uint8_t* rotated, const uint8_t* canvas);

// The conversion's inner loop, as a kernel table so that faster versions
// for the CPU can replace the portable one. Converts `pixels` pixels of two
// luma rows sharing one chroma row into two canvas rows.
struct ColourKernels {
  // `pixels` is even.
  void (*convertRowPair)(uint8_t* top, uint8_t* bottom, const uint8_t* yTop, const uint8_t* yBottom,
                         const uint8_t* cb, const uint8_t* cr, int pixels);
};

// Fills the table for the instruction-set levels in `flags` (see
// video/cpu.h): the portable entries first, then each level's overrides.
void initColourKernels(ColourKernels& kernels, unsigned flags);

const ColourKernels& portableColourKernels();
// The table for cpuFlags(), filled once on first use; read-only afterwards.
const ColourKernels& colourKernels();

}  // namespace zenta::video
