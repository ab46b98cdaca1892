// The bitmaps behind the channels' canvases: 24-bit, bottom-up DIB sections
// of the device, each selected into a memory DC of its own.
#pragma once

#include <cstdint>

#include "platform/windows.h"

namespace zenta::viewer {

// A width x height canvas; `pixels` gets its bytes.
HBITMAP createCanvas(int width, int height, uint8_t*& pixels);
// A memory DC compatible with the screen, holding `bitmap`.
HDC memoryDC(HBITMAP bitmap);

}  // namespace zenta::viewer
