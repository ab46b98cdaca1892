#include "platform/screen/surface.h"
#include "platform/base/types.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zenta::platform {

namespace {

uint32_t toXrgb(COLORREF c) {
  return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
}

uint16_t to565(COLORREF c) {
  return uint16_t((GetRValue(c) >> 3) << 11 | (GetGValue(c) >> 2) << 5 | (GetBValue(c) >> 3));
}

COLORREF from565(uint16_t v) {
  const int r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
  return RGB(BYTE(r << 3 | r >> 2), BYTE(g << 2 | g >> 4), BYTE(b << 3 | b >> 2));
}

// Applies `draw(x0, x1, y)` to each clipped row span of `rect`.
template <typename Draw>
void forEachSpan(const Surface& dst, const RECT& rect, const ClipList& clip, Draw draw) {
  const RECT bounds{0, 0, dst.width(), dst.height()};
  const RECT target = intersect(rect, bounds);
  if (empty(target)) return;
  for (const RECT& c : clip) {
    const RECT r = intersect(target, c);
    for (int y = r.top; y < r.bottom; ++y)
      draw(int(r.left), int(r.right), y);
  }
}

}  // namespace

RECT intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool empty(const RECT& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

Surface::Surface(int width, int height, int bitsPerPixel, bool topDown)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      bpp_(bitsPerPixel),
      topDown_(topDown),
      stride_(dibStride(width_, bitsPerPixel)),
      owned_(size_t(stride_) * size_t(height_), 0),
      bits_(owned_.data()) {}

Surface::Surface(int width, int height, int bitsPerPixel, bool topDown, uint8_t* bits,
                 ptrdiff_t stride)
    : width_(width),
      height_(height),
      bpp_(bitsPerPixel),
      topDown_(topDown),
      stride_(stride),
      bits_(bits) {}

COLORREF Surface::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  const uint8_t* p = row(y);
  switch (bpp_) {
    case 16: {
      uint16_t v;
      std::memcpy(&v, p + 2 * x, 2);
      return from565(v);
    }
    case 24:
      return RGB(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
    default:
      return RGB(p[4 * x + 2], p[4 * x + 1], p[4 * x]);
  }
}

void Surface::setPixel(int x, int y, COLORREF colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* p = row(y);
  switch (bpp_) {
    case 16: {
      const uint16_t v = to565(colour);
      std::memcpy(p + 2 * x, &v, 2);
      break;
    }
    case 24:
      p[3 * x] = GetBValue(colour);
      p[3 * x + 1] = GetGValue(colour);
      p[3 * x + 2] = GetRValue(colour);
      break;
    default: {
      const uint32_t v = toXrgb(colour);
      std::memcpy(p + 4 * x, &v, 4);
    }
  }
}

void fillRect(Surface& dst, const RECT& rect, COLORREF colour, const ClipList& clip) {
  forEachSpan(dst, rect, clip, [&](int x0, int x1, int y) {
    if (dst.bitsPerPixel() == 32) {
      uint32_t* p = reinterpret_cast<uint32_t*>(dst.row(y)) + x0;
      std::fill(p, p + (x1 - x0), toXrgb(colour));
    } else {
      for (int x = x0; x < x1; ++x)
        dst.setPixel(x, y, colour);
    }
  });
}

void blit(Surface& dst, int x, int y, int width, int height, const Surface& src, int sx, int sy,
          DWORD rop, const ClipList& clip) {
  // Restrict the destination to where the source has pixels.
  RECT rect{x, y, x + width, y + height};
  rect = intersect(rect, RECT{x - sx, y - sy, x - sx + src.width(), y - sy + src.height()});
  const bool sameFormat = dst.bitsPerPixel() == src.bitsPerPixel();
  const int bytes = dst.bitsPerPixel() / 8;
  forEachSpan(dst, rect, clip, [&](int x0, int x1, int row) {
    const int srow = row - y + sy, scol = x0 - x + sx;
    if (rop == SRCCOPY && sameFormat) {
      std::memmove(dst.row(row) + x0 * bytes, src.row(srow) + scol * bytes,
                   size_t(x1 - x0) * bytes);
    } else if (rop == SRCCOPY && dst.bitsPerPixel() == 32 && src.bitsPerPixel() == 24) {
      uint8_t* d = dst.row(row) + 4 * x0;
      const uint8_t* s = src.row(srow) + 3 * scol;
      for (int i = 0; i < x1 - x0; ++i, d += 4, s += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0;
      }
    } else {
      for (int i = x0; i < x1; ++i) {
        COLORREF c = src.pixel(i - x + sx, srow);
        if (rop == SRCPAINT) c |= dst.pixel(i, row);
        dst.setPixel(i, row, c);
      }
    }
  });
}

namespace {

// A stretch with positive extents and the mirroring flags.
struct StretchGeometry {
  int x, y, width, height, sx, sy, srcWidth, srcHeight;
  bool flipX, flipY;
};

// False for an empty stretch.
bool normalise(int x, int y, int width, int height, int sx, int sy, int srcWidth, int srcHeight,
               StretchGeometry& g) {
  if (width == 0 || height == 0 || srcWidth == 0 || srcHeight == 0) return false;
  // Mirroring: a negative extent on one side and not the other flips.
  const bool flipX = (width < 0) != (srcWidth < 0);
  const bool flipY = (height < 0) != (srcHeight < 0);
  if (width < 0) {
    x += width;
    width = -width;
  }
  if (height < 0) {
    y += height;
    height = -height;
  }
  if (srcWidth < 0) {
    sx += srcWidth;
    srcWidth = -srcWidth;
  }
  if (srcHeight < 0) {
    sy += srcHeight;
    srcHeight = -srcHeight;
  }
  g = {x, y, width, height, sx, sy, srcWidth, srcHeight, flipX, flipY};
  return true;
}

void stretchGeneral(Surface& dst, const StretchGeometry& g, const Surface& src, DWORD rop,
                    const ClipList& clip) {
  const int x = g.x, y = g.y, width = g.width, height = g.height, sx = g.sx, sy = g.sy;
  const int srcWidth = g.srcWidth, srcHeight = g.srcHeight;
  const bool flipX = g.flipX, flipY = g.flipY;
  const int bytes = dst.bitsPerPixel() / 8;
  const bool copy = rop == SRCCOPY && dst.bitsPerPixel() == src.bitsPerPixel();
  forEachSpan(dst, RECT{x, y, x + width, y + height}, clip, [&](int x0, int x1, int row) {
    int64_t v = int64_t(row - y) * srcHeight / height;
    if (flipY) v = srcHeight - 1 - v;
    const int srow = sy + int(v);
    if (srow < 0 || srow >= src.height()) return;
    const uint8_t* s = src.row(srow);
    uint8_t* d = dst.row(row);
    for (int i = x0; i < x1; ++i) {
      int64_t u = int64_t(i - x) * srcWidth / width;
      if (flipX) u = srcWidth - 1 - u;
      const int scol = sx + int(u);
      if (scol < 0 || scol >= src.width()) continue;
      if (copy) {
        std::memcpy(d + i * bytes, s + scol * bytes, size_t(bytes));
      } else {
        COLORREF c = src.pixel(scol, srow);
        if (rop == SRCPAINT) c |= dst.pixel(i, row);
        dst.setPixel(i, row, c);
      }
    }
  });
}

// A channel's picture onto the screen, many times a second: the source
// column of every destination column is found once, and pixels move as
// bytes rather than through colour values. The same pixels as the general
// path.
void stretch24To32(Surface& dst, const StretchGeometry& g, const Surface& src,
                   const ClipList& clip) {
  const int x = g.x, y = g.y, width = g.width, height = g.height, sx = g.sx, sy = g.sy;
  const int srcWidth = g.srcWidth, srcHeight = g.srcHeight;
  const bool flipX = g.flipX, flipY = g.flipY;
  thread_local std::vector<int> columns;
  columns.resize(size_t(width));
  for (int i = 0; i < width; ++i) {
    int64_t u = int64_t(i) * srcWidth / width;
    if (flipX) u = srcWidth - 1 - u;
    const int64_t scol = sx + u;
    columns[size_t(i)] = scol < 0 || scol >= src.width() ? -1 : int(scol);
  }
  forEachSpan(dst, RECT{x, y, x + width, y + height}, clip, [&](int x0, int x1, int row) {
    int64_t v = int64_t(row - y) * srcHeight / height;
    if (flipY) v = srcHeight - 1 - v;
    const int64_t srow = sy + v;
    if (srow < 0 || srow >= src.height()) return;
    const uint8_t* s = src.row(int(srow));
    auto* d = reinterpret_cast<uint32_t*>(dst.row(row));
    for (int i = x0; i < x1; ++i) {
      const int c = columns[size_t(i - x)];
      if (c < 0) continue;
      const uint8_t* p = s + 3 * c;
      d[i] = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
  });
}

}  // namespace

void stretchBlitPortable(Surface& dst, int x, int y, int width, int height, const Surface& src,
                         int sx, int sy, int srcWidth, int srcHeight, DWORD rop,
                         const ClipList& clip) {
  StretchGeometry g;
  if (normalise(x, y, width, height, sx, sy, srcWidth, srcHeight, g))
    stretchGeneral(dst, g, src, rop, clip);
}

void stretchBlit(Surface& dst, int x, int y, int width, int height, const Surface& src, int sx,
                 int sy, int srcWidth, int srcHeight, DWORD rop, const ClipList& clip) {
  StretchGeometry g;
  if (!normalise(x, y, width, height, sx, sy, srcWidth, srcHeight, g)) return;
  if (rop == SRCCOPY && src.bitsPerPixel() == 24 && dst.bitsPerPixel() == 32) {
    stretch24To32(dst, g, src, clip);
  } else {
    stretchGeneral(dst, g, src, rop, clip);
  }
}

void drawMask(Surface& dst, int x, int y, const uint8_t* mask, int width, int height, int pitch,
              COLORREF colour, const ClipList& clip) {
  forEachSpan(dst, RECT{x, y, x + width, y + height}, clip, [&](int x0, int x1, int row) {
    const uint8_t* bits = mask + ptrdiff_t(row - y) * pitch;
    for (int i = x0; i < x1; ++i) {
      const int u = i - x;
      if (bits[u >> 3] & (0x80 >> (u & 7))) dst.setPixel(i, row, colour);
    }
  });
}

}  // namespace zenta::platform
