#include "viewer/ptz_buttons.h"

namespace zenta::viewer {

std::optional<int> hitPtz(int x, int y, int pictureTop) {
  for (size_t i = 0; i < ptzButtons.size(); ++i) {
    const PtzButton& b = ptzButtons[i];
    if (b.left + kPtzPanelLeft <= x && x < b.right + kPtzPanelLeft && pictureTop + b.top <= y &&
        y < pictureTop + b.bottom) {
      return int(i);
    }
  }
  return std::nullopt;
}

}  // namespace zenta::viewer
