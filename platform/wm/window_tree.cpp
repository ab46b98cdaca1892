// The window tree: the window manager's state, windows made, found,
// destroyed and walked, their slots and their texts.
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
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/state.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

bool windowClipFor(HWND hwnd, bool wholeWindow, POINT& origin, ClipList& clip) {
  return wholeWindow ? windowClip(hwnd, origin, clip) : clientClip(hwnd, origin, clip);
}

}  // namespace

WindowManagerState& wm() {
  static WindowManagerState state;
  // The drawing layer learns from here where windows are, before the first
  // window exists.
  static const bool installed = [] {
    setWindowClipSource(windowClipFor);
    return true;
  }();
  (void)installed;
  return state;
}

Window* WindowManagerState::find(HWND hwnd) const {
  const auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows.end() || it->second->destroyed ? nullptr : it->second.get();
}

HWND handleOf(const Window* w) {
  return w == nullptr ? nullptr : reinterpret_cast<HWND>(w->id);
}

bool windowThread(HWND hwnd, std::thread::id& thread) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return false;
  thread = w->thread;
  return true;
}

HWND findOwnWindow(LPCWSTR className, LPCWSTR windowName) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  for (const Window* w : s.topLevel) {
    if (className != nullptr && !equalFolded(w->cls->name, className)) continue;
    if (windowName != nullptr && w->text != windowName) continue;
    return handleOf(w);
  }
  return nullptr;
}

std::vector<WindowInfo> topLevelWindows() {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  std::vector<WindowInfo> out;
  for (const Window* w : s.topLevel) {
    out.push_back({handleOf(w), w->cls->name, w->text, w->rect, (w->style & WS_VISIBLE) != 0});
  }
  return out;
}

}  // namespace zenta::platform

using namespace zenta::platform;

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  if (className == nullptr) return nullptr;
  auto& s = wm();
  Window* w = nullptr;
  HWND hwnd = nullptr;
  {
    std::lock_guard guard(s.lock);
    const auto it = s.classes.find(foldCase(className));
    if (it == s.classes.end()) return nullptr;
    Window* parentWindow = parent != nullptr ? s.find(parent) : nullptr;
    if (parent != nullptr && parentWindow == nullptr) return nullptr;
    if ((style & WS_CHILD) && parentWindow == nullptr) return nullptr;
    auto owned = std::make_unique<Window>();
    w = owned.get();
    w->id = s.nextHandle += 4;
    w->cls = it->second;
    w->proc = it->second->wc.lpfnWndProc;
    w->style = style;
    w->exStyle = exStyle;
    w->instance = instance;
    w->text = textOrEmpty(windowName);
    w->thread = std::this_thread::get_id();
    w->extra.assign(size_t(std::max(0, it->second->wc.cbWndExtra) + 7) / 8, 0);
    if (style & WS_CHILD) {
      w->parent = parentWindow;
      w->controlId = reinterpret_cast<LONG_PTR>(menu);
    } else {
      w->owner = parentWindow;
    }
    const RECT area = workArea();
    if (x == CW_USEDEFAULT)
      x = (style & WS_CHILD) ? 0 : area.left, y = (style & WS_CHILD) ? 0 : area.top;
    if (width == CW_USEDEFAULT) {
      width = area.right - area.left;
      height = area.bottom - area.top;
    }
    w->rect = RECT{x, y, x + width, y + height};
    if (w->parent != nullptr) {
      w->parent->children.insert(w->parent->children.begin(), w);
    } else {
      const auto front = std::find_if(s.topLevel.begin(), s.topLevel.end(), [&](const Window* t) {
        return !(t->exStyle & WS_EX_TOPMOST) || (exStyle & WS_EX_TOPMOST);
      });
      s.topLevel.insert(front, w);
    }
    hwnd = handleOf(w);
    s.windows[w->id] = std::move(owned);
  }
  CREATESTRUCTW create{param, instance, menu,        parent,     height,    width,
                       y,     x,        LONG(style), windowName, className, exStyle};
  if (SendMessageW(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;
  SendMessageW(hwnd, WM_SIZE, 0, MAKELPARAM(WORD(width), WORD(height)));
  SendMessageW(hwnd, WM_MOVE, 0, MAKELPARAM(WORD(x), WORD(y)));
  if (style & WS_VISIBLE) {
    onWindowsChanged();
    InvalidateRect(hwnd, nullptr, TRUE);
    if (!(style & WS_CHILD) && !(exStyle & WS_EX_NOACTIVATE)) SetForegroundWindow(hwnd);
  }
  return hwnd;
}

namespace {

// The windows to destroy with `w`: its owned windows, then itself, then its
// children, depth first.
void collectDestruction(WindowManagerState& s, Window* w, std::vector<HWND>& order) {
  for (Window* other : s.topLevel) {
    if (other->owner == w && !other->destroying) {
      other->destroying = true;
      collectDestruction(s, other, order);
    }
  }
  order.push_back(handleOf(w));
  for (Window* child : w->children) {
    child->destroying = true;
    collectDestruction(s, child, order);
  }
}

}  // namespace

BOOL DestroyWindow(HWND hwnd) {
  auto& s = wm();
  std::vector<HWND> order;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    w->destroying = true;
    collectDestruction(s, w, order);
  }
  const bool wasVisible = IsWindowVisible(hwnd) != FALSE;
  for (HWND each : order)
    SendMessageW(each, WM_DESTROY, 0, 0);
  {
    std::lock_guard guard(s.lock);
    for (HWND each : order) {
      Window* w = s.find(each);
      if (w == nullptr) continue;
      w->destroyed = true;
      auto& list = s.siblings(w);
      list.erase(std::remove(list.begin(), list.end(), w), list.end());
      if (s.focus == w) s.focus = nullptr;
      if (s.capture == w) s.capture = nullptr;
      if (s.active == w) s.active = nullptr;
      if (s.hover == w) s.hover = nullptr;
    }
    for (HWND each : order)
      s.windows.erase(reinterpret_cast<uintptr_t>(each));
    if (s.active == nullptr) {
      for (Window* t : s.topLevel) {
        if (t->style & WS_VISIBLE) {
          s.active = t;
          break;
        }
      }
    }
  }
  if (wasVisible) {
    onWindowsChanged();
    s.repaintUncovered();
  }
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  return s.find(hwnd) != nullptr ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  for (const Window* w = s.find(hwnd); w != nullptr; w = w->parent) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
    if (w->parent == nullptr) return TRUE;
  }
  return FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  return w != nullptr && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc == nullptr ? 0 : proc(hwnd, message, wParam, lParam);
}

