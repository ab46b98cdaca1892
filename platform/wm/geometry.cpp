// Where windows are: their rectangles, the non-client insets, showing,
// moving and stacking them, point mapping and the work area.
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
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

// Non-client insets of a window: a caption bar, or a one-pixel border.
RECT insets(DWORD style) {
  if ((style & WS_CAPTION) == WS_CAPTION) return RECT{0, kCaptionHeight, 0, 0};
  if (style & WS_BORDER) return RECT{1, 1, 1, 1};
  return RECT{0, 0, 0, 0};
}

}  // namespace

RECT WindowManagerState::screenRect(const Window* w) const {
  RECT r = w->rect;
  if (w->parent != nullptr) {
    const POINT origin = clientOrigin(w->parent);
    r.left += origin.x;
    r.right += origin.x;
    r.top += origin.y;
    r.bottom += origin.y;
  }
  return r;
}

POINT WindowManagerState::clientOrigin(const Window* w) const {
  const RECT r = screenRect(w);
  const RECT in = insets(w->style);
  return POINT{r.left + in.left, r.top + in.top};
}

RECT WindowManagerState::clientScreenRect(const Window* w) const {
  const RECT r = screenRect(w);
  const RECT in = insets(w->style);
  return RECT{r.left + in.left, r.top + in.top, std::max(r.left + in.left, r.right - in.right),
              std::max(r.top + in.top, r.bottom - in.bottom)};
}

std::vector<Window*>& WindowManagerState::siblings(const Window* w) {
  return w->parent != nullptr ? w->parent->children : topLevel;
}

void zenta::platform::WindowManagerState::repaintUncovered() {
  // Whatever lay under a window that went away or moved is drawn again.
  std::vector<HWND> all;
  {
    std::lock_guard guard(lock);
    for (const auto& [id, w] : windows) {
      if (!w->destroyed && (w->style & WS_VISIBLE)) all.push_back(handleOf(w.get()));
    }
  }
  for (HWND h : all)
    InvalidateRect(h, nullptr, TRUE);
}

}  // namespace zenta::platform

using namespace zenta::platform;

BOOL ShowWindow(HWND hwnd, int command) {
  auto& s = wm();
  bool wasVisible = false, show = command != SW_HIDE;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    wasVisible = (w->style & WS_VISIBLE) != 0;
    if (wasVisible == show) return wasVisible ? TRUE : FALSE;
  }
  SendMessageW(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    if (show) {
      w->style |= WS_VISIBLE;
    } else {
      w->style &= ~WS_VISIBLE;
    }
  }
  onWindowsChanged();
  if (show) {
    InvalidateRect(hwnd, nullptr, TRUE);
  } else {
    s.repaintUncovered();
  }
  return wasVisible ? TRUE : FALSE;
}

BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int width, int height, UINT flags) {
  auto& s = wm();
  bool moved = false, sized = false;
  RECT now{};
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      moved = r.left != x || r.top != y;
      r = RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
    }
    if (!(flags & SWP_NOSIZE)) {
      sized = r.right - r.left != width || r.bottom - r.top != height;
      r.right = r.left + width;
      r.bottom = r.top + height;
    }
    w->rect = r;
    now = r;
    if (!(flags & SWP_NOZORDER)) {
      auto& list = s.siblings(w);
      list.erase(std::remove(list.begin(), list.end(), w), list.end());
      if (after == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
      if (after == HWND_NOTOPMOST) w->exStyle &= ~WS_EX_TOPMOST;
      Window* behind = (after == HWND_TOPMOST || after == HWND_NOTOPMOST) ? nullptr : s.find(after);
      auto at = list.begin();
      if (behind != nullptr) {
        at = std::find(list.begin(), list.end(), behind);
        if (at != list.end()) ++at;
      } else if (w->parent == nullptr && !(w->exStyle & WS_EX_TOPMOST)) {
        at = std::find_if(list.begin(), list.end(),
                          [](const Window* t) { return !(t->exStyle & WS_EX_TOPMOST); });
      }
      list.insert(at, w);
    }
    if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW) w->style &= ~WS_VISIBLE;
  }
  if (sized)
    SendMessageW(hwnd, WM_SIZE, 0,
                 MAKELPARAM(WORD(now.right - now.left), WORD(now.bottom - now.top)));
  if (moved) SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(WORD(now.left), WORD(now.top)));
  onWindowsChanged();
  s.repaintUncovered();
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr || rect == nullptr) return FALSE;
  *rect = s.screenRect(w);
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr || rect == nullptr) return FALSE;
  const RECT c = s.clientScreenRect(w);
  *rect = RECT{0, 0, c.right - c.left, c.bottom - c.top};
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  POINT a{0, 0}, b{0, 0};
  if (from != nullptr) {
    const Window* w = s.find(from);
    if (w == nullptr) return 0;
    a = s.clientOrigin(w);
  }
  if (to != nullptr) {
    const Window* w = s.find(to);
    if (w == nullptr) return 0;
    b = s.clientOrigin(w);
  }
  const LONG dx = a.x - b.x, dy = a.y - b.y;
  for (UINT i = 0; points != nullptr && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  return int(WORD(dx)) | int(WORD(dy)) << 16;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
  return point != nullptr && IsWindow(hwnd) && (MapWindowPoints(hwnd, nullptr, point, 1), true);
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
  return point != nullptr && IsWindow(hwnd) && (MapWindowPoints(nullptr, hwnd, point, 1), true);
}

BOOL SystemParametersInfoW(UINT action, UINT, LPVOID data, UINT) {
  if (action != SPI_GETWORKAREA || data == nullptr) return FALSE;
  *static_cast<RECT*>(data) = workArea();
  return TRUE;
}
