// Window classes, the window tree, z-order, geometry and the default
// window procedure.
#include "platform/wm/window_manager.h"
#include "platform/base/text.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/controls/controls.h"
#include "platform/base/files.h"
#include "platform/screen/screen.h"
#include "platform/wm/peers.h"
#include "platform/wm/state.h"

namespace zenta::platform {

WindowManagerState& wm() {
  static WindowManagerState state;
  return state;
}

namespace {

std::u16string textOf(LPCWSTR text) {
  return text == nullptr ? std::u16string() : std::u16string(text);
}

// Non-client insets of a window: a caption bar, or a one-pixel border.
RECT insets(DWORD style) {
  if ((style & WS_CAPTION) == WS_CAPTION) return RECT{0, kCaptionHeight, 0, 0};
  if (style & WS_BORDER) return RECT{1, 1, 1, 1};
  return RECT{0, 0, 0, 0};
}

}  // namespace

Window* WindowManagerState::find(HWND hwnd) const {
  const auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows.end() || it->second->destroyed ? nullptr : it->second.get();
}

HWND handleOf(const Window* w) {
  return w == nullptr ? nullptr : reinterpret_cast<HWND>(w->id);
}

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

namespace {

// Removes `cut` from every rectangle of the list.
void subtract(ClipList& list, const RECT& cut) {
  if (empty(cut)) return;
  ClipList out;
  for (const RECT& r : list) {
    const RECT i = intersect(r, cut);
    if (empty(i)) {
      out.push_back(r);
      continue;
    }
    if (r.top < i.top) out.push_back(RECT{r.left, r.top, r.right, i.top});
    if (i.bottom < r.bottom) out.push_back(RECT{r.left, i.bottom, r.right, r.bottom});
    if (r.left < i.left) out.push_back(RECT{r.left, i.top, i.left, i.bottom});
    if (i.right < r.right) out.push_back(RECT{i.right, i.top, r.right, i.bottom});
  }
  list = std::move(out);
}

}  // namespace

ClipList WindowManagerState::visibleRects(const Window* w, bool clientOnly) const {
  for (const Window* a = w; a != nullptr; a = a->parent) {
    if (!(a->style & WS_VISIBLE)) return {};
  }
  RECT area = clientOnly ? clientScreenRect(w) : screenRect(w);
  for (const Window* a = w->parent; a != nullptr; a = a->parent)
    area = intersect(area, clientScreenRect(a));
  const Surface& s = screen();
  area = intersect(area, RECT{0, 0, s.width(), s.height()});
  ClipList clip{area};
  if (empty(area)) return {};
  // Windows in front: earlier siblings at every level up to the top.
  for (const Window* level = w; level != nullptr; level = level->parent) {
    const auto& list = level->parent != nullptr ? level->parent->children : topLevel;
    for (const Window* sibling : list) {
      if (sibling == level) break;
      if (sibling->style & WS_VISIBLE) subtract(clip, screenRect(sibling));
    }
  }
  // Children cover their parent's client area.
  for (const Window* child : w->children) {
    if (child->style & WS_VISIBLE) subtract(clip, screenRect(child));
  }
  return clip;
}

bool clientClip(HWND hwnd, POINT& origin, ClipList& clip) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return false;
  origin = s.clientOrigin(w);
  clip = s.visibleRects(w, true);
  return true;
}

bool windowClip(HWND hwnd, POINT& origin, ClipList& clip) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  if (w == nullptr) return false;
  const RECT r = s.screenRect(w);
  origin = POINT{r.left, r.top};
  clip = s.visibleRects(w, false);
  return true;
}

HBRUSH classBrush(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const Window* w = s.find(hwnd);
  return w == nullptr ? nullptr : w->cls->wc.hbrBackground;
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
    if (className != nullptr && foldCase(w->cls->name) != foldCase(className)) continue;
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

// The device calls.
using namespace zenta::platform;

ATOM RegisterClassW(const WNDCLASSW* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) return 0;
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const std::u16string key = foldCase(wc->lpszClassName);
  if (s.classes.count(key) != 0) return 0;
  auto cls = std::make_shared<WindowClass>();
  cls->name = wc->lpszClassName;
  cls->wc = *wc;
  cls->wc.lpszClassName = cls->name.c_str();
  cls->wc.lpszMenuName = nullptr;
  cls->atom = ++s.nextAtom;
  s.classes[key] = cls;
  return cls->atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
  if (className == nullptr) return FALSE;
  auto& s = wm();
  std::lock_guard guard(s.lock);
  return s.classes.erase(foldCase(className)) != 0 ? TRUE : FALSE;
}

