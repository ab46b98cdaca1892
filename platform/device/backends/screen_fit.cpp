#include "platform/device/backends/screen_fit.h"

#include <algorithm>

namespace zenta::platform {

namespace {

// The first window pixel (along one axis of `length` window pixels that
// show `count` device pixels) whose left edge lies at or past device
// position d.
int firstWindowPixel(int d, int length, int count) {
  return int((int64_t(d) * length + count - 1) / count);
}

int deviceAt(int w, int length, int count) {
  return int(int64_t(w) * count / length);
}

}  // namespace

ScreenFit fitScreen(int windowWidth, int windowHeight, int deviceWidth, int deviceHeight) {
  ScreenFit f;
  f.deviceWidth = std::max(1, deviceWidth);
  f.deviceHeight = std::max(1, deviceHeight);
  windowWidth = std::max(1, windowWidth);
  windowHeight = std::max(1, windowHeight);
  // Rounded to the nearest pixel along the side that does not fill.
  if (int64_t(windowWidth) * f.deviceHeight <= int64_t(windowHeight) * f.deviceWidth) {
    f.width = windowWidth;
    f.height = int((int64_t(windowWidth) * f.deviceHeight * 2 + f.deviceWidth) /
                   (2 * int64_t(f.deviceWidth)));
  } else {
    f.height = windowHeight;
    f.width = int((int64_t(windowHeight) * f.deviceWidth * 2 + f.deviceHeight) /
                  (2 * int64_t(f.deviceHeight)));
  }
  f.width = std::clamp(f.width, 1, windowWidth);
  f.height = std::clamp(f.height, 1, windowHeight);
  f.x = (windowWidth - f.width) / 2;
  f.y = (windowHeight - f.height) / 2;
  return f;
}

bool windowToDevice(const ScreenFit& fit, int wx, int wy, POINT& device) {
  const int rx = wx - fit.x, ry = wy - fit.y;
  const bool inside = rx >= 0 && ry >= 0 && rx < fit.width && ry < fit.height;
  device.x = std::clamp(deviceAt(std::clamp(rx, 0, fit.width - 1), fit.width, fit.deviceWidth), 0,
                        fit.deviceWidth - 1);
  device.y = std::clamp(deviceAt(std::clamp(ry, 0, fit.height - 1), fit.height, fit.deviceHeight),
                        0, fit.deviceHeight - 1);
  return inside;
}

POINT deviceToWindow(const ScreenFit& fit, int dx, int dy) {
  const int x0 = firstWindowPixel(dx, fit.width, fit.deviceWidth);
  const int x1 = firstWindowPixel(dx + 1, fit.width, fit.deviceWidth);
  const int y0 = firstWindowPixel(dy, fit.height, fit.deviceHeight);
  const int y1 = firstWindowPixel(dy + 1, fit.height, fit.deviceHeight);
  // Where the screen is shown smaller than itself, a device pixel may have
  // no window pixel of its own: the one it falls in.
  const int x = std::min((x0 + std::max(x0, x1 - 1)) / 2, fit.width - 1);
  const int y = std::min((y0 + std::max(y0, y1 - 1)) / 2, fit.height - 1);
  return POINT{fit.x + x, fit.y + y};
}

RECT windowAreaOf(const ScreenFit& fit, const RECT& device, int spread) {
  const int l = std::clamp(int(device.left) - spread, 0, fit.deviceWidth);
  const int t = std::clamp(int(device.top) - spread, 0, fit.deviceHeight);
  const int r = std::clamp(int(device.right) + spread, 0, fit.deviceWidth);
  const int b = std::clamp(int(device.bottom) + spread, 0, fit.deviceHeight);
  return RECT{fit.x + firstWindowPixel(l, fit.width, fit.deviceWidth),
              fit.y + firstWindowPixel(t, fit.height, fit.deviceHeight),
              fit.x + firstWindowPixel(r, fit.width, fit.deviceWidth),
              fit.y + firstWindowPixel(b, fit.height, fit.deviceHeight)};
}

}  // namespace zenta::platform
