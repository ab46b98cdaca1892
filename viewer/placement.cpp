#include "viewer/placement.h"

#include <algorithm>
#include <cstdint>

namespace zenta::viewer {

Place fitPicture(const Place& area, int width, int height) {
  if (width <= 0 || height <= 0 || area.width <= 0 || area.height <= 0) return area;
  // Width-limited unless the picture is relatively taller than the area.
  int w = area.width, h = area.height;
  if (int64_t(width) * area.height > int64_t(height) * area.width) {
    h = int(std::max<int64_t>(1, (int64_t(area.width) * height + width / 2) / width));
  } else {
    w = int(std::max<int64_t>(1, (int64_t(area.height) * width + height / 2) / height));
  }
  w = std::min<int>(w, area.width);
  h = std::min<int>(h, area.height);
  return Place{int16_t(area.x + (area.width - w) / 2), int16_t(area.y + (area.height - h) / 2),
               int16_t(w), int16_t(h)};
}

int barsAround(const Place& area, const Place& inner, Place (&bars)[2]) {
  int n = 0;
  const auto add = [&](int x, int y, int w, int h) {
    if (w > 0 && h > 0) bars[n++] = Place{int16_t(x), int16_t(y), int16_t(w), int16_t(h)};
  };
  if (inner.width < area.width) {
    add(area.x, area.y, inner.x - area.x, area.height);
    add(inner.x + inner.width, area.y, area.x + area.width - inner.x - inner.width, area.height);
  } else {
    add(area.x, area.y, area.width, inner.y - area.y);
    add(area.x, inner.y + inner.height, area.width, area.y + area.height - inner.y - inner.height);
  }
  return n;
}

}  // namespace zenta::viewer
