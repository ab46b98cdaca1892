// Pixel surfaces (the screen, bitmaps, DIB sections) and the pixel work on
// them: fills, blits and stretches, clipped to lists of rectangles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/base/types.h"

namespace zenta::platform {

class Surface {
 public:
  // A surface that owns its pixels, or one over pixels owned elsewhere.
  // bitsPerPixel: 16 (5-6-5), 24 (blue, green, red) or 32 (blue, green,
  // red, unused). Rows are stored top-down or bottom-up.
  Surface(int width, int height, int bitsPerPixel, bool topDown);
  Surface(int width, int height, int bitsPerPixel, bool topDown, uint8_t* bits, ptrdiff_t stride);

  int width() const { return width_; }
  int height() const { return height_; }
  int bitsPerPixel() const { return bpp_; }
  bool topDown() const { return topDown_; }
  ptrdiff_t stride() const { return stride_; }
  uint8_t* bits() { return bits_; }
  size_t byteCount() const { return size_t(stride_) * size_t(height_); }

  // The row that is `y` rows from the top.
  uint8_t* row(int y) { return bits_ + (topDown_ ? y : height_ - 1 - y) * stride_; }
  const uint8_t* row(int y) const { return bits_ + (topDown_ ? y : height_ - 1 - y) * stride_; }
  COLORREF pixel(int x, int y) const;
  void setPixel(int x, int y, COLORREF colour);

  // Held while the pixels are read or written.
  std::mutex& lock() const { return lock_; }

 private:
  int width_, height_, bpp_;
  bool topDown_;
  ptrdiff_t stride_;
  std::vector<uint8_t> owned_;
  uint8_t* bits_;
  mutable std::mutex lock_;
};

// Row stride of a device-independent bitmap: whole 32-bit words.
inline ptrdiff_t dibStride(int width, int bitsPerPixel) {
  return ((ptrdiff_t(width) * bitsPerPixel + 31) / 32) * 4;
}

using ClipList = std::vector<RECT>;

// All of these draw only inside the surface and inside the clip rectangles
// (surface coordinates); the caller holds the surfaces' locks.
void fillRect(Surface& dst, const RECT& rect, COLORREF colour, const ClipList& clip);
// Copies (or ORs, for SRCPAINT) src's (sx, sy, width x height) to (x, y).
void blit(Surface& dst, int x, int y, int width, int height, const Surface& src, int sx, int sy,
          DWORD rop, const ClipList& clip);
// Nearest-neighbour stretch of src's rectangle onto dst's. A negative width
// or height mirrors along that axis.
void stretchBlit(Surface& dst, int x, int y, int width, int height, const Surface& src, int sx,
                 int sy, int srcWidth, int srcHeight, DWORD rop, const ClipList& clip);
// The same stretch by the general per-pixel path alone, for every format
// and operation: stretchBlit's faster ways must give its pixels.
void stretchBlitPortable(Surface& dst, int x, int y, int width, int height, const Surface& src,
                         int sx, int sy, int srcWidth, int srcHeight, DWORD rop,
                         const ClipList& clip);
// Writes a one-bit coverage mask (rows of `pitch` bytes, most significant
// bit first) in `colour` with its top-left corner at (x, y).
void drawMask(Surface& dst, int x, int y, const uint8_t* mask, int width, int height, int pitch,
              COLORREF colour, const ClipList& clip);

RECT intersect(const RECT& a, const RECT& b);
bool empty(const RECT& r);

}  // namespace zenta::platform
