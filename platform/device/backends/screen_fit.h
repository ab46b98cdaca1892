// Where the device screen stands in a desktop window of any size: as large
// as fits with its shape kept, centred, with bars where the shapes differ;
// and the exact mapping between window and device pixels both ways.
#pragma once

#include <cstdint>

#include "platform/base/types.h"

namespace zenta::platform {

struct ScreenFit {
  int deviceWidth = 0, deviceHeight = 0;
  // The device screen's place in the window, in window pixels.
  int x = 0, y = 0, width = 0, height = 0;
  // Every device pixel a whole square of window pixels (the picture stays
  // sharp); otherwise it is drawn smooth.
  bool wholeMultiple() const {
    return width % deviceWidth == 0 && width / deviceWidth == height / deviceHeight &&
           height % deviceHeight == 0;
  }
};

ScreenFit fitScreen(int windowWidth, int windowHeight, int deviceWidth, int deviceHeight);

// The device pixel under a window pixel; false in the bars beside the
// screen (`device` then holds the nearest device pixel).
bool windowToDevice(const ScreenFit& fit, int wx, int wy, POINT& device);
// The window pixel at the middle of the window pixels that show a device
// pixel; windowToDevice maps it back to that device pixel wherever the
// screen is shown at least at its own size.
POINT deviceToWindow(const ScreenFit& fit, int dx, int dy);
// The window pixels that show a rectangle of device pixels, widened by
// `spread` device pixels each side (what smooth scaling reads from),
// clipped to the screen's place.
RECT windowAreaOf(const ScreenFit& fit, const RECT& device, int spread);

}  // namespace zenta::platform
