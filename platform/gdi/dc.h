// Device contexts as the window manager hands them out.
#pragma once

#include "platform/base/types.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

// A DC on a window's client area (the whole screen for no window),
// optionally limited to `paint` (client coordinates).
HDC openWindowDC(HWND hwnd, const RECT* paint);
// A DC on the whole window, caption and border included.
HDC openWholeWindowDC(HWND hwnd);
void closeWindowDC(HDC hdc);

// Where a window is on the screen and what of it is visible (screen
// coordinates): the whole window with `wholeWindow`, else its client area.
// False for a window that does not exist. The window manager, the layer
// above, installs it before it makes its first window; drawing on a window
// asks it at every call, so that a window that moved or was covered is
// drawn where it is now.
using WindowClipSource = bool (*)(HWND hwnd, bool wholeWindow, POINT& origin, ClipList& clip);
void setWindowClipSource(WindowClipSource source);

}  // namespace zenta::platform
