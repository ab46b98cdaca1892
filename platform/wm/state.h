// The window manager's state: classes, windows and the focus, behind one
// lock. Nothing calls a window procedure or draws while holding it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/metrics.h"
#include "platform/base/types.h"
#include "platform/screen/surface.h"

namespace zenta::platform {

struct WindowClass {
  std::u16string name;
  WNDCLASSW wc{};
  ATOM atom = 0;
};

struct Window {
  uintptr_t id = 0;
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG_PTR userData = 0;
  LONG_PTR controlId = 0;
  HINSTANCE instance = nullptr;
  Window* parent = nullptr;
  Window* owner = nullptr;
  std::vector<Window*> children;  // front first
  RECT rect{};                    // in the parent's client area; the screen's for top-level
  std::u16string text;
  std::thread::id thread;
  bool destroying = false;
  bool destroyed = false;
  // The part of the client area that needs painting (client coordinates).
  bool hasUpdate = false;
  bool erase = false;
  RECT update{};
  HICON smallIcon = nullptr;
  HICON bigIcon = nullptr;
  std::vector<LONG_PTR> extra;  // the class's window bytes
};

struct WindowManagerState {
  std::mutex lock;
  std::map<std::u16string, std::shared_ptr<WindowClass>> classes;  // by lower-case name
  std::map<uintptr_t, std::unique_ptr<Window>> windows;
  std::vector<Window*> topLevel;  // front first
  Window* focus = nullptr;
  Window* capture = nullptr;
  Window* active = nullptr;
  Window* hover = nullptr;  // the window a hovering mouse is over
  uintptr_t nextHandle = 0x10000;
  ATOM nextAtom = 0xC000;

  Window* find(HWND hwnd) const;
  RECT screenRect(const Window* w) const;
  POINT clientOrigin(const Window* w) const;
  RECT clientScreenRect(const Window* w) const;
  std::vector<Window*>& siblings(const Window* w);
  // Visible parts of the window (or its client area) on the screen.
  ClipList visibleRects(const Window* w, bool clientOnly) const;
  // Invalidates every visible window; called without the lock.
  void repaintUncovered();
};

WindowManagerState& wm();
HWND handleOf(const Window* w);

}  // namespace zenta::platform
