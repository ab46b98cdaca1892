// Device contexts as the window manager hands them out.
#pragma once

#include "platform/windows.h"

namespace zenta::platform {

// A DC on a window's client area (the whole screen for no window),
// optionally limited to `paint` (client coordinates).
HDC openWindowDC(HWND hwnd, const RECT* paint);
// A DC on the whole window, caption and border included.
HDC openWholeWindowDC(HWND hwnd);
void closeWindowDC(HDC hdc);

}  // namespace zenta::platform
