// Stylus and keyboard input: delivered as posted messages to the window
// under the stylus (or holding the capture) and to the focus.
#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

#include "platform/gdi/dc.h"
#include "platform/gdi/gdi_api.h"
#include "platform/screen/screen.h"
#include "platform/wm/state.h"
#include "platform/wm/window_manager.h"
#include "platform/wm/wm_api.h"

namespace zenta::platform {

namespace {

// The window under a screen point: top-level windows front first, then the
// deepest visible child.
Window* windowAt(WindowManagerState& s, POINT p) {
  for (Window* w : s.topLevel) {
    if (!(w->style & WS_VISIBLE)) continue;
    const RECT r = s.screenRect(w);
    if (p.x < r.left || p.x >= r.right || p.y < r.top || p.y >= r.bottom) continue;
    Window* hit = w;
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (Window* child : hit->children) {
        if (!(child->style & WS_VISIBLE)) continue;
        const RECT c = s.screenRect(child);
        if (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom) {
          hit = child;
          deeper = true;
          break;
        }
      }
    }
    return hit;
  }
  return nullptr;
}

bool disabledOrUnder(const Window* w) {
  for (; w != nullptr; w = w->parent) {
    if (w->style & WS_DISABLED) return true;
  }
  return false;
}

// A mouse message for `w` at screen point (x, y), in its client coordinates.
MSG stylusMessage(WindowManagerState& s, Window* w, UINT message, WPARAM keys, int x, int y) {
  const POINT origin = s.clientOrigin(w);
  return MSG{handleOf(w),   message,
             keys,          MAKELPARAM(WORD(int16_t(x - origin.x)), WORD(int16_t(y - origin.y))),
             messageTime(), {x, y}};
}

void injectHover(int x, int y) {
  auto& s = wm();
  MSG move{}, leave{};
  std::thread::id moveThread, leaveThread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.capture != nullptr ? s.capture : windowAt(s, POINT{x, y});
    if (w != nullptr && s.capture == nullptr && disabledOrUnder(w)) w = nullptr;
    if (s.hover != nullptr && s.hover != w) {
      leave = MSG{handleOf(s.hover), WM_MOUSELEAVE, 0, 0, messageTime(), {x, y}};
      leaveThread = s.hover->thread;
    }
    s.hover = w;
    if (w != nullptr) {
      move = stylusMessage(s, w, WM_MOUSEMOVE, 0, x, y);
      moveThread = w->thread;
    }
  }
  if (leave.hwnd != nullptr) postToThread(leaveThread, leave);
  if (move.hwnd != nullptr) postToThread(moveThread, move);
}

}  // namespace

void injectStylus(StylusAction action, int x, int y) {
  if (action == StylusAction::Hover) {
    injectHover(x, y);
    return;
  }
  auto& s = wm();
  HWND topLevel = nullptr;
  MSG msg{};
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.capture != nullptr ? s.capture : windowAt(s, POINT{x, y});
    if (w == nullptr || (s.capture == nullptr && disabledOrUnder(w))) return;
    const bool doubleClick = action == StylusAction::DoubleDown && w->cls != nullptr &&
                             (w->cls->wc.style & CS_DBLCLKS) != 0;
    if (action == StylusAction::DoubleDown) action = StylusAction::Down;
    const UINT message = doubleClick                    ? WM_LBUTTONDBLCLK
                         : action == StylusAction::Down ? WM_LBUTTONDOWN
                         : action == StylusAction::Up   ? WM_LBUTTONUP
                                                        : WM_MOUSEMOVE;
    const WPARAM keys = action == StylusAction::Up ? 0 : MK_LBUTTON;
    msg = stylusMessage(s, w, message, keys, x, y);
    thread = w->thread;
    Window* top = w;
    while (top->parent != nullptr)
      top = top->parent;
    // The shell's bars take taps without becoming the active window.
    topLevel = (top->exStyle & WS_EX_NOACTIVATE) ? nullptr : handleOf(top);
  }
  if (action == StylusAction::Down && topLevel != nullptr && topLevel != GetActiveWindow()) {
    SetForegroundWindow(topLevel);
  }
  postToThread(thread, msg);
}

namespace {

// Keys and characters go to the focus, or to the active window without one.
void postToKeyboardWindow(UINT message, WPARAM wParam, LPARAM lParam) {
  auto& s = wm();
  MSG msg{};
  std::thread::id thread;
  {
    std::lock_guard guard(s.lock);
    Window* w = s.focus != nullptr ? s.focus : s.active;
    if (w == nullptr) return;
    msg = MSG{handleOf(w), message, wParam, lParam, messageTime(), {0, 0}};
    thread = w->thread;
  }
  postToThread(thread, msg);
}

}  // namespace

namespace {

std::array<std::atomic<bool>, 256> keysDown{};

}  // namespace

bool keyDown(int virtualKey) {
  return virtualKey >= 0 && virtualKey < int(keysDown.size()) &&
         keysDown[size_t(virtualKey)].load(std::memory_order_relaxed);
}

void injectWheel(int notches) {
  if (notches == 0) return;
  const auto delta = WORD(int16_t(std::clamp(notches, -200, 200) * WHEEL_DELTA));
  postToKeyboardWindow(WM_MOUSEWHEEL, WPARAM(delta) << 16, 0);
}

void keyMessageTaken(const MSG& msg) {
  if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam < keysDown.size())
    keysDown[msg.wParam].store(msg.message == WM_KEYDOWN, std::memory_order_relaxed);
}

void injectKey(UINT virtualKey, bool down) {
  postToKeyboardWindow(down ? WM_KEYDOWN : WM_KEYUP, virtualKey, down ? 1 : LPARAM(0xC0000001));
}

void injectChar(char16_t character) {
  postToKeyboardWindow(WM_CHAR, WPARAM(character), 1);
}

}  // namespace zenta::platform

SHORT GetKeyState(int virtualKey) {
  return zenta::platform::keyDown(virtualKey) ? SHORT(-0x8000) : SHORT(0);
}
