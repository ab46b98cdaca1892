// The paint cycle: invalid areas, WM_PAINT with its DC, and window DCs.
#include <algorithm>
#include <mutex>

#include "platform/gdi/dc.h"
#include "platform/gdi/gdi_api.h"
#include "platform/screen/screen.h"
#include "platform/wm/state.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

using namespace zenta::platform;

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  auto& s = wm();
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    const RECT c = s.clientScreenRect(w);
    const RECT client{0, 0, c.right - c.left, c.bottom - c.top};
    const RECT area = rect == nullptr ? client : intersect(*rect, client);
    if (empty(area)) return TRUE;
    if (w->hasUpdate) {
      w->update =
          RECT{std::min(w->update.left, area.left), std::min(w->update.top, area.top),
               std::max(w->update.right, area.right), std::max(w->update.bottom, area.bottom)};
    } else {
      w->update = area;
      w->hasUpdate = true;
    }
    w->erase = w->erase || erase != FALSE;
    thread = w->thread;
  }
  wakeThread(thread);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  Window* w = s.find(hwnd);
  if (w == nullptr) return FALSE;
  // Validating part of the bounding box keeps the rest to paint.
  if (rect == nullptr || (rect->left <= w->update.left && rect->top <= w->update.top &&
                          rect->right >= w->update.right && rect->bottom >= w->update.bottom)) {
    w->hasUpdate = false;
    w->erase = false;
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return FALSE;
  if (rect != nullptr) *rect = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
  return w->hasUpdate ? TRUE : FALSE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
  if (paint == nullptr) return nullptr;
  paintNonClient(hwnd);
  auto& s = wm();
  RECT area{};
  bool erase = false;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return nullptr;
    area = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
    erase = w->erase;
    w->hasUpdate = false;
    w->erase = false;
  }
  *paint = PAINTSTRUCT{};
  paint->rcPaint = area;
  paint->hdc = openWindowDC(hwnd, &area);
  // Set only when an erase was asked for and the window did not do it.
  paint->fErase = FALSE;
  if (erase && paint->hdc != nullptr) {
    paint->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) != 0
                        ? FALSE
                        : TRUE;
  }
  return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  if (paint != nullptr && paint->hdc != nullptr) closeWindowDC(paint->hdc);
  return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
  if (GetUpdateRect(hwnd, nullptr, FALSE)) SendMessageW(hwnd, WM_PAINT, 0, 0);
  return IsWindow(hwnd);
}

HDC GetDC(HWND hwnd) {
  return openWindowDC(hwnd, nullptr);
}

int ReleaseDC(HWND, HDC hdc) {
  closeWindowDC(hdc);
  return 1;
}
