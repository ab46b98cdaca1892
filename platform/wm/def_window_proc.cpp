// The default window procedure.
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
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/state.h"

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