BOOL GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* wc) {
  if (className == nullptr || wc == nullptr) return FALSE;
  registerSystemClasses();
  auto& s = wm();
  std::lock_guard guard(s.lock);
  const auto it = s.classes.find(foldCase(className));
  if (it == s.classes.end()) return FALSE;
  *wc = it->second->wc;
  return TRUE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  if (className == nullptr) return nullptr;
  registerSystemClasses();
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
    w->text = textOf(windowName);
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

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  auto& s = wm();
  bool wasDisabled = false;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    if (w == nullptr) return FALSE;
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled ? TRUE : FALSE;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
      if (s.focus == w) s.focus = nullptr;
      if (s.capture == w) s.capture = nullptr;
    }
  }
  SendMessageW(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled ? TRUE : FALSE;
}

HWND SetFocus(HWND hwnd) {
  auto& s = wm();
  HWND previous = nullptr;
  {
    std::lock_guard guard(s.lock);
    Window* w = hwnd != nullptr ? s.find(hwnd) : nullptr;
    if (hwnd != nullptr && (w == nullptr || (w->style & WS_DISABLED))) return nullptr;
    previous = handleOf(s.focus);
    if (s.focus == w) return previous;
    s.focus = w;
  }
  if (previous != nullptr) SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd != nullptr) SendMessageW(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  return previous;
}

HWND GetFocus() {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  return handleOf(s.focus);
}

HWND SetCapture(HWND hwnd) {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  HWND previous = handleOf(s.capture);
  s.capture = s.find(hwnd);
  return previous;
}

BOOL ReleaseCapture() {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  s.capture = nullptr;
  return TRUE;
}

HWND GetCapture() {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  return handleOf(s.capture);
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

HWND GetActiveWindow() {
  auto& s = wm();
  std::lock_guard guard(s.lock);
  return handleOf(s.active);
}

HWND GetForegroundWindow() {
  return GetActiveWindow();
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (isPeerWindow(hwnd)) return foregroundPeerWindow(hwnd) ? TRUE : FALSE;
  auto& s = wm();
  HWND previous = nullptr;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.find(hwnd);
    while (w != nullptr && w->parent != nullptr)
      w = w->parent;
    if (w == nullptr) return FALSE;
    previous = handleOf(s.active);
    s.active = w;
    hwnd = handleOf(w);
    auto& list = s.topLevel;
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
    const auto at = (w->exStyle & WS_EX_TOPMOST)
                        ? list.begin()
                        : std::find_if(list.begin(), list.end(), [](const Window* t) {
                            return !(t->exStyle & WS_EX_TOPMOST);
                          });
    list.insert(at, w);
  }
  onWindowsChanged();
  if (previous != hwnd) {
    if (previous != nullptr) PostMessageW(previous, WM_ACTIVATE, 0, reinterpret_cast<LPARAM>(hwnd));
    PostMessageW(hwnd, WM_ACTIVATE, 1, reinterpret_cast<LPARAM>(previous));
    InvalidateRect(hwnd, nullptr, TRUE);
    refreshTaskBar();
  }
  return TRUE;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  if (const HWND own = findOwnWindow(className, windowName)) return own;
  // Not ours: perhaps another program's on this device.
  return findPeerWindow(className, windowName);
}

BOOL SystemParametersInfoW(UINT action, UINT, LPVOID data, UINT) {
  if (action != SPI_GETWORKAREA || data == nullptr) return FALSE;
  *static_cast<RECT*>(data) = workArea();
  return TRUE;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  return name == nullptr ? reinterpret_cast<HMODULE>(uintptr_t{0x10000}) : nullptr;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::u16string path = programDevicePath();
  const DWORD count = std::min<DWORD>(DWORD(path.size()), size - 1);
  std::copy_n(path.begin(), count, buffer);
  buffer[count] = 0;
  return count;
}

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
        w->text = textOf(reinterpret_cast<LPCWSTR>(lParam));
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
