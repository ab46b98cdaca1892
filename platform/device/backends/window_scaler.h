// Draws changed device pixels into a desktop window's pixels, scaled to
// where the screen stands in the window: whole multiples as sharp squares,
// other sizes smoothly (bilinear), always only the part that changed.
#pragma once

#include <cstdint>

#include "platform/device/backends/screen_fit.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

// `window` holds 32-bit pixels (0x00RRGGBB, as the screen stores them),
// `pitch` of them a row, at least as large as the window the fit was made
// for. Returns the window rectangle that was drawn (empty for none). The
// caller holds the screen's lock.
RECT scaleToWindow(const Surface& screen, const RECT& changed, const ScreenFit& fit,
                   uint32_t* window, int pitch);

// Fills the bars beside the screen's place (a window of the given size).
void fillBars(const ScreenFit& fit, int windowWidth, int windowHeight, uint32_t* window, int pitch,
              uint32_t colour);

}  // namespace zenta::platform
