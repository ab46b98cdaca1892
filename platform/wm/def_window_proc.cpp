// The default window procedure, and the caption it draws above a
// window's client area.
#include "platform/wm/window_manager.h"

#include <unistd.h>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/base/files.h"
#include "platform/base/text.h"
#include "platform/gdi/dc.h"
#include "platform/gdi/gdi_api.h"
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/state.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

// The non-client part of a window: the caption of a window with one, its
// title on the caption colour, and an OK button for windows that ask for
// it; or the frame of a bordered one.
void paintNonClient(HWND hwnd) {
  const DWORD style = DWORD(GetWindowLongW(hwnd, GWL_STYLE));
  if ((style & WS_CAPTION) != WS_CAPTION) {
    // A bordered window's one-pixel frame, outside its client area: drawn
    // here, or it would show whatever lay there before the window.
    if ((style & WS_BORDER) == 0) return;
    RECT window;
    GetWindowRect(hwnd, &window);
    HDC dc = openWholeWindowDC(hwnd);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    SelectObject(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, 0, 0, window.right - window.left, window.bottom - window.top);
    closeWindowDC(dc);
    return;
  }
  const DWORD exStyle = DWORD(GetWindowLongW(hwnd, GWL_EXSTYLE));
  RECT window;
  GetWindowRect(hwnd, &window);
  HDC dc = openWholeWindowDC(hwnd);
  RECT bar{0, 0, window.right - window.left, kCaptionHeight};
  HBRUSH captionColour = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
  FillRect(dc, &bar, captionColour);
  DeleteObject(captionColour);
  char16_t title[128] = {};
  GetWindowTextW(hwnd, title, 128);
  SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
  SetBkMode(dc, TRANSPARENT);
  RECT text = captionTitleBox(bar.right);
  DrawTextW(dc, title, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (exStyle & WS_EX_CAPTIONOKBTN) {
    RECT ok = captionOkBox(bar.right);
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    SelectObject(dc, GetStockObject(WHITE_PEN));
    Rectangle(dc, ok.left, ok.top, ok.right, ok.bottom);
    DrawTextW(dc, u"ok", 2, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  closeWindowDC(dc);
}

}  // namespace zenta::platform

using namespace zenta::platform;

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto& s = wm();
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_ERASEBKGND: {
      const HBRUSH brush = classBrush(hwnd);
      if (brush == nullptr) return 0;
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd, &paint);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_SETTEXT: {
      {
        std::lock_guard guard(s.lock);
        Window* w = s.find(hwnd);
        if (w == nullptr) return FALSE;
        w->text = textOrEmpty(reinterpret_cast<LPCWSTR>(lParam));
      }
      return TRUE;
    }
    case WM_GETTEXT: {
      std::lock_guard guard(s.lock);
      const Window* w = s.find(hwnd);
      auto* buffer = reinterpret_cast<LPWSTR>(lParam);
      if (w == nullptr || buffer == nullptr || wParam == 0) return 0;
      const size_t n = std::min(w->text.size(), size_t(wParam) - 1);
      std::copy_n(w->text.begin(), n, buffer);
      buffer[n] = 0;
      return LRESULT(n);
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard guard(s.lock);
      const Window* w = s.find(hwnd);
      return w == nullptr ? 0 : LRESULT(w->text.size());
    }
    case WM_SETICON: {
      std::lock_guard guard(s.lock);
      Window* w = s.find(hwnd);
      if (w == nullptr) return 0;
      HICON& slot = wParam == 0 ? w->smallIcon : w->bigIcon;
      return reinterpret_cast<LRESULT>(std::exchange(slot, reinterpret_cast<HICON>(lParam)));
    }
    default:
      return 0;
  }
}
