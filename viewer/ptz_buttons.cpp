#include "viewer/ptz_buttons.h"

namespace zenta::viewer {

PtzArea ptzButtonArea(size_t index, int x, int y, int width, int height) {
  const PtzButton& b = ptzButtons[index];
  const auto across = [&](int v) { return x + (v + kPtzPanelLeft) * width / kPtzFrameWidth; };
  const auto down = [&](int v) { return y + v * height / kPtzFrameHeight; };
  return PtzArea{across(b.left), down(b.top), across(b.right), down(b.bottom)};
}

std::optional<int> hitPtz(int x, int y, int px, int py, int width, int height) {
  for (size_t i = 0; i < ptzButtons.size(); ++i) {
    const PtzArea a = ptzButtonArea(i, px, py, width, height);
    if (a.left <= x && x < a.right && a.top <= y && y < a.bottom) return int(i);
  }
  return std::nullopt;
}

}  // namespace zenta::viewer