LONG_PTR GetWindowLongW(HWND hwnd, int index) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return 0;
  switch (index) {
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_USERDATA:
      return w->userData;
    case GWL_STYLE:
      return LONG_PTR(w->style);
    case GWL_EXSTYLE:
      return LONG_PTR(w->exStyle);
    case GWL_ID:
      return w->controlId;
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(handleOf(w->parent ? w->parent : w->owner));
    default:
      if (index >= 0 && size_t(index) / sizeof(LONG_PTR) < w->extra.size() &&
          index % int(sizeof(LONG_PTR)) == 0) {
        return w->extra[size_t(index) / sizeof(LONG_PTR)];
      }
      return 0;
  }
}

LONG_PTR SetWindowLongW(HWND hwnd, int index, LONG_PTR value) {
  auto& s = wm();
  LONG_PTR previous = 0;
  bool styleChanged = false;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return 0;
    switch (index) {
      case GWL_WNDPROC:
        previous = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        break;
      case GWL_USERDATA:
        previous = std::exchange(w->userData, value);
        break;
      case GWL_STYLE:
        previous = LONG_PTR(std::exchange(w->style, DWORD(value)));
        styleChanged = true;
        break;
      case GWL_EXSTYLE:
        previous = LONG_PTR(std::exchange(w->exStyle, DWORD(value)));
        break;
      case GWL_ID:
        previous = std::exchange(w->controlId, value);
        break;
      default:
        if (index >= 0 && size_t(index) / sizeof(LONG_PTR) < w->extra.size() &&
            index % int(sizeof(LONG_PTR)) == 0) {
          previous = std::exchange(w->extra[size_t(index) / sizeof(LONG_PTR)], value);
        }
    }
  }
  if (styleChanged) onWindowsChanged();
  return previous;
}

HWND GetWindow(HWND hwnd, UINT relation) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  Window* w = s.find(hwnd);
  if (w == nullptr) return nullptr;
  switch (relation) {
    case GW_OWNER:
      return handleOf(w->owner);
    case GW_CHILD:
      return w->children.empty() ? nullptr : handleOf(w->children.front());
    case GW_HWNDFIRST:
      return handleOf(s.siblings(w).front());
    case GW_HWNDLAST:
      return handleOf(s.siblings(w).back());
    case GW_HWNDNEXT:
    case GW_HWNDPREV: {
      const auto& list = s.siblings(w);
      const auto it = std::find(list.begin(), list.end(), w);
      if (relation == GW_HWNDNEXT) return it + 1 == list.end() ? nullptr : handleOf(*(it + 1));
      return it == list.begin() ? nullptr : handleOf(*(it - 1));
    }
    default:
      return nullptr;
  }
}

HWND GetParent(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return nullptr;
  return handleOf(w->parent != nullptr ? w->parent : w->owner);
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
  return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int size) {
  return int(SendMessageW(hwnd, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND hwnd) {
  return int(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  if (const HWND own = findOwnWindow(className, windowName)) return own;
  // Not ours: perhaps another program's on this device.
  return findPeerWindow(className, windowName);
}
