#include "platform/device/backends/window_scaler.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zenta::platform {

namespace {

const uint32_t* screenRow(const Surface& s, int y) {
  return reinterpret_cast<const uint32_t*>(s.row(y));
}

// A source position along one axis for each window pixel of a span, in
// 1/256 steps: the pixel's centre mapped back, less half a device pixel.
struct Tap {
  int first;
  int second;
  uint32_t weight;  // of `second`, 0..255
};

std::vector<Tap> tapsFor(int from, int to, int length, int count) {
  std::vector<Tap> taps;
  taps.reserve(size_t(std::max(0, to - from)));
  for (int w = from; w < to; ++w) {
    int64_t u = ((2 * int64_t(w) + 1) * count * 256) / (2 * int64_t(length)) - 128;
    u = std::clamp<int64_t>(u, 0, int64_t(count - 1) * 256);
    const int first = int(u >> 8);
    taps.push_back(Tap{first, std::min(first + 1, count - 1), uint32_t(u & 0xFF)});
  }
  return taps;
}

uint32_t mix(uint32_t a, uint32_t b, uint32_t f) {
  const uint32_t g = 256 - f;
  const uint32_t rb = (((a & 0xFF00FFu) * g + (b & 0xFF00FFu) * f) >> 8) & 0xFF00FFu;
  const uint32_t gr = (((a & 0x00FF00u) * g + (b & 0x00FF00u) * f) >> 8) & 0x00FF00u;
  return rb | gr;
}

// One device row widened k times; k known at compile time for the usual
// zooms, so the loop is a plain run of stores.
template <int K>
void widen(const uint32_t* src, int count, uint32_t* out, int k) {
  const int n = K > 0 ? K : k;
  for (int dx = 0; dx < count; ++dx) {
    const uint32_t p = src[dx] & 0xFFFFFFu;
    for (int i = 0; i < n; ++i)
      out[i] = p;
    out += n;
  }
}

RECT sharp(const Surface& screen, const RECT& c, const ScreenFit& fit, uint32_t* window,
           int pitch) {
  const int k = fit.width / fit.deviceWidth;
  void (*widenRow)(const uint32_t*, int, uint32_t*, int) = k == 1   ? widen<1>
                                                           : k == 2 ? widen<2>
                                                           : k == 3 ? widen<3>
                                                           : k == 4 ? widen<4>
                                                                    : widen<0>;
  const RECT area{fit.x + int(c.left) * k, fit.y + int(c.top) * k, fit.x + int(c.right) * k,
                  fit.y + int(c.bottom) * k};
  const int span = int(area.right - area.left);
  for (int dy = int(c.top); dy < int(c.bottom); ++dy) {
    const uint32_t* src = screenRow(screen, dy) + c.left;
    uint32_t* first = window + ptrdiff_t(fit.y + dy * k) * pitch + area.left;
    widenRow(src, int(c.right - c.left), first, k);
    for (int i = 1; i < k; ++i)
      std::memcpy(first + ptrdiff_t(i) * pitch, first, size_t(span) * sizeof(uint32_t));
  }
  return area;
}

RECT smooth(const Surface& screen, const RECT& c, const ScreenFit& fit, uint32_t* window,
            int pitch) {
  const RECT area = windowAreaOf(fit, c, 1);
  const std::vector<Tap> xs =
      tapsFor(int(area.left) - fit.x, int(area.right) - fit.x, fit.width, fit.deviceWidth);
  const std::vector<Tap> ys =
      tapsFor(int(area.top) - fit.y, int(area.bottom) - fit.y, fit.height, fit.deviceHeight);
  for (size_t j = 0; j < ys.size(); ++j) {
    const uint32_t* top = screenRow(screen, ys[j].first);
    const uint32_t* bottom = screenRow(screen, ys[j].second);
    const uint32_t fy = ys[j].weight;
    uint32_t* out = window + ptrdiff_t(area.top + int(j)) * pitch + area.left;
    for (const Tap& t : xs) {
      const uint32_t upper = mix(top[t.first], top[t.second], t.weight);
      const uint32_t lower = mix(bottom[t.first], bottom[t.second], t.weight);
      *out++ = mix(upper, lower, fy);
    }
  }
  return area;
}

}  // namespace

RECT scaleToWindow(const Surface& screen, const RECT& changed, const ScreenFit& fit,
                   uint32_t* window, int pitch) {
  if (screen.bitsPerPixel() != 32 || screen.width() != fit.deviceWidth ||
      screen.height() != fit.deviceHeight) {
    return RECT{0, 0, 0, 0};
  }
  const RECT c{std::max<LONG>(0, changed.left), std::max<LONG>(0, changed.top),
               std::min<LONG>(fit.deviceWidth, changed.right),
               std::min<LONG>(fit.deviceHeight, changed.bottom)};
  if (c.left >= c.right || c.top >= c.bottom) return RECT{0, 0, 0, 0};
  return fit.wholeMultiple() ? sharp(screen, c, fit, window, pitch)
                             : smooth(screen, c, fit, window, pitch);
}

void fillBars(const ScreenFit& fit, int windowWidth, int windowHeight, uint32_t* window, int pitch,
              uint32_t colour) {
  for (int y = 0; y < windowHeight; ++y) {
    uint32_t* row = window + ptrdiff_t(y) * pitch;
    if (y < fit.y || y >= fit.y + fit.height) {
      std::fill(row, row + windowWidth, colour);
      continue;
    }
    std::fill(row, row + fit.x, colour);
    std::fill(row + fit.x + fit.width, row + windowWidth, colour);
  }
}

}  // namespace zenta::platform
