// The task bar across the top of the screen (the foreground window's
// title), and full-screen switching, which hides and shows the bars.
#include <mutex>

#include "platform/gdi/gdi_api.h"
#include "platform/screen/screen.h"
#include "platform/shell/bars.h"
#include "platform/shell/shell.h"
#include "platform/shell/shell_api.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

constexpr char16_t kTaskBarClass[] = u"HHTaskBar";

LRESULT taskBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(hwnd, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  int left = 6;
  if (shellBars().startIcon) {
    // The start flag is art of its own, not a screen element's colour.
    HBRUSH flag = CreateSolidBrush(RGB(0, 120, 215));
    RECT mark{6, 5, 22, 21};
    FillRect(dc, &mark, flag);
    DeleteObject(flag);
    left = 28;
  }
  char16_t title[64] = {};
  const HWND front = GetForegroundWindow();
  if (front != nullptr && front != hwnd) GetWindowTextW(front, title, 64);
  RECT text{left, 0, client.right - 4, client.bottom};
  SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  EndPaint(hwnd, &paint);
  return 0;
}

}  // namespace

void registerTaskBarClass() {
  registerSystemClass(kTaskBarClass, taskBarProc, 0);
}

void createTaskBar() {
  registerTaskBarClass();
  // The window manager tells the bar when the foreground window changes.
  setForegroundChangedHook(refreshTaskBar);
  const Surface& s = screen();
  CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kTaskBarClass, u"",
                  WS_POPUP | (shellBars().taskBar ? WS_VISIBLE : 0), 0, 0, s.width(),
                  kTaskBarHeight, nullptr, nullptr, nullptr, nullptr);
}

void refreshTaskBar() {
  const HWND bar = FindWindowW(kTaskBarClass, nullptr);
  if (bar == nullptr) return;
  const bool shown = shellBars().taskBar;
  if ((IsWindowVisible(bar) != FALSE) != shown) ShowWindow(bar, shown ? SW_SHOW : SW_HIDE);
  InvalidateRect(bar, nullptr, TRUE);
}

}  // namespace zenta::platform

using namespace zenta::platform;

BOOL SHFullScreen(HWND hwnd, DWORD state) {
  if (!IsWindow(hwnd)) return FALSE;
  ShellBars bars = shellBars();
  if (state & SHFS_HIDETASKBAR) bars.taskBar = false;
  if (state & SHFS_SHOWTASKBAR) bars.taskBar = true;
  if (state & SHFS_HIDESIPBUTTON) bars.sipButton = false;
  if (state & SHFS_SHOWSIPBUTTON) bars.sipButton = true;
  if (state & SHFS_HIDESTARTICON) bars.startIcon = false;
  if (state & SHFS_SHOWSTARTICON) bars.startIcon = true;
  setShellBars(bars);
  refreshTaskBar();
  return TRUE;
}
