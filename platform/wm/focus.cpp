// Keyboard focus, stylus capture, enabling, and the active and foreground
// windows.
#include "platform/wm/window_manager.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
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
std::atomic<void (*)()> foregroundChangedHook{nullptr};
}  // namespace

void setForegroundChangedHook(void (*hook)()) {
  foregroundChangedHook = hook;
}

}  // namespace zenta::platform

using namespace zenta::platform;

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
    if (const auto hook = foregroundChangedHook.load()) hook();
  }
  return TRUE;
}
